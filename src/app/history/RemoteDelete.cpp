#include "RemoteDelete.h"

#include "FtpDelete.h"
#include "HttpDelete.h"
#include "SftpDelete.h"

TDeleteResult TRemoteDelete::Delete(const THistoryEntry& entry) {
    cancelled_ = false;
    messages_.clear();
    TDeleteResult result;
    if (!IsPlainRemoteName(entry.Name)) {
        result.Messages.push_back(
            {"Refused to delete \"" + entry.Name + "\": it is not a plain file name.", {}});
        return result;
    }
    result.Outcome = Run(entry);
    result.Messages = std::move(messages_);
    messages_.clear();
    if (cancelled_) {
        result.Outcome = TDeleteResult::drCancelled;
        result.Messages.clear();
    }
    return result;
}

void TRemoteDelete::Cancel() {
    if (cancelled_) return;
    cancelled_ = true;
    Stop();
}

void TRemoteDelete::FireStep(const std::string& step) {
    if (OnStep && !cancelled_) OnStep(step);
}

bool TRemoteDelete::FireUntrustedCertificate(const TSslCertProblem& problem, std::string& trusted) {
    if (cancelled_ || !problem.Refused()) return false;
    return OnUntrustedCertificate && OnUntrustedCertificate(problem, trusted);
}

void TRemoteDelete::Fail(const std::string& text, const std::string& details) {
    if (!cancelled_) messages_.push_back({text, details});
}

std::unique_ptr<TRemoteDelete> CreateRemoteDelete(const THistoryEntry& entry,
                                                  configRecord& settings) {
    if (entry.Method == HistoryMethodFtp && entry.Encryption == settings::FtpOverSsh)
        return std::make_unique<TSftpDelete>(settings);
    if (entry.Method == HistoryMethodFtp) return std::make_unique<TFtpDelete>(settings);
    return std::make_unique<THttpDelete>(settings);
}

bool IsPlainRemoteName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
    return true;
}

std::string AlreadyGoneText(const std::string& name) {
    return name + " was already gone from the server; it counts as deleted.";
}
