#include "PublishSession.h"

namespace {

const char* const Mask = "********";
const std::string PassCommand = "> PASS ";

} // namespace

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

TPublishSession::TPublishSession(std::string password)
    : password_(std::move(password)), progress_(platform::dialogs().ShowProgress("Publishing")) {
    progress_->OnCancel = [this] { FireCancel(); };
}

TPublishSession::~TPublishSession() = default;

void TPublishSession::FireCancel() {
    cancelled_ = true;
    if (OnCancel) OnCancel();
}

// After a cancel the window keeps saying so; the tidying up is no news.
void TPublishSession::Step(const std::string& step) {
    if (progress_ && !cancelled_) progress_->SetStep(step);
}

void TPublishSession::Bytes(uint64_t sent, uint64_t total) {
    if (progress_ && !cancelled_) progress_->SetBytes(sent, total);
}

void TPublishSession::AddTrace(const std::string& line) {
    trace_ += MaskPassword(line, password_) + "\n";
}

void TPublishSession::Fail(const std::string& text) {
    Fail(text, trace_);
}

void TPublishSession::Fail(const std::string& text, const std::string& details) {
    if (cancelled_) return;
    progress_.reset();
    platform::dialogs().MessageBoxWithDetails(text, details);
}

void TPublishSession::Finish(const std::string& details) {
    progress_.reset();
    if (!cancelled_ || finished_) return;
    finished_ = true;
    if (details.empty())
        platform::dialogs().MessageBox("Publishing cancelled.");
    else
        platform::dialogs().MessageBoxWithDetails("Publishing cancelled.", details);
}
