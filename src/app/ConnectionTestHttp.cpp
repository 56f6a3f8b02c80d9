// The HTTP POST connection test: one check request that the upload script
// answers without storing anything, and what its answer means.
#include "ConnectionTest.h"
#include "HttpPublisher.h"
#include "HttpResponse.h"
#include "kwHTTPUnit.h"

#include <algorithm>

namespace {

// The script's own words: the reply lines after the header, markers left out.
std::string ScriptWords(const std::vector<std::string>& replies, const std::string& key) {
    std::string words;
    bool body = false;
    for (const std::string& line : replies) {
        if (!body) {
            body = line.empty();
            continue;
        }
        // The script ends its lines with a bare LF, which keeps them together.
        std::string text = line;
        for (const char* marker :
             {MarkerTransferOk, MarkerAuthFail, MarkerSizeDiff, MarkerCheckOk, MarkerCheckFailed})
            for (size_t at; (at = text.find(marker)) != std::string::npos;)
                text.erase(at, std::char_traits<char>::length(marker));
        std::replace(text.begin(), text.end(), '\n', ' ');
        const size_t first = text.find_first_not_of(' ');
        if (first == std::string::npos) continue;
        text = text.substr(first, text.find_last_not_of(' ') + 1 - first);
        words += (words.empty() ? "" : " ") + MaskPassword(text, key);
    }
    return words;
}

} // namespace

bool TConnectionTest::RunHttp() {
    const configRecord& s = settings_;
    FireLog("Testing HTTP POST publishing to " + s.postUrl + ".");
    std::string why;
    const std::optional<TPostTarget> checked = CheckPostUrl(s.postUrl, s.postServer, why);
    if (!checked) {
        FireLog(why);
        return false;
    }
    const TPostTarget& target = *checked;
    if (!target.Tls && target.Host.find(':') != std::string::npos) {
        FireLog("An http:// posting URL is always sent to port 80, so the port it names cannot "
                "be used: leave the port out, or use https://.");
        return false;
    }
    NoteUrlPrefix(s.postServer, "publish URL");
    FireLog("Asking the upload script to check the secret key and its upload directory "
            "(nothing is stored)...");
    auto http = PostTrusting(
        s.postUrl, target, settings_.httpCertFingerprint, "check=1&key=" + s.secretKey,
        [this](kwHTTP& h) { Request(h); },
        [this](const TSslCertProblem& p, std::string& t) { return Trust(p, t); });
    if (cancelled_) return false;

    const std::string text = JoinReplies(http->Replies);
    if (text.find_first_not_of("\r\n") == std::string::npos) {
        const std::string why = http->Socket->SslErrorText();
        FireLog("There was no answer from " + target.Host + " on port " +
                std::to_string(target.Port) + (why.empty() ? std::string() : " (" + why + ")") +
                ": check the posting URL, and that the web server runs.");
        return false;
    }
    const std::string words = ScriptWords(http->Replies, s.secretKey);
    if (Contains(text, MarkerCheckOk)) {
        FireLog("The upload script accepted the secret key and can store pictures.");
        return true;
    }
    if (Contains(text, MarkerCheckFailed)) {
        FireLog("The upload script accepted the secret key, but cannot store pictures: " + words +
                " Check its upload directory ($uploadDir) and its permissions.");
        return false;
    }
    if (Contains(text, MarkerAuthFail)) {
        FireLog("The upload script refused the secret key: the key in Configure and the one in "
                "the script's settings must be the same." +
                (words.empty() ? std::string() : " The script says: " + words));
        return false;
    }
    // Servers often send plain http:// on to https://; a post is not followed.
    const THttpResponse answer = ParseHttpResponse(text);
    if (answer.Status >= 300 && answer.Status < 400 && !answer.Location.empty()) {
        FireLog("The web server sends the posting URL on to " + Masked(answer.Location) +
                " and a post is not sent on: use that address as the posting URL.");
        return false;
    }
    if (Contains(text, MarkerNotFound)) {
        FireLog(ScriptNotFoundText);
        return false;
    }
    FireLog("The upload script did not confirm the check. If it is an older version, install "
            "the brwk_upload.php that comes with Brindlewick." +
            (words.empty() ? std::string() : " The answer was: " + words));
    return false;
}
