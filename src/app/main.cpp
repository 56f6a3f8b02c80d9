#include "Application.h"
#include "mainFormUnit.h"

#include <memory>

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    // Created first, the main window is the one whose closing ends the run.
    auto frmMain = std::make_unique<TfrmMain>();
    frmMain->show();
    return app.exec();
}
