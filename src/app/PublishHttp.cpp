// Publishing over HTTP POST: one form POST of the exported JPEG to the
// user's upload script, whose marker strings tell how it went.
#include "Dialogs.h"
#include "HttpUpload.h"
#include "JpegExport.h"
#include "configUnit.h"
#include "kwHTTPUnit.h"
#include "mainFormUnit.h"

namespace {

const char* const ExamplePostUrl = "http://www.example.com/post.php";

bool Contains(const std::string& text, const char* marker) {
    return text.find(marker) != std::string::npos;
}

// Nothing but spaces and control characters.
bool IsBlank(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) > 32) return false;
    return true;
}

} // namespace

void TfrmMain::PublishHttp(const std::string& name) {
    auto& dialogs = platform::dialogs();
    if (!HasHttpScheme(Settings.postUrl)) {
        dialogs.MessageBox("Missing http:// start from the posting URL!");
        return;
    }
    // Cleared on every way out, an unexpected error included.
    TBusyScope busy(*this);
    auto http = std::make_unique<kwHTTP>();
    http->Url = Settings.postUrl;
    http->Port = 80;
    http->IdleTimeoutMs = httpIdleTimeoutMs;
    http->Host = HostOfPostUrl(Settings.postUrl);
    if (IsBlank(http->Host)) {
        dialogs.MessageBox(
            std::string("Cannot resolve host name, check that posting url is in format ") +
            ExamplePostUrl);
        return;
    }

    const std::string path = ExportFilePath(name);
    if (ExpandLongPath(path).empty()) dialogs.MessageBox("Not found: " + path);
    http->PostData = BuildPostForm(name, Settings.secretKey, ReadWholeFile(path));

    http->Connect();
    http->WaitUntilDone();

    if (http->Replies.empty()) {
        dialogs.MessageBox("HTTP posting failed!");
        return;
    }
    std::string text;
    for (const std::string& line : http->Replies) text += line + "\r\n";
    if (Contains(text, MarkerNotFound))
        dialogs.MessageBox("Uploading script not found, server returned 404.");
    if (Contains(text, MarkerTransferOk))
        dialogs.InputBox("Transfer succeeded!", "URL for capture", Settings.postServer + name);
    else
        dialogs.MessageBox("HTTP posting failed, didn't receive 'transfer OK' string!");
    if (Contains(text, MarkerAuthFail))
        dialogs.MessageBox("Authentication failed, secret key incorrect?");
    if (Contains(text, MarkerSizeDiff))
        dialogs.MessageBox("There was difference in file size, try again.");
}
