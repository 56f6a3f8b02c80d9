#include "Publisher.h"

#include "FtpPublisher.h"
#include "HttpPublisher.h"
#include "SftpPublisher.h"

namespace {

const char* const Mask = "********";
const std::string PassCommand = "> PASS ";

} // namespace

void TPublisher::Cancel() {
    if (cancelled_) return;
    cancelled_ = true;
    Stop();
}

// After a cancel the progress keeps saying so; the tidying up is no news.
void TPublisher::FireStep(const std::string& step) {
    if (OnStep && !cancelled_) OnStep(step);
}

void TPublisher::FireBytes(uint64_t sent, uint64_t total) {
    if (OnBytes && !cancelled_) OnBytes(sent, total);
}

bool TPublisher::FireUntrustedCertificate(const TSslCertProblem& problem, std::string& trusted) {
    if (cancelled_ || !problem.Refused()) return false;
    return OnUntrustedCertificate && OnUntrustedCertificate(problem, trusted);
}

bool TPublisher::FireUnknownHostKey(const std::string& host, uint16_t port,
                                    const TSshHostKey& key) {
    if (cancelled_) return false;
    return OnUnknownHostKey && OnUnknownHostKey(host, port, key);
}

bool TPublisher::FireKeyPassphrase(const std::string& keyFile, std::string& passphrase) {
    if (cancelled_) return false;
    return OnKeyPassphrase && OnKeyPassphrase(keyFile, passphrase);
}

void TPublisher::Fail(const std::string& text, const std::string& details) {
    if (!cancelled_) result_.Messages.push_back({text, details});
}

void TPublisher::Begin() {
    cancelled_ = false;
    result_ = {};
    urlAt_.reset();
}

TPublishResult TPublisher::Finish(bool ok, const std::string& url) {
    TPublishResult result = std::move(result_);
    result_ = {};
    if (cancelled_) {
        result.Outcome = TPublishResult::prCancelled;
        result.Messages.clear();
    } else if (ok) {
        result.Outcome = TPublishResult::prPublished;
        result.Url = url;
        result.MessagesBeforeUrl = urlAt_.value_or(result.Messages.size());
    } else {
        result.Outcome = TPublishResult::prFailed;
    }
    return result;
}

std::unique_ptr<TPublisher> CreatePublisher(configRecord& settings, TFtpClient* client) {
    if (settings.transferType == settings::TransferFtp &&
        settings.ftpEncryption == settings::FtpOverSsh)
        return std::make_unique<TSftpPublisher>(settings);
    if (settings.transferType == settings::TransferFtp)
        return std::make_unique<TFtpPublisher>(settings, client);
    return std::make_unique<THttpPublisher>(settings);
}

std::string MaskPassword(const std::string& line, const std::string& password) {
    // The command line is masked whole, so that no part of a password that
    // the server or the trace changed in some way can show.
    if (line.compare(0, PassCommand.size(), PassCommand) == 0) return PassCommand + Mask;
    std::string out = line;
    if (password.empty()) return out;
    for (size_t at = 0; (at = out.find(password, at)) != std::string::npos;) {
        out.replace(at, password.size(), Mask);
        at += std::char_traits<char>::length(Mask);
    }
    return out;
}
