#include "HttpPublisher.h"

#include "JpegExport.h"
#include "kwHTTPUnit.h"

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

} // namespace

std::optional<TPostTarget> CheckPostUrl(const std::string& postUrl, const std::string& publishUrl,
                                        std::string& why) {
    if (!HasHttpScheme(postUrl)) {
        why = "Missing http:// start from the posting URL!";
        return std::nullopt;
    }
    why = UrlControlCharacterProblem(postUrl, publishUrl);
    if (!why.empty()) return std::nullopt;
    const TPostTarget target = PostTargetOf(postUrl);
    if (IsBlank(target.Host)) {
        why = std::string("Cannot resolve host name, check that posting url is in format ") +
              ExamplePostUrl;
        return std::nullopt;
    }
    return target;
}

std::unique_ptr<kwHTTP>
PostTrusting(const std::string& postUrl, const TPostTarget& target, std::string& fingerprint,
             const std::string& body, const std::function<void(kwHTTP&)>& send,
             const std::function<bool(const TSslCertProblem&, std::string&)>& trust) {
    auto post = [&] {
        auto http = NewPost(postUrl, target, fingerprint, body);
        send(*http);
        return http;
    };
    auto http = post();
    if (target.Tls && trust(http->Socket->SslCertProblem(), fingerprint)) http = post();
    return http;
}

std::string JoinReplies(const std::vector<std::string>& replies) {
    std::string text;
    for (const std::string& line : replies) text += line + "\r\n";
    return text;
}

THttpPublisher::THttpPublisher(configRecord& settings) : settings_(settings) {}

THttpPublisher::~THttpPublisher() = default;

void THttpPublisher::Stop() {
    if (current_) current_->Disconnect();
}

// Feeds the progress from the client's events.
void THttpPublisher::Watch(kwHTTP& client) {
    // The first bytes can be reported before the connection is, so either
    // starts the sending step.
    auto sending = std::make_shared<bool>(false);
    auto startSending = [this, sending] {
        if (!*sending) FireStep("Sending");
        *sending = true;
    };
    client.OnSessionEvent = [&client, startSending](uint16_t) {
        if (client.Connected) startSending();
    };
    client.OnDataSent = [this, &client, startSending](uint64_t sent, uint64_t queued) {
        startSending();
        const uint64_t total = std::max<uint64_t>(queued, client.PostData.size());
        FireBytes(sent, total);
        if (sent >= total) FireStep("Waiting for the answer");
    };
}

void THttpPublisher::Send(kwHTTP& http) {
    if (Cancelled()) return;
    http.IdleTimeoutMs = IdleTimeoutMs;
    http.AnswerDeadlineMs = AnswerDeadlineMs;
    Watch(http);
    current_ = &http;
    FireStep("Connecting");
    http.Connect();
    http.WaitUntilDone();
    current_ = nullptr;
    http.OnSessionEvent = nullptr;
    http.OnDataSent = nullptr;
}

TPublishResult THttpPublisher::Publish(const std::string& path, const std::string& name) {
    const configRecord& s = settings_;
    Begin();
    std::string why;
    const std::optional<TPostTarget> target = CheckPostUrl(s.postUrl, s.postServer, why);
    if (!target) {
        Fail(why);
        return Finish(false, {});
    }
    if (ExpandLongPath(path).empty()) Fail("Not found: " + path);
    const std::string form = BuildPostForm(name, s.secretKey, ReadWholeFile(path));

    auto http = PostTrusting(
        s.postUrl, *target, settings_.httpCertFingerprint, form, [this](kwHTTP& h) { Send(h); },
        [this](const TSslCertProblem& p, std::string& t) {
            return FireUntrustedCertificate(p, t);
        });
    if (Cancelled()) return Finish(false, {});
    const std::string details = ReplyDetails(*http, s.secretKey);
    // Said after the designed messages, which tell only that the post failed.
    const std::string tlsFailure = http->Socket->SslErrorText();
    auto explainTls = [&] {
        if (target->Tls && !tlsFailure.empty())
            Fail("The secure connection to " + target->Host + " failed: " + tlsFailure);
    };

    // Whatever the markers say, an answer cut short is no answer to trust.
    if (http->ReplyTooLong || http->AnswerLate) {
        Fail(http->ReplyTooLong
                 ? "HTTP posting failed: the answer from " + target->Host + " went on past " +
                       std::to_string(http->ReplyLimit / (1024 * 1024)) + " MB without ending."
                 : "HTTP posting failed: the answer from " + target->Host + " did not end within " +
                       DurationText(http->AnswerDeadlineMs) + " of the upload.",
             details);
        return Finish(false, {});
    }
    if (http->Replies.empty()) {
        Fail("HTTP posting failed!", details);
        explainTls();
        return Finish(false, {});
    }
    const std::string text = JoinReplies(http->Replies);
    if (Contains(text, MarkerNotFound)) Fail(ScriptNotFoundText, details);
    const bool ok = Contains(text, MarkerTransferOk);
    MarkUrl();
    if (!ok) Fail("HTTP posting failed, didn't receive 'transfer OK' string!", details);
    if (Contains(text, MarkerAuthFail))
        Fail("Authentication failed, secret key incorrect?", details);
    if (Contains(text, MarkerSizeDiff))
        Fail("There was difference in file size, try again.", details);
    explainTls();
    return Finish(ok, s.postServer + name);
}
