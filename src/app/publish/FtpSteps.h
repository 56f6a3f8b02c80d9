// The FTP steps of a publish, shared by the publisher and the connection
// test: the client set up from the settings, the connect with a retry once
// the user trusts a refused certificate, the directory, the upload, and the
// end of the session however it ends.
#pragma once

#include "FtpCli.h"
#include "configUnit.h"

#include <functional>
#include <memory>
#include <string>

std::unique_ptr<TFtpClient> CreatePublishFtpClient();

// Server, port, login, destination directory and encryption (with the
// trusted certificate). Raises FtpException while the client is connected.
void ApplyFtpSettings(TFtpClient& ftp, const configRecord& settings);

// connect() opens the session. When it fails on a certificate that trust()
// now accepts (its fingerprint going to fingerprint), connect() runs once
// more, with that certificate trusted.
using TTrustQuestion = std::function<bool(const TSslCertProblem& problem, std::string& trusted)>;
bool ConnectTrusting(TFtpClient& ftp, const std::function<bool()>& connect,
                     const TTrustQuestion& trust, std::string& fingerprint);

// MKD (when create), then CWD: an existing directory, or one the server will
// not create, is no reason to stop; the change of directory tells whether it
// is there. created: the server made it.
bool EnterDirectory(TFtpClient& ftp, const std::string& dir, bool create, const bool& cancelled,
                    bool& created);

// The names and modes of an upload of local as remote; TypeSet and Put
// follow.
void PrepareUpload(TFtpClient& ftp, const std::string& local, const std::string& remote,
                   bool passive);

// Removes name, the part of a picture an upload that failed after the
// server had begun to write left under its public name: on the control
// connection, or on a new one when that is gone. The sentence for the
// details says how it went.
std::string RemovePartialFile(TFtpClient& ftp, const std::string& name);

// However a session ends, it is closed (QUIT unless cancelled, then the
// connections dropped) and the client's handlers into its user are taken
// back. The client may outlive the session.
class TFtpSessionScope {
public:
    TFtpSessionScope(TFtpClient& ftp, const bool& cancelled) : ftp_(ftp), cancelled_(cancelled) {}
    ~TFtpSessionScope();
    TFtpSessionScope(const TFtpSessionScope&) = delete;
    TFtpSessionScope& operator=(const TFtpSessionScope&) = delete;

private:
    TFtpClient& ftp_;
    const bool& cancelled_;
};
