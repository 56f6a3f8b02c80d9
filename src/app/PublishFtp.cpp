#include "Dialogs.h"
#include "mainFormUnit.h"

// The FTP client is not part of this build; the exported file stays in the
// temporary directory.
void TfrmMain::PublishFtp(const std::string&) {
    platform::dialogs().MessageBox(
        "Publishing over FTP is not available in this version. Choose HTTP POST in "
        "Configure, or save the capture on this computer.");
}
