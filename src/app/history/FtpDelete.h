// Deleting over FTP: the row's server, port, user, directory and
// encryption, today's password, then DELE of the row's name.
#pragma once

#include "RemoteDelete.h"
#include "TraceLines.h"

class TFtpClient;

class TFtpDelete : public TRemoteDelete {
public:
    explicit TFtpDelete(configRecord& settings);
    ~TFtpDelete() override;
    TFtpClient& Client() { return *client_; }

protected:
    TDeleteResult::TOutcome Run(const THistoryEntry& entry) override;
    void Stop() override;

private:
    configRecord& settings_;
    std::unique_ptr<TFtpClient> client_;
    TTraceLines trace_;
};
