#include "Application.h"
#include "BrindlewickIcon.h"
#include "CommandLine.h"
#include "CommandLinePublish.h"
#include "ConnectionTest.h"
#include "Dialogs.h"
#include "InstanceLock.h"
#include "System.h"
#include "configFormUnit.h"
#include "mainFormUnit.h"
#include "modifyCaptureUnit.h"

#include <QTimer>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace {

std::string ProgramName(const char* argv0) {
    const std::string path = argv0 ? argv0 : "brindlewick";
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

int main(int argc, char** argv) {
    const TCommandLine line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (line.Command) {
    case cmdHelp:
        std::fputs(HelpText(ProgramName(argv[0])).c_str(), stdout);
        return ExitOk;
    case cmdVersion:
        std::fputs(VersionLine().c_str(), stdout);
        return ExitOk;
    case cmdUsageError:
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n",
                     ProgramName(argv[0]).c_str(), line.Error.c_str(),
                     ProgramName(argv[0]).c_str());
        return ExitUsage;
    case cmdPublish: {
        // Nothing is shown, so no desktop is needed: it works from a
        // terminal without one too.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        TApplication app(argc, argv);
        return PublishFromCommandLine(line.File);
    }
    case cmdTest: {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        TApplication app(argc, argv);
        return TestFromCommandLine();
    }
    case cmdHistory: {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        TApplication app(argc, argv);
        return HistoryFromCommandLine();
    }
    case cmdDelete: {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        TApplication app(argc, argv);
        return DeleteFromCommandLine(line.Url);
    }
    case cmdCapture:
        if (line.PublishCapture) {
            // A picture of the real screen, but no window of ours.
            TApplication app(argc, argv);
            return CaptureAndPublishFromCommandLine(line.Region);
        }
        break;
    case cmdStart:
        break;
    }

    TApplication app(argc, argv);
    app.setWindowIcon(BrindlewickIcon());

    // The captures live in the user's private working directory; without it
    // the program does not start, and says why.
    std::unique_ptr<platform::TInstanceLock> instance;
    try {
        instance = std::make_unique<platform::TInstanceLock>(platform::TempDirectory());
        // A copy already runs for this user: it is shown instead (or, for
        // --capture, captures), and this one ends before it touches the
        // working capture file.
        if (!instance->Acquire()) {
            const bool capture = line.Command == cmdCapture;
            const platform::THandOverRequest request = !capture      ? platform::horShow
                                                       : line.Region ? platform::horCaptureRegion
                                                                     : platform::horCapture;
            if (instance->HandOver(request)) return 0;
            platform::dialogs().MessageBox("Brindlewick is already running.");
            // A key binding's capture that did not happen is no success.
            return capture ? ExitFailed : 0;
        }
    } catch (const std::exception& e) {
        platform::dialogs().MessageBox(e.what());
        return 1;
    }

    // Created first, the main window is the one whose closing ends the run;
    // the other two windows live as long and are reused at every showing.
    auto mainWindow = std::make_unique<TfrmMain>();
    auto editor = std::make_unique<TfrmModifyCapture>();
    auto config = std::make_unique<TfrmConfig>();
    frmModifyCapture = editor.get();
    frmConfig = config.get();
    config->OnTestConnection = RunConnectionTest;
    instance->OnShowRequested = [&mainWindow](platform::TInstanceLock*) {
        mainWindow->BringToFront();
    };
    instance->OnCaptureRequested = [&mainWindow](platform::TInstanceLock*) {
        mainWindow->RequestCapture();
    };
    instance->OnRegionRequested = [&mainWindow](platform::TInstanceLock*) {
        mainWindow->RequestCaptureRegion();
    };
    mainWindow->show();
    if (line.Command == cmdCapture)
        QTimer::singleShot(0, mainWindow.get(), [&mainWindow, region = line.Region] {
            if (region)
                mainWindow->RequestCaptureRegion();
            else
                mainWindow->RequestCapture();
        });
    const int result = app.exec();
    instance->OnCaptureRequested = nullptr;
    instance->OnRegionRequested = nullptr;
    instance->OnShowRequested = nullptr;
    frmConfig = nullptr;
    frmModifyCapture = nullptr;
    return result;
}
