// What a refused certificate looks like to a person: its reasons, subject
// and fingerprint.
#include "SslCertificate.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <algorithm>

std::string TSslCertProblem::Text() const {
    std::string reasons;
    for (const std::string& r : Reasons) reasons += (reasons.empty() ? "" : ", ") + r;
    std::string text = "The certificate of " + HostName + " is not trusted";
    if (!reasons.empty()) text += " (" + reasons + ")";
    text += ".\r\nSubject: " + (Subject.empty() ? std::string("(none)") : Subject);
    text +=
        "\r\nSHA-256 fingerprint: " + (Fingerprint.empty() ? std::string("(none)") : Fingerprint);
    return text;
}

namespace ssltext {

std::string Fingerprint(X509* cert) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!cert || X509_digest(cert, EVP_sha256(), digest, &size) != 1) return {};
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned i = 0; i < size; ++i) {
        if (i) text += ':';
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

std::string Subject(X509* cert) {
    if (!cert) return {};
    BIO* out = BIO_new(BIO_s_mem());
    if (!out) return {};
    // "CN=host,O=maker": the form people see in browsers' certificate views.
    X509_NAME_print_ex(out, X509_get_subject_name(cert), 0, XN_FLAG_RFC2253);
    char* bytes = nullptr;
    const long size = BIO_get_mem_data(out, &bytes);
    // Cut at a sane length: it is shown to people.
    std::string text(bytes, size_t(std::clamp(size, 0L, 400L)));
    BIO_free(out);
    // A control character could forge lines of the explanation.
    std::replace_if(
        text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 32; }, '?');
    return text;
}

std::string Reason(int verifyError) {
    switch (verifyError) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return "unknown issuer";
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "not yet valid";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "name mismatch";
    default:
        return X509_verify_cert_error_string(verifyError);
    }
}

} // namespace ssltext
