// Deleting a published picture from its server: the FTP server of the
// history row (with today's password and the settings' certificate trust),
// or the upload script's delete request. Like a publish, it runs on the event
// loop without a window, reports through its events and ends in one result.
#pragma once

#include "HistoryStore.h"
#include "Publisher.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TDeleteResult {
    enum TOutcome { drDeleted, drAlreadyGone, drCancelled, drFailed };
    TOutcome Outcome = drFailed;
    // Why it failed, or the note on a picture that was already gone.
    std::vector<TPublishMessage> Messages;

    // The server no longer has the picture.
    bool Gone() const { return Outcome == drDeleted || Outcome == drAlreadyGone; }
};

class TRemoteDelete {
public:
    virtual ~TRemoteDelete() = default;
    TRemoteDelete(const TRemoteDelete&) = delete;
    TRemoteDelete& operator=(const TRemoteDelete&) = delete;

    // Deletes the row's picture; waits on the event loop until done.
    TDeleteResult Delete(const THistoryEntry& entry);
    // Stops at once; the delete then ends as cancelled.
    void Cancel();

    std::function<void(const std::string& step)> OnStep;
    // As TPublisher::OnUntrustedCertificate.
    std::function<bool(const TSslCertProblem& problem, std::string& trusted)>
        OnUntrustedCertificate;
    // As TPublisher's: an SSH host key known_hosts does not have, and the
    // passphrase of a key file.
    std::function<bool(const std::string& host, uint16_t port, const TSshHostKey& key)>
        OnUnknownHostKey;
    std::function<bool(const std::string& keyFile, std::string& passphrase)> OnKeyPassphrase;

protected:
    TRemoteDelete() = default;
    // The outcome, with the failure messages added by Fail.
    virtual TDeleteResult::TOutcome Run(const THistoryEntry& entry) = 0;
    virtual void Stop() = 0;

    const bool& CancelledFlag() const { return cancelled_; }
    void FireStep(const std::string& step);
    bool FireUntrustedCertificate(const TSslCertProblem& problem, std::string& trusted);
    void Fail(const std::string& text, const std::string& details = {});

private:
    bool cancelled_ = false;
    std::vector<TPublishMessage> messages_;
};

// The deleter for the row's method. Today's settings give the password, the
// key, the posting URL and the trusted certificates; a certificate the user
// now trusts goes into them.
std::unique_ptr<TRemoteDelete> CreateRemoteDelete(const THistoryEntry& entry,
                                                  configRecord& settings);

// A name as an upload stores it: no path, no parent, no control character.
bool IsPlainRemoteName(const std::string& name);

// The note on a picture the server no longer had.
std::string AlreadyGoneText(const std::string& name);

inline constexpr const char* MarkerDeleteOk = "##DELETE_OK##";
inline constexpr const char* MarkerDeleteGone = "##DELETE_GONE##";
inline constexpr const char* MarkerDeleteFailed = "##DELETE_FAILED##";
