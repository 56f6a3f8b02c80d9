#include "Application.h"
#include "BrindlewickIcon.h"
#include "configFormUnit.h"
#include "mainFormUnit.h"
#include "modifyCaptureUnit.h"

#include <memory>

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    app.setWindowIcon(BrindlewickIcon());
    // Created first, the main window is the one whose closing ends the run;
    // the other two windows live as long and are reused at every showing.
    auto mainWindow = std::make_unique<TfrmMain>();
    auto editor = std::make_unique<TfrmModifyCapture>();
    auto config = std::make_unique<TfrmConfig>();
    frmModifyCapture = editor.get();
    frmConfig = config.get();
    mainWindow->show();
    const int result = app.exec();
    frmConfig = nullptr;
    frmModifyCapture = nullptr;
    return result;
}
