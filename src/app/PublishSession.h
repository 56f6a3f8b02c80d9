// What one publish shows while it runs and keeps for its failure messages: a
// progress window with Cancel, and what the server said, for the details of
// each failure box.
#pragma once

#include "Dialogs.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TPublishSession {
public:
    // password is masked wherever it would appear in the trace.
    explicit TPublishSession(std::string password = {});
    ~TPublishSession();
    TPublishSession(const TPublishSession&) = delete;
    TPublishSession& operator=(const TPublishSession&) = delete;

    void Step(const std::string& step);
    void Bytes(uint64_t sent, uint64_t total);

    // Once the user has cancelled, the flow stops and shows nothing but
    // "Publishing cancelled." at its end.
    bool Cancelled() const { return cancelled_; }
    // Fired once, when the user cancels: the owner stops the transfer.
    std::function<void()> OnCancel;

    // One line of the FTP client's trace.
    void AddTrace(const std::string& line);
    const std::string& Trace() const { return trace_; }

    // Shows text with the trace as its details; nothing once cancelled.
    // The progress window closes at the first failure: what follows is
    // only the tidying up.
    void Fail(const std::string& text);
    void Fail(const std::string& text, const std::string& details);
    // Closes the progress window; after a cancel says so, once, with
    // details when there are any.
    void Finish(const std::string& details = {});

private:
    void FireCancel();

    std::string password_;
    std::unique_ptr<platform::Progress> progress_;
    std::string trace_;
    bool cancelled_ = false;
    bool finished_ = false;
};

// The line with the password of a "> PASS" command, and any other copy of
// password, replaced by asterisks.
std::string MaskPassword(const std::string& line, const std::string& password);
