// Deleting through the upload script: its delete request, the key and the
// name POSTed like an upload to today's posting URL.
#pragma once

#include "RemoteDelete.h"

class kwHTTP;

class THttpDelete : public TRemoteDelete {
public:
    explicit THttpDelete(configRecord& settings);
    ~THttpDelete() override;

    unsigned IdleTimeoutMs = 15000;

protected:
    TDeleteResult::TOutcome Run(const THistoryEntry& entry) override;
    void Stop() override;

private:
    void Send(kwHTTP& http);

    configRecord& settings_;
    kwHTTP* current_ = nullptr;
};

// "delete=1&filename=" + name + "&key=" + key, unescaped as an upload's form.
std::string BuildDeleteForm(const std::string& name, const std::string& key);

// What a script says that answers a delete request as an upload.
inline constexpr const char* OlderScriptText =
    "The upload script on the server does not know the delete request: put the "
    "brwk_upload.php of this version on the server.";
