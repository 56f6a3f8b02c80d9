// The program's command line: a start without arguments is the designed
// one; the options serve desktop shortcuts and other tools.
#pragma once

#include <string>
#include <vector>

enum TCommand {
    cmdStart,
    cmdCapture,
    cmdPublish,
    cmdTest,
    cmdHistory,
    cmdDelete,
    cmdHelp,
    cmdVersion,
    cmdUsageError
};

struct TCommandLine {
    TCommand Command = cmdStart;
    // The picture file of --publish; "-" is standard input.
    std::string File;
    // The published picture's URL of --delete.
    std::string Url;
    // --capture region: a region the user chooses, not what "Capture screen" takes.
    bool Region = false;
    // --capture ... --publish: publishes the capture at once, prints its URL
    // and exits, without the window.
    bool PublishCapture = false;
    // What is wrong with the arguments, for cmdUsageError.
    std::string Error;
};

// Exit codes of the command-line operations.
constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

// args without the program name.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);
std::string HelpText(const std::string& program);
std::string VersionLine();
