#include "HttpUpload.h"

#include <algorithm>
#include <fstream>

namespace {
constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
} // namespace

std::string Base64Encode(const std::string& bytes) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    std::string out((n + 2) / 3 * 4, '=');
    char* o = out.data();
    size_t i = 0;
    for (; i + 3 <= n; i += 3, o += 4) {
        const unsigned v = unsigned(in[i]) << 16 | unsigned(in[i + 1]) << 8 | in[i + 2];
        o[0] = Alphabet[v >> 18];
        o[1] = Alphabet[(v >> 12) & 63];
        o[2] = Alphabet[(v >> 6) & 63];
        o[3] = Alphabet[v & 63];
    }
    if (const size_t rest = n - i; rest > 0) {
        const unsigned v = unsigned(in[i]) << 16 | (rest == 2 ? unsigned(in[i + 1]) << 8 : 0u);
        o[0] = Alphabet[v >> 18];
        o[1] = Alphabet[(v >> 12) & 63];
        if (rest == 2) o[2] = Alphabet[(v >> 6) & 63];
    }
    return out;
}

std::string BuildPostForm(const std::string& name, const std::string& key,
                          const std::string& jpeg) {
    const std::string encoded = Base64Encode(jpeg);
    const std::string size = std::to_string(jpeg.size());
    const std::string sizeEnc = std::to_string(encoded.size());
    std::string body;
    body.reserve(64 + name.size() + key.size() + encoded.size());
    body.append("filename=").append(name);
    body.append("&key=").append(key);
    body.append("&size=").append(size);
    body.append("&sizeenc=").append(sizeEnc);
    body.append("&data=").append(encoded);
    return body;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return {};
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size <= 0) return {};
    file.seekg(0, std::ios::beg);
    std::string bytes(size_t(size), '\0');
    file.read(bytes.data(), size);
    bytes.resize(size_t(file.gcount()));
    return bytes;
}

bool Contains(const std::string& text, const char* marker) {
    return text.find(marker) != std::string::npos;
}

bool IsBlank(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return c <= 32; });
}

std::string UrlControlCharacterProblem(const std::string& postUrl, const std::string& publishUrl) {
    auto hasControl = [](const std::string& text) {
        return std::any_of(text.begin(), text.end(),
                           [](unsigned char c) { return c < 32 || c == 127; });
    };
    const char* const Why = " contains a control character (a line break, say): correct it "
                            "under Configure.";
    if (hasControl(postUrl)) return std::string("The posting URL") + Why;
    if (hasControl(publishUrl)) return std::string("The publish URL") + Why;
    return {};
}

std::unique_ptr<kwHTTP> NewPost(const std::string& postUrl, const TPostTarget& target,
                                const std::string& trustedFingerprint, std::string body) {
    auto http = std::make_unique<kwHTTP>();
    http->Url = postUrl;
    http->Host = target.Host;
    http->Port = target.Port;
    http->UseTls = target.Tls;
    http->TrustedFingerprint = trustedFingerprint;
    http->PostData = std::move(body);
    return http;
}
