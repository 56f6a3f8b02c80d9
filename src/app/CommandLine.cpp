#include "CommandLine.h"

#include "mainFormUnit.h"

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    TCommandLine line;
    auto fail = [&line](std::string error) {
        line.Command = cmdUsageError;
        line.Error = std::move(error);
        return line;
    };
    if (args.empty()) return line;

    // One option per run: each one is a whole job of its own.
    const std::string& option = args[0];
    size_t used = 1;
    if (option == "--help" || option == "-h") {
        line.Command = cmdHelp;
    } else if (option == "--version") {
        line.Command = cmdVersion;
    } else if (option == "--test") {
        line.Command = cmdTest;
    } else if (option == "--capture") {
        line.Command = cmdCapture;
        if (used < args.size() && (args[used] == "screen" || args[used] == "region"))
            line.Region = args[used++] == "region";
        if (used < args.size() && args[used] == "--publish") {
            line.PublishCapture = true;
            ++used;
        }
    } else if (option == "--publish" || option.rfind("--publish=", 0) == 0) {
        line.Command = cmdPublish;
        if (option == "--publish") {
            if (args.size() < 2)
                return fail("--publish needs a file name, or - for standard input");
            line.File = args[1];
            used = 2;
        } else {
            line.File = option.substr(std::string("--publish=").size());
        }
        if (line.File.empty()) return fail("--publish needs a file name, or - for standard input");
    } else if (option == "--history") {
        line.Command = cmdHistory;
    } else if (option == "--delete" || option.rfind("--delete=", 0) == 0) {
        line.Command = cmdDelete;
        if (option == "--delete") {
            if (args.size() >= 2) line.Url = args[1];
            used = 2;
        } else {
            line.Url = option.substr(std::string("--delete=").size());
        }
        if (line.Url.empty()) return fail("--delete needs the URL of a published picture");
    } else {
        return fail("unknown option " + option);
    }
    if (args.size() > used) return fail("unexpected argument " + args[used]);
    return line;
}

std::string HelpText(const std::string& program) {
    return "Usage: " + program +
           " [OPTION]\n"
           "Captures the screen, crops it and puts the picture on the web.\n"
           "Without an option the main window opens.\n"
           "\n"
           "  --capture [screen|region] [--publish]\n"
           "                   capture the screen (or a region of it that you choose)\n"
           "                   in the running copy, starting one if none runs (for a\n"
           "                   key binding); with --publish, publish the capture at\n"
           "                   once under a generated name, print its public URL and\n"
           "                   exit, without the main window\n"
           "  --publish FILE   publish a PNG, JPEG or BMP file (- reads standard input)\n"
           "                   as a JPEG by the configured method, without a window,\n"
           "                   and print its public URL\n"
           "  --test           try the saved publishing settings as Configure's Test\n"
           "                   button does, printing each step\n"
           "  --history        print the published pictures, newest first: time, URL\n"
           "                   and name on each line, separated by tabs\n"
           "  --delete URL     delete the picture published at URL from its server\n"
           "                   and from the history\n"
           "  -h, --help       show this help and exit\n"
           "  --version        show the version and exit\n"
           "\n"
           "Exit status: 0 done, 1 capturing, publishing, deleting or the test failed\n"
           "(the reasons are on standard error, or in the test's steps), 2 wrong arguments.\n";
}

std::string VersionLine() {
    return std::string("Brindlewick ") + VersionText + "\n";
}
