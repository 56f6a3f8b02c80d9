// Publishing over HTTP POST: one form POST of the exported JPEG to the
// user's upload script, whose marker strings tell how it went.
#pragma once

#include "HttpUpload.h"
#include "Publisher.h"

#include <optional>

class kwHTTP;

class THttpPublisher : public TPublisher {
public:
    explicit THttpPublisher(configRecord& settings);
    ~THttpPublisher() override;

    // The exported file is kept.
    TPublishResult Publish(const std::string& localFile, const std::string& remoteName) override;

    // How long the post may go without any progress before it gives up.
    unsigned IdleTimeoutMs = 15000;
    // How long the server's answer may take once it has the whole upload.
    unsigned AnswerDeadlineMs = 60000;

protected:
    void Stop() override;

private:
    // Sends the request and waits for its end (or Cancel).
    void Send(kwHTTP& http);
    void Watch(kwHTTP& client);

    configRecord& settings_;
    kwHTTP* current_ = nullptr;
};

// What a 404 from the posting URL says.
inline constexpr const char* ScriptNotFoundText =
    "Uploading script not found, server returned 404.";

// Where the posting URL goes, or the message that says why it or the
// publish URL cannot be used.
std::optional<TPostTarget> CheckPostUrl(const std::string& postUrl, const std::string& publishUrl,
                                        std::string& why);

// A post of body to postUrl at target, sent by send(). When the certificate
// was refused and trust() now accepts it (its fingerprint going to
// fingerprint), it is sent once more with that one trusted.
std::unique_ptr<kwHTTP>
PostTrusting(const std::string& postUrl, const TPostTarget& target, std::string& fingerprint,
             const std::string& body, const std::function<void(kwHTTP&)>& send,
             const std::function<bool(const TSslCertProblem&, std::string&)>& trust);

// The reply lines joined with CR LF, as the markers are searched in them.
std::string JoinReplies(const std::vector<std::string>& replies);
