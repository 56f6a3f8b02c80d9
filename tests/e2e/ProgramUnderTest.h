// The real program running on a test desktop, with its own private working
// directory ($XDG_CACHE_HOME pointed at a scratch directory) and settings,
// and what a person would see of its main window.
#pragma once

#include "XSession.h"

#include <QTemporaryDir>

#include <map>
#include <string>

class ProgramUnderTest {
public:
    // Designed client-area rectangles of the main window's buttons.
    static const std::map<std::string, QRect>& Buttons();

    explicit ProgramUnderTest(XSession& session);
    ~ProgramUnderTest();

    // Sets a variable of the environment the program starts with.
    void SetEnvironment(const QString& name, const QString& value) { extra_.insert(name, value); }
    // Starts the program with the command-line arguments and waits for its
    // main window; false if it never shows.
    bool Start(const QStringList& args = {});
    unsigned long MainWindow() const { return window_; }
    std::string TempDir() const { return tmp_.path().toStdString() + "/Brindlewick/"; }
    std::string WorkingFile() const { return TempDir() + "brindlewick_temp.bmp"; }
    // The settings file the program reads; write it before Start.
    std::string SettingsFile() const {
        return config_.path().toStdString() + "/Brindlewick/Brindlewick.ini";
    }

    // Starts one more copy with the same environment, without waiting.
    QProcess* Launch(const QStringList& args = {});
    // Starts one more copy and waits for it to end; its exit code, or -1
    // when it does not end within timeoutMs.
    int RunAnotherCopy(const QStringList& args = {}, int timeoutMs = 20000);
    QProcess* Process() const { return process_; }

    void Press(const std::string& button) const;
    // Whether a button looks enabled: its caption is drawn in dark text.
    bool LooksEnabled(const std::string& button) const;
    std::map<std::string, bool> ButtonStates() const;
    // Waits for a message box of the program and closes it with Return;
    // false when none appears.
    bool DismissMessageBox(int timeoutMs = 10000) const;
    // Waits for the program to end; its exit code, or -1 when it crashed or
    // still runs.
    int WaitForExit(int timeoutMs = 10000) const;

private:
    QProcessEnvironment Environment() const;

    XSession& session_;
    QTemporaryDir tmp_;
    QTemporaryDir config_;
    QProcessEnvironment extra_;
    QTemporaryDir data_;
    QProcess* process_ = nullptr;
    unsigned long window_ = 0;
};
