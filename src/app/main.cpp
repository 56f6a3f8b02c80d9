#include "Application.h"
#include "BrindlewickIcon.h"
#include "Dialogs.h"
#include "InstanceLock.h"
#include "System.h"
#include "configFormUnit.h"
#include "mainFormUnit.h"
#include "modifyCaptureUnit.h"

#include <memory>
#include <stdexcept>

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    app.setWindowIcon(BrindlewickIcon());

    // The captures live in the user's private working directory; without it
    // the program does not start, and says why.
    std::unique_ptr<platform::TInstanceLock> instance;
    try {
        instance = std::make_unique<platform::TInstanceLock>(platform::TempDirectory());
        // A copy already runs for this user: it is shown instead, and this one
        // ends before it touches the working capture file.
        if (!instance->Acquire()) {
            if (!instance->HandOver())
                platform::dialogs().MessageBox("Brindlewick is already running.");
            return 0;
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
    instance->OnShowRequested = [&mainWindow](platform::TInstanceLock*) {
        mainWindow->BringToFront();
    };
    mainWindow->show();
    const int result = app.exec();
    instance->OnShowRequested = nullptr;
    frmConfig = nullptr;
    frmModifyCapture = nullptr;
    return result;
}
