#include "PublishDialogs.h"

#include "CertificateTrust.h"
#include "Dialogs.h"
#include "HistoryRecord.h"
#include "HostKeyTrust.h"
#include "JpegExport.h"
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

void ShowPublishedUrl(const std::string& url) {
    if (Settings.urlToClipboard) platform::SetClipboardText(url);
    platform::dialogs().InputBox(PublishedUrlCaption, "URL for capture", url);
}

TPublishResult PublishWithDialogs(TPublisher& publisher, const std::string& name) {
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

    if (result.Outcome == TPublishResult::prCancelled) {
        dialogs.MessageBoxWithDetails("Publishing cancelled.", result.CancelDetails);
        return result;
    }
    // Written before anything is shown: the exported file goes with the publisher.
    std::optional<std::string> historyFailure;
    if (result.Outcome == TPublishResult::prPublished)
        historyFailure = RecordPublish(Settings, name, result.Url, ExportFilePath(name));
    for (size_t i = 0; i <= result.Messages.size(); ++i) {
        if (i == result.MessagesBeforeUrl && !result.Url.empty()) ShowPublishedUrl(result.Url);
        if (i < result.Messages.size())
            dialogs.MessageBoxWithDetails(result.Messages[i].Text, result.Messages[i].Details);
    }
    if (historyFailure) dialogs.MessageBox(HistoryNotWrittenText(*historyFailure));
    return result;
}
