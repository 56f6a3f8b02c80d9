// The standard dialogs: message box, input query, input box and the Yes/No
// confirmation. The program talks to them through one interface; the default
// implementation shows Qt dialogs, tests install a scripted one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// A window with a Cancel button that follows a long operation. It stays open
// while its owner holds it; it does not block.
class Cancellable {
public:
    virtual ~Cancellable() = default;
    // The user pressed Cancel (at most once per window).
    std::function<void()> OnCancel;

protected:
    void FireCancel();

private:
    bool cancelFired_ = false;
};

// Follows a transfer: its step in words, the bytes sent of the total with
// the rate.
class Progress : public Cancellable {
public:
    // "Connecting", "Logging in", "Uploading", ...
    virtual void SetStep(const std::string& step) = 0;
    // Bytes sent so far of total; the rate is worked out from the time since
    // the first call.
    virtual void SetBytes(uint64_t sent, uint64_t total) = 0;
};

// Follows a check of several steps, one line per step or finding.
class Log : public Cancellable {
public:
    virtual void Add(const std::string& line) = 0;
    // The operation is over: Cancel becomes Close, and this returns once
    // the user has read the log and closed the window.
    virtual void Finish() = 0;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // The text with one OK button, modal, captioned with the application title.
    virtual void MessageBox(const std::string& text) = 0;
    // One edit field pre-filled with value (all selected, at most 255
    // characters), OK and Cancel. On OK stores the text in value and returns true.
    virtual bool InputQuery(const std::string& caption, const std::string& prompt,
                            std::string& value) = 0;
    // The input query used to show a text for copying; the answer is ignored.
    virtual void InputBox(const std::string& caption, const std::string& prompt,
                          const std::string& text) = 0;
    // "Confirm" with Yes and No; true for Yes.
    virtual bool Confirm(const std::string& text) = 0;
    // An input query whose text is not shown (a passphrase): true on OK with
    // the text in value. Where nobody can answer (the console), false.
    virtual bool SecretQuery(const std::string& caption, const std::string& prompt,
                             std::string& value) {
        (void)caption, (void)prompt, (void)value;
        return false;
    }
    // A message box whose details part ("Show Details...") holds details,
    // for what a server said behind a failure; empty details show none.
    virtual void MessageBoxWithDetails(const std::string& text, const std::string& details) = 0;
    // Opens a progress window captioned caption; it closes when released.
    virtual std::unique_ptr<Progress> ShowProgress(const std::string& caption) = 0;
    // Opens a log window captioned caption, modal over the active window.
    virtual std::unique_ptr<Log> ShowLog(const std::string& caption) = 0;
};

Dialogs& dialogs();
// Replaces the dialogs (tests); nullptr restores the Qt dialogs.
void installDialogs(std::unique_ptr<Dialogs> replacement);

// The program file's name up to its first dot, every character after the
// first in lower case: the caption of every message box.
std::string ApplicationTitle();
std::string TitleFromFileName(const std::string& fileName);

} // namespace platform
