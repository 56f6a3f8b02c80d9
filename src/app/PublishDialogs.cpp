#include "PublishDialogs.h"

#include "CertificateTrust.h"
#include "Dialogs.h"
#include "HistoryRecord.h"
#include "HostKeyTrust.h"
#include "JpegExport.h"
#include "Notifications.h"
#include "Screen.h"
#include "WorkingFiles.h"

#include <memory>

std::optional<std::string> ExportForPublish(const std::string& source) {
    LoadSettings();
    std::string name = GenerateFileName() + ".jpg";
    if (!platform::dialogs().InputQuery("Preparing for publishing",
                                        "Enter filename to be published", name))
        return std::nullopt;
    // The confirmed name is used as typed, but never as a path out of the
    // temporary directory.
    ConvertBmpToJpeg(source, ExportFilePath(name));
    return name;
}

std::string ExportUnderGeneratedName(const std::string& source) {
    LoadSettings();
    const std::string name = GenerateFileName() + ".jpg";
    ConvertBmpToJpeg(source, ExportFilePath(name));
    return name;
}

std::string PublishedNoticeText(const std::string& url) {
    return "Published: " + url + " (copied)";
}

void ShowPublishedUrl(const std::string& url) {
    if (Settings.urlToClipboard) platform::SetClipboardText(url);
    platform::dialogs().InputBox(PublishedUrlCaption, "URL for capture", url);
}

namespace {

// The publisher's run with its progress window; the history written.
TPublishResult RunPublisher(TPublisher& publisher, const std::string& name,
                            std::optional<std::string>& historyFailure) {
    auto& dialogs = platform::dialogs();
    std::unique_ptr<platform::Progress> progress;
    auto window = [&]() -> platform::Progress& {
        if (!progress) {
            progress = dialogs.ShowProgress("Publishing");
            progress->OnCancel = [&publisher] { publisher.Cancel(); };
        }
        return *progress;
    };
    publisher.OnStep = [&](const std::string& step) { window().SetStep(step); };
    publisher.OnBytes = [&](uint64_t sent, uint64_t total) { window().SetBytes(sent, total); };
    publisher.OnUntrustedCertificate = OfferCertificateTrust;
    publisher.OnUnknownHostKey = AskHostKeyTrust;
    publisher.OnKeyPassphrase = AskKeyPassphrase;
    TPublishResult result;
    try {
        result = publisher.Publish(ExportFilePath(name), name);
    } catch (...) {
        publisher.OnStep = nullptr;
        publisher.OnBytes = nullptr;
        throw;
    }
    publisher.OnStep = nullptr;
    publisher.OnBytes = nullptr;
    progress.reset();
    // Written before anything is shown: the exported file goes with the publisher.
    if (result.Outcome == TPublishResult::prPublished)
        historyFailure = RecordPublish(Settings, name, result.Url, ExportFilePath(name));
    return result;
}

// Each message with its details, and the URL at its place among them.
void ShowResult(const TPublishResult& result, const std::optional<std::string>& historyFailure) {
    auto& dialogs = platform::dialogs();
    for (size_t i = 0; i <= result.Messages.size(); ++i) {
        if (i == result.MessagesBeforeUrl && !result.Url.empty()) ShowPublishedUrl(result.Url);
        if (i < result.Messages.size())
            dialogs.MessageBoxWithDetails(result.Messages[i].Text, result.Messages[i].Details);
    }
    if (historyFailure) dialogs.MessageBox(HistoryNotWrittenText(*historyFailure));
}

} // namespace

TPublishResult PublishWithDialogs(TPublisher& publisher, const std::string& name) {
    std::optional<std::string> historyFailure;
    const TPublishResult result = RunPublisher(publisher, name, historyFailure);
    if (result.Outcome == TPublishResult::prCancelled)
        platform::dialogs().MessageBoxWithDetails("Publishing cancelled.", result.CancelDetails);
    else
        ShowResult(result, historyFailure);
    return result;
}

TPublishResult PublishQuietly(TPublisher& publisher, const std::string& name) {
    std::optional<std::string> historyFailure;
    const TPublishResult result = RunPublisher(publisher, name, historyFailure);
    // The user's own Cancel needs no word about it.
    if (result.Outcome == TPublishResult::prCancelled) return result;
    auto& notifier = platform::notifier();
    if (result.Clean() && !historyFailure) {
        platform::SetClipboardText(result.Url);
        if (!notifier.Notify(PublishedNoticeText(result.Url), name, result.Url))
            ShowPublishedUrl(result.Url);
        return result;
    }
    // The first thing that went wrong is the title; the rest goes below it.
    std::string title = historyFailure ? HistoryNotWrittenText(*historyFailure) : std::string();
    std::string body;
    for (const TPublishMessage& m : result.Messages) {
        const std::string text = m.Details.empty() ? m.Text : m.Text + "\n" + m.Details;
        if (title.empty())
            title = m.Text, body = m.Details;
        else
            body += (body.empty() ? "" : "\n") + text;
    }
    if (title.empty()) title = "Publishing failed.";
    if (!result.Url.empty() && Settings.urlToClipboard) platform::SetClipboardText(result.Url);
    if (!notifier.Notify(title, body, result.Url)) ShowResult(result, historyFailure);
    return result;
}
