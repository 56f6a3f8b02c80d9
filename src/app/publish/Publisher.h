// Publishing an exported JPEG under its remote name, by one of the methods,
// with no window of its own. The main window, the command line and the
// connection test all drive it: they follow it through its events and read
// one result at the end.
#pragma once

#include "SftpSession.h"
#include "SslWSocket.h"
#include "configUnit.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TFtpClient;

// A message for the user, with what the server said behind it.
struct TPublishMessage {
    std::string Text;
    std::string Details;

    bool operator==(const TPublishMessage&) const = default;
};

struct TPublishResult {
    enum TOutcome { prPublished, prCancelled, prFailed };
    TOutcome Outcome = prFailed;
    // The picture's public address, once published.
    std::string Url;
    // In the order they arose. Beside a URL they are warnings (a size
    // difference, say); the first MessagesBeforeUrl of them came before it.
    std::vector<TPublishMessage> Messages;
    size_t MessagesBeforeUrl = 0;
    // After a cancel: what the tidying up did, for the details.
    std::string CancelDetails;

    // Published, and nothing to warn about.
    bool Clean() const { return Outcome == prPublished && Messages.empty(); }
};

class TPublisher {
public:
    virtual ~TPublisher() = default;
    TPublisher(const TPublisher&) = delete;
    TPublisher& operator=(const TPublisher&) = delete;

    // Publishes localFile as remoteName; waits on the event loop until done.
    virtual TPublishResult Publish(const std::string& localFile, const std::string& remoteName) = 0;
    // Stops the publish under way at once; it then ends as cancelled.
    void Cancel();
    bool Cancelled() const { return cancelled_; }

    // "Connecting", "Logging in", "Uploading", ...
    std::function<void(const std::string& step)> OnStep;
    // Bytes on their way of the total.
    std::function<void(uint64_t sent, uint64_t total)> OnBytes;
    // A server certificate that did not verify: true when the user now
    // trusts it, its fingerprint then in trusted (the settings' own field).
    std::function<bool(const TSslCertProblem& problem, std::string& trusted)>
        OnUntrustedCertificate;
    // An SSH server whose host key known_hosts does not have: true when the
    // user trusts the key from now on.
    std::function<bool(const std::string& host, uint16_t port, const TSshHostKey& key)>
        OnUnknownHostKey;
    // A key file that needs its passphrase: true with it in passphrase.
    std::function<bool(const std::string& keyFile, std::string& passphrase)> OnKeyPassphrase;

protected:
    TPublisher() = default;
    // Drops the connections; the operation waiting for them then ends.
    virtual void Stop() = 0;

    const bool& CancelledFlag() const { return cancelled_; }
    void FireStep(const std::string& step);
    void FireBytes(uint64_t sent, uint64_t total);
    bool FireUntrustedCertificate(const TSslCertProblem& problem, std::string& trusted);
    bool FireUnknownHostKey(const std::string& host, uint16_t port, const TSshHostKey& key);
    bool FireKeyPassphrase(const std::string& keyFile, std::string& passphrase);

    // A message for the result; after a cancel there is only that to say.
    void Fail(const std::string& text, const std::string& details = {});
    // What the tidying up after a cancel did.
    void NoteCancelDetails(const std::string& details) { result_.CancelDetails = details; }
    // The URL, if any, is shown after the messages so far.
    void MarkUrl() { urlAt_ = result_.Messages.size(); }
    // Starts a result; Finish completes it with the outcome.
    void Begin();
    TPublishResult Finish(bool ok, const std::string& url);

private:
    bool cancelled_ = false;
    TPublishResult result_;
    std::optional<size_t> urlAt_;
};

// The publisher of the method settings choose. It keeps a reference to
// settings: a certificate the user trusts goes into its fingerprint field.
// An FTP publisher drives client when given one, else a client of its own;
// FTP settings with SFTP chosen under encryption publish over SSH.
std::unique_ptr<TPublisher> CreatePublisher(configRecord& settings, TFtpClient* client = nullptr);

// The line with the password of a "> PASS" command, and any other copy of
// password, replaced by asterisks.
std::string MaskPassword(const std::string& line, const std::string& password);
