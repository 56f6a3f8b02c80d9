// Shared fixture of the FTP client tests: a client wired to recorders of its
// trace, usage errors and request ends, and a watchdog pump.
#pragma once

#include "EventLoopWait.h"
#include "FtpCli.h"
#include "Messages.h"
#include "ScriptedFtpServer.h"
#include "ScriptedTcpServer.h"
#include "TempDirScope.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

inline std::string Bytes(size_t n, unsigned seed = 7) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char((i * 131 + seed * (i >> 8)) & 0xFF);
    return s;
}

struct FtpClientRecorder {
    TFtpClient Client;
    std::vector<std::string> Trace;
    std::vector<std::string> Errors;
    std::vector<std::pair<TFtpRequest, uint16_t>> Done;

    FtpClientRecorder() {
        Client.OnDisplay = [this](TCustomFtpCli*, std::string& m) { Trace.push_back(m); };
        Client.OnError = [this](TCustomFtpCli*, std::string& m) { Errors.push_back(m); };
        Client.OnRequestDone = [this](TCustomFtpCli*, TFtpRequest r, uint16_t e) {
            Done.emplace_back(r, e);
        };
        Client.SetHostName("127.0.0.1");
        Client.SetUserName("tester");
        Client.SetPassWord("secret");
        // Stalls in these tests end in a fraction of a second.
        Client.SetTimeoutMs(2000);
    }
    void Target(const ScriptedFtpServer& server) { Client.SetPort(server.PortText()); }
    int TraceCount(const std::string& line) const {
        int n = 0;
        for (const auto& t : Trace) n += t == line;
        return n;
    }
    bool TraceHas(const std::string& prefix) const {
        for (const auto& t : Trace)
            if (t.rfind(prefix, 0) == 0) return true;
        return false;
    }
};

// Login commands the client sends for the recorder's settings.
inline const std::vector<std::string> LoginCommands = {"USER tester", "PASS secret"};

inline std::vector<std::string> Join(std::vector<std::string> a,
                                     const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline std::string WriteFile(const TempDirScope& dir, const std::string& name,
                             const std::string& bytes) {
    const std::string path = dir.File(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}
