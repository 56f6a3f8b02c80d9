#include "Dialogs.h"
#include "mainFormUnit.h"

void TfrmMain::PublishHttp(const std::string&) {
    platform::dialogs().MessageBox("Publishing over HTTP POST is not available in this version.");
}
