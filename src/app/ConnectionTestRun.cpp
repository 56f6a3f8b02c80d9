// The connection test as Configure and the command line run it: its lines
// in a log window, Cancel there stopping it, and the usual question about a
// certificate that does not verify.
#include "CertificateTrust.h"
#include "ConnectionTest.h"
#include "Dialogs.h"
#include "HostKeyTrust.h"

bool RunConnectionTest(configRecord& settings) {
    const bool ftp = settings.transferType == settings::TransferFtp;
    const bool sftp = ftp && settings.ftpEncryption == settings::FtpOverSsh;
    auto log = platform::dialogs().ShowLog(sftp  ? "Test SFTP publishing"
                                           : ftp ? "Test FTP publishing"
                                                 : "Test HTTP POST publishing");
    TConnectionTest test(settings);
    test.OnLog = [&log](const std::string& line) { log->Add(line); };
    log->OnCancel = [&test] { test.Cancel(); };
    // Nothing is saved here: Configure keeps the answer with the other
    // values, and stores it on OK.
    test.OnUntrustedCertificate = [](const TSslCertProblem& problem, std::string& trusted) {
        if (!AskCertificateTrust(problem)) return false;
        trusted = problem.Fingerprint;
        return true;
    };
    // A key the user trusts goes into known_hosts at once, as ssh does it.
    test.OnUnknownHostKey = AskHostKeyTrust;
    test.OnKeyPassphrase = AskKeyPassphrase;
    const bool passed = test.Run();
    log->OnCancel = nullptr;
    log->Finish();
    settings.ftpCertFingerprint = test.Tried().ftpCertFingerprint;
    settings.httpCertFingerprint = test.Tried().httpCertFingerprint;
    return passed;
}
