#include "HistoryDialogs.h"

#include "CertificateTrust.h"
#include "Dialogs.h"
#include "HostKeyTrust.h"
#include "RemoteDelete.h"

#include <QDateTime>

#include <memory>

bool DeleteWithDialogs(THistoryStore& store, const THistoryEntry& entry, bool removeRow) {
    auto& dialogs = platform::dialogs();
    LoadSettings();
    auto deleter = CreateRemoteDelete(entry, Settings);
    std::unique_ptr<platform::Progress> progress;
    deleter->OnStep = [&](const std::string& step) {
        if (!progress) {
            progress = dialogs.ShowProgress("Deleting " + entry.Name);
            progress->OnCancel = [&deleter] { deleter->Cancel(); };
        }
        progress->SetStep(step);
    };
    deleter->OnUntrustedCertificate = OfferCertificateTrust;
    deleter->OnUnknownHostKey = AskHostKeyTrust;
    deleter->OnKeyPassphrase = AskKeyPassphrase;
    const TDeleteResult result = deleter->Delete(entry);
    progress.reset();

    if (result.Outcome == TDeleteResult::drCancelled) {
        dialogs.MessageBox("Deleting cancelled.");
        return false;
    }
    for (const TPublishMessage& m : result.Messages)
        dialogs.MessageBoxWithDetails(m.Text, m.Details);
    if (!result.Gone()) return false;
    try {
        if (removeRow)
            store.Remove(entry.Id);
        else
            store.MarkDeleted(entry.Id);
    } catch (const EHistory& e) {
        dialogs.MessageBox("The picture was deleted from the server, but the history could not "
                           "be written: " +
                           std::string(e.what()));
    }
    return true;
}

std::string HistoryTimeText(int64_t time) {
    return QDateTime::fromSecsSinceEpoch(time).toString("yyyy-MM-dd hh:mm:ss").toStdString();
}
