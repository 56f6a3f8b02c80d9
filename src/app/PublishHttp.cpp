// Publishing over HTTP POST: one form POST of the exported JPEG to the
// user's upload script, whose marker strings tell how it went.
#include "CertificateTrust.h"
#include "Dialogs.h"
#include "HttpUpload.h"
#include "JpegExport.h"
#include "PublishSession.h"
#include "configUnit.h"
#include "kwHTTPUnit.h"
#include "mainFormUnit.h"

#include <algorithm>

namespace {

const char* const ExamplePostUrl = "http://www.example.com/post.php";

// What the server said, for the details of a failure box; a copy of the
// key in it is masked.
std::string ReplyDetails(const kwHTTP& http, const std::string& key) {
    std::string text;
    bool said = false;
    for (const std::string& line : http.Replies) {
        text += MaskPassword(line, key) + "\n";
        said = said || !line.empty();
    }
    if (!said) text = "There was no answer from " + http.Host + ".\n";
    // An endless answer is shown by its start.
    constexpr size_t MaxDetails = 8192;
    if (text.size() > MaxDetails) text = text.substr(0, MaxDetails) + "...\n";
    if (http.TimedOut)
        text += "The server sent nothing more for " + std::to_string(http.IdleTimeoutMs / 1000) +
                " seconds.\n";
    return text;
}

std::string DurationText(unsigned ms) {
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " seconds" : std::to_string(ms) + " ms";
}

// Feeds the progress window from the client's events.
void Watch(kwHTTP& client, TPublishSession& session) {
    // The first bytes can be reported before the connection is, so either
    // starts the sending step.
    auto sending = std::make_shared<bool>(false);
    auto startSending = [&session, sending] {
        if (!*sending) session.Step("Sending");
        *sending = true;
    };
    client.OnSessionEvent = [&client, startSending](uint16_t) {
        if (client.Connected) startSending();
    };
    client.OnDataSent = [&session, &client, startSending](uint64_t sent, uint64_t queued) {
        startSending();
        const uint64_t total = std::max<uint64_t>(queued, client.PostData.size());
        session.Bytes(sent, total);
        if (sent >= total) session.Step("Waiting for the answer");
    };
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
    const TPostTarget target = PostTargetOf(Settings.postUrl);
    if (IsBlank(target.Host)) {
        dialogs.MessageBox(
            std::string("Cannot resolve host name, check that posting url is in format ") +
            ExamplePostUrl);
        return;
    }

    const std::string path = ExportFilePath(name);
    if (ExpandLongPath(path).empty()) dialogs.MessageBox("Not found: " + path);
    const std::string form = BuildPostForm(name, Settings.secretKey, ReadWholeFile(path));

    // Cancel closes the connection; the wait then ends at once.
    TPublishSession session(Settings.secretKey);
    kwHTTP* current = nullptr;
    session.OnCancel = [&current] {
        if (current) current->Disconnect();
    };
    auto post = [&] {
        auto http = NewPost(Settings.postUrl, target, Settings.httpCertFingerprint, form);
        http->IdleTimeoutMs = httpIdleTimeoutMs;
        http->AnswerDeadlineMs = httpAnswerDeadlineMs;
        Watch(*http, session);
        current = http.get();
        session.Step("Connecting");
        http->Connect();
        http->WaitUntilDone();
        current = nullptr;
        http->OnSessionEvent = nullptr;
        http->OnDataSent = nullptr;
        return http;
    };
    auto http = post();
    // A refused certificate the user now trusts: the same post once more.
    if (!session.Cancelled() && target.Tls &&
        OfferCertificateTrust(http->Socket->SslCertProblem(), Settings.httpCertFingerprint))
        http = post();
    session.Finish();
    if (session.Cancelled()) return;
    const std::string details = ReplyDetails(*http, Settings.secretKey);
    // Said after the designed messages, which tell only that the post failed.
    const std::string tlsFailure = http->Socket->SslErrorText();
    auto explainTls = [&] {
        if (target.Tls && !tlsFailure.empty())
            dialogs.MessageBox("The secure connection to " + target.Host +
                               " failed: " + tlsFailure);
    };

    // Whatever the markers say, an answer cut short is no answer to trust.
    if (http->ReplyTooLong || http->AnswerLate) {
        session.Fail(
            http->ReplyTooLong
                ? "HTTP posting failed: the answer from " + target.Host + " went on past " +
                      std::to_string(http->ReplyLimit / (1024 * 1024)) + " MB without ending."
                : "HTTP posting failed: the answer from " + target.Host + " did not end within " +
                      DurationText(http->AnswerDeadlineMs) + " of the upload.",
            details);
        return;
    }
    if (http->Replies.empty()) {
        session.Fail("HTTP posting failed!", details);
        explainTls();
        return;
    }
    std::string text;
    for (const std::string& line : http->Replies) text += line + "\r\n";
    if (Contains(text, MarkerNotFound))
        session.Fail("Uploading script not found, server returned 404.", details);
    if (Contains(text, MarkerTransferOk))
        ShowPublishedUrl(Settings.postServer + name);
    else
        session.Fail("HTTP posting failed, didn't receive 'transfer OK' string!", details);
    if (Contains(text, MarkerAuthFail))
        session.Fail("Authentication failed, secret key incorrect?", details);
    if (Contains(text, MarkerSizeDiff))
        session.Fail("There was difference in file size, try again.", details);
    explainTls();
}
