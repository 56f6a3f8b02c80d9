// Publishing over FTP: a fixed chain of synchronous client operations that
// puts the exported JPEG into the destination directory. Each operation
// waits while the event loop runs, up to the client's time-out.
#pragma once

#include "Publisher.h"
#include "TraceLines.h"

// How a usage error of the FTP client ("UserName emtpy", ...) is shown.
std::string FtpErrorText(const std::string& msg);
// A failed connect or login, and a directory that cannot be entered, with
// what the server said (its copies of the password masked by the caller).
std::string ConnectFailedText(const std::string& serverText);
std::string DirectoryFailedText(const std::string& dir, const std::string& serverText);

class TFtpPublisher : public TPublisher {
public:
    // client: the one to drive (the main window's), or null for one of its own.
    TFtpPublisher(configRecord& settings, TFtpClient* client);
    ~TFtpPublisher() override;

    // The exported file is removed with the publisher, after its result has
    // been shown, whether the upload worked or not; a failure to remove is
    // ignored.
    TPublishResult Publish(const std::string& localFile, const std::string& remoteName) override;
    TFtpClient& Client() { return client_; }

protected:
    void Stop() override;

private:
    // A usage error of the client ("UserName emtpy", ...).
    void FtpError(const std::string& msg);

    configRecord& settings_;
    std::unique_ptr<TFtpClient> own_;
    TFtpClient& client_;
    std::string exported_;
    // The conversation so far, the password masked: the details of each
    // failure. A server that talks without end leaves its first and latest
    // lines.
    TTraceLines trace_;
};
