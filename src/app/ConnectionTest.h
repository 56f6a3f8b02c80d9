// A check of the publishing settings in Configure before they are saved:
// the steps of a publish, done with a small probe picture and reported one
// line each, so that the user learns which setting is wrong and what to do
// about it. FTP also fetches the probe back from its public address, which
// proves the URL prefix; HTTP POST asks the upload script to check its key
// and directory without storing anything.
#pragma once

#include "SftpSession.h"
#include "SslWSocket.h"
#include "System.h"
#include "TraceLines.h"
#include "configUnit.h"

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

class TFtpClient;
class kwHTTP;

class TConnectionTest {
public:
    // settings: the values to try; its transferType picks the method.
    explicit TConnectionTest(const configRecord& settings);
    ~TConnectionTest();
    TConnectionTest(const TConnectionTest&) = delete;
    TConnectionTest& operator=(const TConnectionTest&) = delete;

    // Runs the steps in order, each as far as the ones before it allow;
    // true when publishing with these settings works.
    bool Run();
    // Stops the step under way; Run then ends at once.
    void Cancel();
    bool Cancelled() const { return cancelled_; }
    // The settings tried, with the fingerprints of certificates the user
    // chose to trust meanwhile.
    const configRecord& Tried() const { return settings_; }

    // One line per step and finding.
    std::function<void(const std::string& line)> OnLog;
    // A certificate that did not verify: true when the user now trusts it,
    // its fingerprint then in trusted.
    std::function<bool(const TSslCertProblem& problem, std::string& trusted)>
        OnUntrustedCertificate;
    // As TPublisher's: an SSH host key known_hosts does not have, and the
    // passphrase of a key file.
    std::function<bool(const std::string& host, uint16_t port, const TSshHostKey& key)>
        OnUnknownHostKey;
    std::function<bool(const std::string& keyFile, std::string& passphrase)> OnKeyPassphrase;

    // The FTP client's time-out and the HTTP idle time-out, in seconds.
    int TimeoutSeconds = 15;

private:
    bool RunFtp();
    bool FtpConnect(TFtpClient& ftp);
    bool FtpLogin(TFtpClient& ftp);
    bool FtpEnterDirectory(TFtpClient& ftp);
    void FtpSuggestTls(TFtpClient& ftp);
    // Connects, logs in and enters the directory again after the server
    // dropped the session; says what failed.
    bool FtpReconnect(TFtpClient& ftp, const std::string& why);
    // The probe on the server goes, or the user is told to remove it.
    void FtpDeleteProbe(TFtpClient& ftp, const std::string& name);
    // The upload in the chosen transfer mode, else in the other; worked
    // tells whether the probe is on the server (to be deleted).
    bool FtpUpload(TFtpClient& ftp, const std::string& local, const std::string& name,
                   bool& worked);
    bool FetchProbe(const std::string& url, const std::string& bytes);
    // A missing "/" at the end of the URL prefix is the commonest slip:
    // says so when the probe is found with one.
    void TryPrefixWithSlash(const std::string& prefix, const std::string& name,
                            const std::string& bytes);
    // The uploaded probe fetched back where the URL prefix says it is, with
    // advice when the prefix is empty or lacks its "/".
    bool FetchProbeByUrlPrefix(const std::string& prefix, const std::string& name,
                               const std::string& bytes);
    bool RunSftp();
    bool RunHttp();
    // Sends the request and waits for its end (or Cancel).
    void Request(kwHTTP& http);
    // Explains a refused certificate and asks whether to trust it.
    bool Trust(const TSslCertProblem& problem, std::string& trusted);
    bool FireUntrustedCertificate(const TSslCertProblem& problem, std::string& trusted);
    // field: the prefix's caption in Configure, for the note.
    void NoteUrlPrefix(const std::string& prefix, const std::string& field);
    void FireLog(const std::string& line);
    // Text from a server, with any copy of the method's secret masked (a
    // server may echo what it was sent). Only what servers say goes through
    // it: masking a short secret in our own sentences would garble them.
    std::string Masked(const std::string& serverText) const;
    // What went wrong with the FTP client's last request, in the server's
    // words where it said any.
    std::string Why(const TFtpClient& ftp) const;

    configRecord settings_;
    kwHTTP* http_ = nullptr;
    // What the FTP server said since the last command.
    TTraceLines replies_;
    // A setting the FTP client cannot use ("UserName emtpy", ...).
    std::string usageError_;
    bool cancelled_ = false;
    // The plain server listed AUTH TLS among its features.
    bool offersTls_ = false;
    // Lines are not reported while set.
    bool quiet_ = false;
    // Last: its handlers write into the members above.
    std::unique_ptr<TFtpClient> ftp_;
};

// Runs the test in a log window, offering to trust a refused certificate as
// a publish does; a certificate the user trusts goes into settings, for
// Configure to keep on OK. True when the test passed.
bool RunConnectionTest(configRecord& settings);

// The upload test's picture, a small valid JPEG, written to the working
// directory under a name no capture takes ("brwk-test-" + random hex digits
// + ".jpg"). The local copy goes when the test ends, however it ends.
class TLocalProbe {
public:
    TLocalProbe();
    ~TLocalProbe();
    TLocalProbe(const TLocalProbe&) = delete;
    TLocalProbe& operator=(const TLocalProbe&) = delete;
    bool Written() const { return written_; }
    const std::string& Name() const { return name_; }
    const std::string& Bytes() const { return bytes_; }
    const std::string& Path() const { return path_; }

private:
    std::string name_;
    std::string bytes_;
    std::string path_;
    bool written_ = false;
};
