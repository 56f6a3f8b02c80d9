#include "TestCertificates.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Output(const std::string& command) {
    std::string text;
    if (FILE* p = popen(command.c_str(), "r")) {
        char chunk[256];
        for (size_t n; (n = fread(chunk, 1, sizeof chunk, p)) > 0;) text.append(chunk, n);
        pclose(p);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

} // namespace

const TestCertificates& TestCertificates::Get() {
    static const TestCertificates certs;
    return certs;
}

TestCertificates::TestCertificates() {
    std::string pattern = "/tmp/brwk-certs-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        Failure = "cannot make a directory for certificates";
        return;
    }
    Dir = pattern;
    const std::string d = Dir + "/";
    Ca = d + "ca.pem";
    auto pair = [&](const char* name) {
        return TestCertificate{d + name + ".pem", d + name + ".key"};
    };
    Server = pair("server");
    WrongName = pair("wrongname");
    Expired = pair("expired");
    Rogue = pair("rogue");
    const std::string rightNames = "subjectAltName=DNS:localhost,IP:127.0.0.1";
    std::ofstream(d + "right.ext") << rightNames << "\n";
    std::ofstream(d + "wrong.ext") << "subjectAltName=DNS:other.invalid\n";
    // openssl ca gives the expired certificate its dates in the past.
    std::ofstream(d + "index.txt");
    std::ofstream(d + "serial") << "1000\n";
    std::ofstream(d + "ca.cnf")
        << "[ca]\ndefault_ca=c\n[c]\ndatabase=" << d << "index.txt\nnew_certs_dir=" << d
        << "\nserial=" << d << "serial\ndefault_md=sha256\npolicy=p\n[p]\ncommonName=supplied\n";
    const std::string req = "openssl req -newkey rsa:2048 -nodes -batch ";
    const std::string sign =
        "openssl x509 -req -days 30 -CA " + Ca + " -CAkey " + d + "ca.key -CAcreateserial ";
    const bool made =
        Run("openssl req -x509 -newkey rsa:2048 -nodes -batch -days 30 -subj '/CN=Brindlewick Test "
            "CA' "
            "-keyout " +
            d + "ca.key -out " + Ca) &&
        Run(req + "-subj /CN=localhost -keyout " + Server.Key + " -out " + d + "server.csr") &&
        Run(sign + "-in " + d + "server.csr -out " + Server.Cert + " -extfile " + d +
            "right.ext") &&
        Run(req + "-subj /CN=other.invalid -keyout " + WrongName.Key + " -out " + d +
            "wrong.csr") &&
        Run(sign + "-in " + d + "wrong.csr -out " + WrongName.Cert + " -extfile " + d +
            "wrong.ext") &&
        Run(req + "-subj /CN=localhost -keyout " + Expired.Key + " -out " + d + "expired.csr") &&
        Run("openssl ca -batch -notext -config " + d + "ca.cnf -cert " + Ca + " -keyfile " + d +
            "ca.key -startdate 20200101000000Z -enddate 20200201000000Z -extfile " + d +
            "right.ext -in " + d + "expired.csr -out " + Expired.Cert) &&
        Run("openssl req -x509 -newkey rsa:2048 -nodes -batch -days 30 -subj /CN=localhost "
            "-addext " +
            rightNames + " -keyout " + Rogue.Key + " -out " + Rogue.Cert);
    if (!made) {
        Failure = "openssl could not make the test certificates";
        return;
    }
    setenv("SSL_CERT_FILE", Ca.c_str(), 1);
    setenv("SSL_CERT_DIR", Dir.c_str(), 1); // nothing of the system's store
}

TestCertificates::~TestCertificates() {
    std::error_code ignored;
    if (!Dir.empty()) std::filesystem::remove_all(Dir, ignored);
}

std::string TestCertificates::FingerprintOf(const std::string& certFile) {
    const std::string line = Output("openssl x509 -noout -fingerprint -sha256 -in " + certFile);
    const size_t eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

std::string TestCertificates::SubjectOf(const std::string& certFile) {
    return Output("openssl x509 -noout -subject -nameopt compat -in " + certFile);
}
