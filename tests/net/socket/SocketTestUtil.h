// Helpers of the socket tests: a watchdog pump and a recorder of events.
#pragma once

#include "EventLoopWait.h"
#include "Messages.h"
#include "WSocket.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// Descriptors the process holds open now.
inline int OpenDescriptorCount() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// Records the events of one socket as short texts, in order.
struct EventLog {
    std::vector<std::string> events;

    void Attach(TWSocket& s, bool withData = true) {
        s.OnChangeState = [this](TCustomWSocket*, TSocketState o, TSocketState n) {
            events.push_back(std::string("state ") + SocketStateName(o) + ">" + SocketStateName(n));
        };
        s.OnSessionConnected = [this](TCustomWSocket*, uint16_t e) { Add("connected", e); };
        s.OnSessionClosed = [this](TCustomWSocket*, uint16_t e) { Add("closed", e); };
        s.OnDataSent = [this](TCustomWSocket*, uint16_t e) { Add("sent", e); };
        s.OnSendData = [this](TCustomWSocket*, int n) { Add("senddata", n); };
        if (withData) s.OnDataAvailable = [this](TCustomWSocket*, uint16_t e) { Add("data", e); };
    }
    void Add(const char* what, int value) {
        events.push_back(what + (" " + std::to_string(value)));
    }
    int Count(const std::string& e) const {
        int n = 0;
        for (const auto& x : events) n += x == e;
        return n;
    }
    bool Has(const std::string& e) const { return Count(e) > 0; }
    int IndexOf(const std::string& e) const {
        for (size_t i = 0; i < events.size(); ++i)
            if (events[i] == e) return int(i);
        return -1;
    }
};

// Text of the exception f raises; empty when it raises none.
inline std::string RaisedText(const std::function<void()>& f) {
    try {
        f();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return {};
}
