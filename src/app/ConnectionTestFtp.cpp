// The FTP connection test: connect, encrypt if chosen, log in, enter the
// destination directory, upload a probe (in the other transfer mode too
// when the chosen one fails), fetch it from its public address, delete it.
#include "ConnectionTest.h"
#include "FtpSteps.h"
#include "System.h"
#include "tekstiunit.h"

#include <algorithm>
#include <span>

namespace {

const char* ModeName(bool passive) {
    return passive ? "Yes" : "No";
}

} // namespace

std::string TConnectionTest::Why(const TFtpClient& ftp) const {
    if (ftp.StatusCode() == 426 && ftp.ErrorMessage() == "426 Timeout")
        return "no answer for " + std::to_string(TimeoutSeconds) + " seconds";
    return Masked(ftp.LastResponse().empty() ? ftp.ErrorMessage() : ftp.LastResponse());
}

bool TConnectionTest::RunFtp() {
    const configRecord& s = settings_;
    FireLog("Testing FTP publishing to " + s.hostName + " as " + s.userName + ".");
    ftp_ = CreatePublishFtpClient();
    TFtpClient& ftp = *ftp_;
    ApplyFtpSettings(ftp, s);
    ftp.SetTimeout(TimeoutSeconds);
    ftp.OnError = [this](TCustomFtpCli*, std::string& msg) { usageError_ = msg; };
    // Only the server's lines are kept: the trace of our own commands
    // holds the password.
    ftp.OnDisplay = [this](TCustomFtpCli*, std::string& line) {
        if (line.compare(0, 2, "< ") == 0) replies_.Add(line.substr(2));
    };
    TFtpSessionScope end(ftp, cancelled_);
    if (!FtpConnect(ftp) || !FtpLogin(ftp) || !FtpEnterDirectory(ftp)) {
        if (!usageError_.empty() && !cancelled_)
            FireLog("The test could not go on: " + usageError_);
        return false;
    }

    const TLocalProbe probe;
    const std::string &name = probe.Name(), &bytes = probe.Bytes(), &path = probe.Path();
    if (!probe.Written()) {
        FireLog("Cannot write the test picture " + path + ".");
        return false;
    }
    bool uploaded = false;
    bool ok = FtpUpload(ftp, path, name, uploaded);
    if (uploaded && !cancelled_) ok = FetchProbeByUrlPrefix(s.hostPrefix, name, bytes) && ok;
    if (uploaded) FtpDeleteProbe(ftp, name);
    return ok;
}

void TConnectionTest::FtpDeleteProbe(TFtpClient& ftp, const std::string& name) {
    const std::string leftOver = "; you may want to delete " + name + " yourself.";
    if (cancelled_) {
        FireLog("The test picture may be left on the server" + leftOver);
        return;
    }
    // The fetch can take long enough for the server to drop an idle session.
    if (!ftp.Connected() && !FtpReconnect(ftp, "to delete the test picture")) {
        if (!cancelled_) FireLog("The test picture is left on the server" + leftOver);
        return;
    }
    ftp.SetHostFileName(name);
    if (ftp.Dele())
        FireLog("Deleted the test picture from the server.");
    else if (!cancelled_)
        FireLog("Could not delete the test picture (" + Why(ftp) + ")" + leftOver);
}

bool TConnectionTest::FtpReconnect(TFtpClient& ftp, const std::string& why) {
    FireLog("Connecting again " + why + "...");
    replies_.Clear();
    if (cancelled_) return false;
    const bool ok = ftp.Connect() && !cancelled_ && ftp.Cwd() && !cancelled_;
    if (!ok && !cancelled_) FireLog("Connecting again failed (" + Why(ftp) + ").");
    return ok;
}

bool TConnectionTest::FtpConnect(TFtpClient& ftp) {
    const std::string& host = settings_.hostName;
    FireLog("Looking up " + host + " and connecting...");
    const bool ok = ConnectTrusting(
        ftp,
        [&] {
            replies_.Clear();
            return !cancelled_ && ftp.Open();
        },
        [this](const TSslCertProblem& p, std::string& t) { return Trust(p, t); },
        settings_.ftpCertFingerprint);
    if (cancelled_) return false;
    if (ok) {
        FireLog("Connected to " + host + " (" + ftp.DnsResult() + ").");
        if (!replies_.Empty()) FireLog("The server says: " + Masked(replies_.Front()));
        if (ftp.Encryption() != ftpEncNone)
            FireLog("The connection is encrypted (TLS).");
        else
            FtpSuggestTls(ftp);
        return true;
    }
    const std::string answer = Why(ftp);
    if (ftp.DnsResult().empty()) {
        FireLog("Cannot find the server \"" + host + "\" (" + answer + "): check the server name.");
        return false;
    }
    FireLog("Cannot open the connection to " + host + " (" + ftp.DnsResult() + "): " + answer);
    if (ftp.CertProblem().Refused()) return false;
    const bool greeted = !replies_.Empty();
    const std::vector<std::string> replies = replies_.Lines();
    const bool tlsAgreed = std::any_of(replies.begin(), replies.end(), [](const std::string& l) {
        return l.compare(0, 4, "234 ") == 0;
    });
    if (ftp.Encryption() == ftpEncExplicit && tlsAgreed)
        FireLog("The server agreed to encrypt, but the encrypted connection could not be set "
                "up. Check the server's TLS settings.");
    else if (ftp.Encryption() == ftpEncExplicit && greeted)
        FireLog("The server did not agree to encrypt the connection. If it offers no FTP over "
                "TLS, choose None under Encryption (the password then travels unencrypted).");
    else if (ftp.Encryption() == ftpEncImplicit)
        FireLog("Implicit TLS connects to port 990 when the port is 21. Most hosts that offer "
                "encryption want Explicit TLS on the usual port.");
    else if (!greeted && ftp.ControlReached())
        FireLog("The server took the connection but never greeted. If it expects TLS from the "
                "first byte, choose Implicit TLS under Encryption.");
    else
        FireLog("Check the server name and port, and that a firewall lets the connection out.");
    return false;
}

// A plain login where the server offers TLS sends the password in clear for
// nothing; FEAT tells without changing the session.
void TConnectionTest::FtpSuggestTls(TFtpClient& ftp) {
    replies_.Clear();
    // The client sends its local file name as the quoted command.
    ftp.SetLocalFileName("FEAT");
    ftp.Quote();
    for (const std::string& line : replies_.Lines())
        if (LowerCase(line).find("auth tls") != std::string::npos) {
            offersTls_ = true;
            FireLog("The server offers encryption (AUTH TLS): choose Explicit TLS under "
                    "Encryption, so that the password and the pictures do not travel "
                    "unencrypted.");
            return;
        }
}

bool TConnectionTest::FtpLogin(TFtpClient& ftp) {
    if (cancelled_) return false;
    FireLog("Logging in as " + settings_.userName + "...");
    bool ok = ftp.User();
    // A server may let the user in without a password.
    if (ok && ftp.StatusCode() != 230) ok = ftp.Pass();
    if (cancelled_) return false;
    if (ok) {
        FireLog("Logged in.");
        return true;
    }
    // Servers that offer TLS often refuse plain logins outright.
    FireLog("The server refused the login (" + Why(ftp) + "): " +
            (offersTls_ ? "if it insists on encryption, choose Explicit TLS; else check the "
                          "username and password."
                        : "check the username and password."));
    return false;
}

bool TConnectionTest::FtpEnterDirectory(TFtpClient& ftp) {
    if (cancelled_) return false;
    const std::string& dir = settings_.destDirectory;
    // As a publish does: an existing directory, or one the server will not
    // create, is no reason to stop.
    bool created = false;
    const bool entered = EnterDirectory(ftp, dir, !dir.empty(), cancelled_, created);
    if (created) FireLog("Created the directory " + dir + ".");
    if (entered) {
        FireLog("Entered the directory " + dir + ".");
        return true;
    }
    if (!cancelled_ && !dir.empty())
        FireLog("Cannot enter the directory \"" + dir + "\" (" + Why(ftp) +
                "): check the destination directory.");
    return false;
}

bool TConnectionTest::FtpUpload(TFtpClient& ftp, const std::string& local, const std::string& name,
                                bool& worked) {
    const bool passive = settings_.passive;
    FireLog("Uploading a test picture with passive transfer " + std::string(ModeName(passive)) +
            "...");
    PrepareUpload(ftp, local, name, passive);
    worked = ftp.TypeSet() && ftp.Put();
    if (cancelled_) return false;
    if (worked) {
        FireLog("Uploaded the test picture.");
        return true;
    }
    FireLog("The upload failed: " + Why(ftp));
    // A failed data connection can take the control connection with it.
    if (!ftp.Connected() && !FtpReconnect(ftp, "to try the other transfer mode")) return false;
    if (cancelled_) return false;
    FireLog("Trying passive transfer " + std::string(ModeName(!passive)) + "...");
    ftp.SetPassive(!passive);
    worked = ftp.TypeSet() && ftp.Put();
    if (cancelled_) return false;
    if (worked)
        FireLog("Uploading works with passive transfer " + std::string(ModeName(!passive)) +
                ": choose \"" + ModeName(!passive) + "\" under Passive transfer.");
    else
        FireLog("Uploading fails with either transfer mode (" + Why(ftp) +
                "): check that the account may write in the directory and that a firewall "
                "lets data connections through.");
    return false;
}
