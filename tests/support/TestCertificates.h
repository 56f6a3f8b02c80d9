// Certificates made with the openssl tool for TLS tests, once per process:
// a test CA, a server certificate for localhost and 127.0.0.1, one with
// another name, an expired one, and one from a CA nobody trusts. Get()
// points SSL_CERT_FILE at the test CA before the program's first TLS
// connection, so the real verification path runs against it.
#pragma once

#include <string>

struct TestCertificate {
    std::string Cert; // PEM file
    std::string Key;  // PEM file
};

class TestCertificates {
public:
    static const TestCertificates& Get();

    bool Ready() const { return Failure.empty(); }
    const std::string& Error() const { return Failure; }

    std::string Ca;
    TestCertificate Server;    // signed by Ca, localhost and 127.0.0.1
    TestCertificate WrongName; // signed by Ca, other.invalid only
    TestCertificate Expired;   // signed by Ca, right names, ended in 2020
    TestCertificate Rogue;     // self-signed, right names

    // "AB:CD:..." as the openssl tool prints it.
    static std::string FingerprintOf(const std::string& certFile);
    static std::string SubjectOf(const std::string& certFile);

private:
    TestCertificates();
    ~TestCertificates();
    std::string Dir;
    std::string Failure;
};
