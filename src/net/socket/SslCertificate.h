// Texts of a peer certificate for the TLS layer's explanations.
#pragma once

#include "SslWSocket.h"

#include <openssl/x509.h>

#include <string>

namespace ssltext {

// SHA-256 as upper-case hex pairs joined by ":"; empty without a certificate.
std::string Fingerprint(X509* cert);
// The subject as "CN=...,O=...", control characters replaced.
std::string Subject(X509* cert);
// A short reason for an X509_V_ERR_* code.
std::string Reason(int verifyError);

} // namespace ssltext
