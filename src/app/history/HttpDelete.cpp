#include "HttpDelete.h"

#include "HttpPublisher.h"
#include "kwHTTPUnit.h"

std::string BuildDeleteForm(const std::string& name, const std::string& key) {
    return "delete=1&filename=" + name + "&key=" + key;
}

THttpDelete::THttpDelete(configRecord& settings) : settings_(settings) {}

THttpDelete::~THttpDelete() = default;

void THttpDelete::Stop() {
    if (current_) current_->Disconnect();
}

void THttpDelete::Send(kwHTTP& http) {
    if (CancelledFlag()) return;
    http.IdleTimeoutMs = IdleTimeoutMs;
    current_ = &http;
    FireStep("Connecting");
    http.OnSessionEvent = [this, &http](uint16_t) {
        if (http.Connected) FireStep("Waiting for the answer");
    };
    http.Connect();
    http.WaitUntilDone();
    http.OnSessionEvent = nullptr;
    current_ = nullptr;
}

TDeleteResult::TOutcome THttpDelete::Run(const THistoryEntry& e) {
    const configRecord& s = settings_;
    std::string why;
    const std::optional<TPostTarget> target = CheckPostUrl(s.postUrl, s.postServer, why);
    if (!target) {
        Fail(why);
        return TDeleteResult::drFailed;
    }
    auto http = PostTrusting(
        s.postUrl, *target, settings_.httpCertFingerprint, BuildDeleteForm(e.Name, s.secretKey),
        [this](kwHTTP& h) { Send(h); },
        [this](const TSslCertProblem& p, std::string& t) {
            return FireUntrustedCertificate(p, t);
        });
    if (CancelledFlag()) return TDeleteResult::drCancelled;

    std::string details;
    for (const std::string& line : http->Replies) details += MaskPassword(line, s.secretKey) + "\n";
    const std::string text = JoinReplies(http->Replies);
    if (Contains(text, MarkerDeleteOk)) return TDeleteResult::drDeleted;
    if (Contains(text, MarkerDeleteGone)) {
        Fail(AlreadyGoneText(e.Name), details);
        return TDeleteResult::drAlreadyGone;
    }
    if (http->Replies.empty()) {
        const std::string tls = http->Socket->SslErrorText();
        Fail("Deleting failed: there was no answer from " + target->Host + "." +
                 (tls.empty() ? "" : " The secure connection failed: " + tls),
             details);
    } else if (Contains(text, MarkerNotFound)) {
        Fail(ScriptNotFoundText, details);
    } else if (Contains(text, MarkerAuthFail)) {
        Fail("The upload script refused to delete " + e.Name +
                 ": secret key incorrect, or not a picture it stored?",
             details);
    } else if (Contains(text, MarkerDeleteFailed)) {
        Fail("The upload script could not delete " + e.Name + ".", details);
    } else {
        Fail(OlderScriptText, details);
    }
    return TDeleteResult::drFailed;
}
