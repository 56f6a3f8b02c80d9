#include "ConnectionTest.h"

#include "FtpCli.h"
#include "HttpResponse.h"
#include "HttpUrl.h"
#include "JpegEncoder.h"
#include "JpegExport.h"
#include "Publisher.h"
#include "Random.h"
#include "kwHTTPUnit.h"

namespace {

constexpr int ProbeSide = 16;
// Redirects followed before the fetch gives up; a site needs one or two.
constexpr int MaxRedirects = 5;

void ProbeRow(const void*, int y, uint8_t* rgb) noexcept {
    for (int x = 0; x < ProbeSide; ++x, rgb += 3) {
        rgb[0] = uint8_t(x * 16);
        rgb[1] = uint8_t(y * 16);
        rgb[2] = 128;
    }
}

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Location may leave out the scheme, or be a path on the same server.
std::string Resolve(const THttpUrl& base, const std::string& location) {
    if (location.find("://") != std::string::npos) return location;
    const std::string scheme = base.Tls ? "https:" : "http:";
    if (location.compare(0, 2, "//") == 0) return scheme + location;
    const std::string origin = scheme + "//" + HostHeaderOf(base);
    if (!location.empty() && location[0] == '/') return origin + location;
    const std::string dir = base.Path.substr(0, base.Path.rfind('/') + 1);
    return origin + dir + location;
}

} // namespace

TConnectionTest::TConnectionTest(const configRecord& settings) : settings_(settings) {}

TConnectionTest::~TConnectionTest() = default;

bool TConnectionTest::Run() {
    const bool ftp = settings_.transferType == settings::TransferFtp;
    const bool ok = !ftp                                              ? RunHttp()
                    : settings_.ftpEncryption == settings::FtpOverSsh ? RunSftp()
                                                                      : RunFtp();
    if (cancelled_)
        FireLog("Test cancelled.");
    else if (ok)
        FireLog("The test passed: publishing with these settings works.");
    else
        FireLog("The test found a problem: see the lines above.");
    return ok && !cancelled_;
}

void TConnectionTest::Cancel() {
    cancelled_ = true;
    // Also ends a lookup or a connect under way.
    if (ftp_) ftp_->Abort();
    if (http_) http_->Disconnect();
}

void TConnectionTest::FireLog(const std::string& line) {
    if (OnLog && !quiet_) OnLog(line);
}

std::string TConnectionTest::Masked(const std::string& serverText) const {
    return MaskPassword(serverText, settings_.transferType == settings::TransferFtp
                                        ? settings_.password
                                        : settings_.secretKey);
}

bool TConnectionTest::Trust(const TSslCertProblem& problem, std::string& trusted) {
    if (cancelled_ || !problem.Refused()) return false;
    FireLog("The server's certificate was refused:");
    FireLog(Masked(problem.Text()));
    return FireUntrustedCertificate(problem, trusted);
}

bool TConnectionTest::FireUntrustedCertificate(const TSslCertProblem& problem,
                                               std::string& trusted) {
    return OnUntrustedCertificate && OnUntrustedCertificate(problem, trusted);
}

void TConnectionTest::Request(kwHTTP& http) {
    if (cancelled_) return;
    http.IdleTimeoutMs = unsigned(TimeoutSeconds) * 1000;
    http_ = &http;
    http.Connect();
    http.WaitUntilDone();
    http_ = nullptr;
}

void TConnectionTest::NoteUrlPrefix(const std::string& prefix, const std::string& field) {
    if (prefix.empty() || prefix.back() == '/') return;
    FireLog("Note: the " + field + " does not end with \"/\", so published addresses read like " +
            prefix + "capture.jpg.");
}

bool TConnectionTest::FetchProbe(const std::string& url, const std::string& bytes) {
    std::string address = url;
    for (int redirects = 0;; ++redirects) {
        const THttpUrl target = ParseHttpUrl(address);
        if (!target.Valid) {
            FireLog("\"" + address + "\" is not a web address: check the URL prefix.");
            return false;
        }
        FireLog("Fetching the test picture from " + address);
        kwHTTP http;
        http.Method = "GET";
        // Enough for the probe with any header; a page that goes on is not it.
        http.ReceiveLimit = bytes.size() + 65536;
        http.Host = target.Host;
        http.Port = target.Port;
        http.Url = target.Path;
        http.UseTls = target.Tls;
        Request(http);
        if (cancelled_) return false;
        if (http.Received.empty()) {
            const std::string why = http.Socket->SslErrorText();
            FireLog("There was no answer from the web server " + target.Host +
                    (why.empty() ? std::string() : " (" + why + ")") + ": check the URL prefix.");
            return false;
        }
        const THttpResponse answer = ParseHttpResponse(http.Received);
        if (IsRedirect(answer.Status) && !answer.Location.empty() && redirects < MaxRedirects) {
            address = Resolve(target, Masked(answer.Location));
            FireLog("The web server sends this address on to " + address + ".");
            continue;
        }
        if (answer.Status == 200 && answer.Complete && answer.Body == bytes) {
            FireLog("The test picture is there: the URL prefix is right.");
            return true;
        }
        if (answer.Status == 200)
            FireLog(
                "The web server answered, but not with the test picture (" +
                std::to_string(answer.Body.size()) + " bytes" +
                (answer.ContentType.empty() ? std::string() : " of " + Masked(answer.ContentType)) +
                "): the URL prefix does not point at the destination directory.");
        else if (answer.Status == 404)
            FireLog("The web server does not have the test picture at this address (" +
                    Masked(answer.StatusLine) +
                    "): the URL prefix does not point at the destination "
                    "directory.");
        else
            FireLog("The web server answered \"" + Masked(answer.StatusLine) +
                    "\" instead of the test picture: check the URL prefix.");
        return false;
    }
}

void TConnectionTest::TryPrefixWithSlash(const std::string& prefix, const std::string& name,
                                         const std::string& bytes) {
    if (prefix.empty() || prefix.back() == '/' || cancelled_) return;
    quiet_ = true;
    const bool found = FetchProbe(prefix + "/" + name, bytes);
    quiet_ = false;
    if (found)
        FireLog("With \"/\" at the end of the URL prefix the test picture is found: make it " +
                prefix + "/");
}

bool TConnectionTest::FetchProbeByUrlPrefix(const std::string& prefix, const std::string& name,
                                            const std::string& bytes) {
    if (prefix.empty()) {
        FireLog("The URL prefix is empty, so a published address would be the file name "
                "alone: enter the web address of the destination directory.");
        return false;
    }
    NoteUrlPrefix(prefix, "URL prefix");
    if (FetchProbe(prefix + name, bytes)) return true;
    TryPrefixWithSlash(prefix, name, bytes);
    return false;
}

namespace {

std::string ProbePicture() {
    TJpegEncoder encoder;
    const std::span<const uint8_t> jpeg = encoder.Encode(ProbeSide, ProbeSide, ProbeRow, nullptr);
    return std::string(reinterpret_cast<const char*>(jpeg.data()), jpeg.size());
}

std::string ProbeFileName() {
    uint8_t random[6];
    platform::SystemRandomBytes(random, sizeof random);
    static const char Hex[] = "0123456789abcdef";
    std::string name = "brwk-test-";
    for (const uint8_t b : random) {
        name += Hex[b >> 4];
        name += Hex[b & 15];
    }
    return name + ".jpg";
}

} // namespace

TLocalProbe::TLocalProbe()
    : name_(ProbeFileName()), bytes_(ProbePicture()), path_(ExportFilePath(name_)) {
    written_ = platform::WritePrivateFile(
        path_, std::span(reinterpret_cast<const uint8_t*>(bytes_.data()), bytes_.size()));
}

TLocalProbe::~TLocalProbe() {
    platform::DeleteFileQuietly(path_);
}
