// Asking the user whether to trust a server certificate that did not verify
// (a self-hosted server with its own certificate, typically).
#pragma once

#include "SslWSocket.h"

#include <string>

// Shows what is wrong with the certificate and asks; true when the user
// trusts it.
bool AskCertificateTrust(const TSslCertProblem& problem);
// Asks, and when the user agrees, the fingerprint goes to `trusted` and the
// settings are saved; true then.
bool OfferCertificateTrust(const TSslCertProblem& problem, std::string& trusted);
