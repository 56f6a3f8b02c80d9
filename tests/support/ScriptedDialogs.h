// A Dialogs double for tests: records every dialog it is asked to show and
// answers queries and confirmations from a script.
#pragma once

#include "Dialogs.h"
#include "ProgressWindow.h"

#include <QElapsedTimer>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class ScriptedDialogs : public platform::Dialogs {
public:
    struct Shown {
        std::string kind; // "message", "query", "inputbox", "confirm", "secret"
        std::string caption;
        std::string prompt;
        std::string text;    // message text, or the query's default text
        std::string details; // a message's details part
    };

    // The progress window double: records what it is told, and Cancel
    // presses its Cancel button.
    class Progress : public platform::Progress {
    public:
        explicit Progress(ScriptedDialogs& owner) : owner_(owner) {}
        ~Progress() override;
        void SetStep(const std::string& step) override;
        void SetBytes(uint64_t sent, uint64_t total) override;
        void Cancel() { FireCancel(); }

    private:
        ScriptedDialogs& owner_;
        QElapsedTimer clock_;
        platform::TransferRate rate_;
    };

    // The log window double: keeps its lines in the owner's logLines, and
    // Cancel presses its Cancel button.
    class Log : public platform::Log {
    public:
        explicit Log(ScriptedDialogs& owner) : owner_(owner) {}
        void Add(const std::string& line) override;
        void Finish() override { ++owner_.logsFinished; }
        void Cancel() { FireCancel(); }

    private:
        ScriptedDialogs& owner_;
    };

    // Answers for InputQuery in order: a text means OK with that text,
    // nullopt means Cancel. With none left, queries are cancelled.
    std::deque<std::optional<std::string>> queryAnswers;
    // Answers for Confirm in order; with none left, Confirm answers No.
    std::deque<bool> confirmAnswers;
    // Called after each dialog is recorded, while it would be open.
    std::function<void(const Shown&)> whileOpen;
    // Called after each step or byte count a progress window is given.
    std::function<void(Progress&)> whileProgress;
    // Called after each line a log window is given.
    std::function<void(Log&, const std::string&)> whileLog;

    std::vector<Shown> shown;
    // Every step shown in progress windows, in order; the last byte counts.
    std::vector<std::string> progressSteps;
    uint64_t progressSent = 0, progressTotal = 0;
    // The rate the window would show now, in bytes a second (0: none yet).
    uint64_t progressRate = 0;
    int progressWindowsOpen = 0;
    // Every line of every log window, and the captions they were opened with.
    std::vector<std::string> logLines;
    std::vector<std::string> logCaptions;
    int logsFinished = 0;

    std::vector<std::string> Messages() const;

    void MessageBox(const std::string& text) override;
    bool InputQuery(const std::string& caption, const std::string& prompt,
                    std::string& value) override;
    void InputBox(const std::string& caption, const std::string& prompt,
                  const std::string& text) override;
    bool Confirm(const std::string& text) override;
    // Recorded without the answer; answered from queryAnswers.
    bool SecretQuery(const std::string& caption, const std::string& prompt,
                     std::string& value) override;
    void MessageBoxWithDetails(const std::string& text, const std::string& details) override;
    std::unique_ptr<platform::Progress> ShowProgress(const std::string& caption) override;
    std::unique_ptr<platform::Log> ShowLog(const std::string& caption) override;

private:
    void Record(Shown s);
};

// Installs a ScriptedDialogs for the lifetime of this object.
class ScriptedDialogsScope {
public:
    ScriptedDialogsScope();
    ~ScriptedDialogsScope();
    ScriptedDialogs& operator*() { return *dialogs_; }
    ScriptedDialogs* operator->() { return dialogs_; }

private:
    ScriptedDialogs* dialogs_;
};
