#include "CertificateTrust.h"

#include "Dialogs.h"
#include "configUnit.h"

bool OfferCertificateTrust(const TSslCertProblem& problem, std::string& trusted) {
    auto& dialogs = platform::dialogs();
    if (!problem.Refused() || problem.Fingerprint.empty()) return false;
    const bool yes = dialogs.Confirm(
        problem.Text() +
        "\r\n\r\nTrust this certificate from now on? Answer Yes only if it is your own "
        "server's certificate. A different certificate will be refused again.");
    if (!yes) return false;
    trusted = problem.Fingerprint;
    try {
        SaveSettings();
    } catch (const std::exception& e) {
        // Trusted for this run still; the next run asks again.
        dialogs.MessageBox(e.what());
    }
    return true;
}
