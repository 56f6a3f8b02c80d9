// The dialogs of a publish from the command line: nobody is there to answer,
// so the name prompt keeps its proposal, messages go to standard error, and
// the URL box prints the URL, alone on its line, to standard output.
#pragma once

#include "Dialogs.h"

#include <cstdio>

class TConsoleDialogs : public platform::Dialogs {
public:
    TConsoleDialogs(std::FILE* out, std::FILE* err) : Out(out), Err(err) {}

    void MessageBox(const std::string& text) override;
    bool InputQuery(const std::string& caption, const std::string& prompt,
                    std::string& value) override;
    void InputBox(const std::string& caption, const std::string& prompt,
                  const std::string& text) override;
    bool Confirm(const std::string& text) override;
    // Only the message: standard error carries the designed texts alone.
    void MessageBoxWithDetails(const std::string& text, const std::string& details) override;
    // Nothing to watch and nobody to cancel.
    std::unique_ptr<platform::Progress> ShowProgress(const std::string& caption) override;
    // Each line to standard output as it comes: the log is what was asked for.
    std::unique_ptr<platform::Log> ShowLog(const std::string& caption) override;

private:
    std::FILE* Out;
    std::FILE* Err;
};
