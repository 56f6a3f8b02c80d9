#include "CertificateTrust.h"

#include "Dialogs.h"
#include "configUnit.h"

bool AskCertificateTrust(const TSslCertProblem& problem) {
    if (!problem.Refused() || problem.Fingerprint.empty()) return false;
    return platform::dialogs().Confirm(
        problem.Text() +
        "\r\n\r\nTrust this certificate from now on? Answer Yes only if it is your own "
        "server's certificate. A different certificate will be refused again.");
}

bool OfferCertificateTrust(const TSslCertProblem& problem, std::string& trusted) {
    auto& dialogs = platform::dialogs();
    if (!AskCertificateTrust(problem)) return false;
    trusted = problem.Fingerprint;
    try {
        SaveSettings();
    } catch (const std::exception& e) {
        // Trusted for this run still; the next run asks again.
        dialogs.MessageBox(e.what());
    }
    return true;
}
