// Deleting over SFTP: the row's server, port, user and directory, today's
// password (or the agent and key files), then the removal of the row's name.
#pragma once

#include "RemoteDelete.h"
#include "SftpSession.h"

class TSftpDelete : public TRemoteDelete {
public:
    explicit TSftpDelete(configRecord& settings);
    ~TSftpDelete() override;

    unsigned TimeoutMs = 15000;

protected:
    TDeleteResult::TOutcome Run(const THistoryEntry& entry) override;
    void Stop() override {}

private:
    configRecord& settings_;
};
