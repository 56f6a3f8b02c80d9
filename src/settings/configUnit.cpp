#include "configUnit.h"

#include "Keyring.h"
#include "Random.h"
#include "Registry.h"

#include <charconv>
#include <iterator>
#include <vector>

configRecord Settings;

namespace {

using platform::TRegistry;

std::string Quoted(const std::string& name) {
    return "'" + name + "'";
}

// The registry's reading rules: defaults for whatever is missing, an error
// for a value of another type.
class SettingsReader {
public:
    explicit SettingsReader(TRegistry& reg) : Reg(reg) {}

    std::string String(const std::string& section, const std::string& name,
                       const std::string& def) const {
        if (!Reg.SubKeyExists(section) || !Reg.ValueExists(section, name)) return def;
        std::string value;
        if (!Reg.ReadString(section, name, value))
            throw ERegistryException("Invalid data type for " + Quoted(name));
        return value;
    }

    int32_t Integer(const std::string& section, const std::string& name, int32_t def) const {
        const std::string text = String(section, name, std::to_string(def));
        const char* first = text.data();
        const char* last = first + text.size();
        if (first != last && *first == '+') ++first;
        int32_t value = 0;
        auto [end, ec] = std::from_chars(first, last, value);
        return ec == std::errc() && end == last && first != last ? value : def;
    }

    bool Boolean(const std::string& section, const std::string& name, bool def) const {
        return Integer(section, name, def ? 1 : 0) != 0;
    }

private:
    TRegistry& Reg;
};

// 144 bits from the system's random source, written with the URL-safe Base64
// letters (letters, digits, "-" and "_"), which the form sends unescaped.
std::string DefaultSecretKey() {
    // Drawn and not used: every load still advances the program's generator
    // once, so the random parts of later file names stay where they were.
    platform::RandomDraw(settings::SecretKeyRange);
    static constexpr char Letters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    uint8_t raw[settings::SecretKeyBytes];
    platform::SystemRandomBytes(raw, sizeof raw);
    std::string key;
    for (size_t i = 0; i + 2 < sizeof raw; i += 3) {
        const uint32_t bits = uint32_t(raw[i]) << 16 | uint32_t(raw[i + 1]) << 8 | raw[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) key += Letters[(bits >> shift) & 63];
    }
    return key;
}

// The values kept in the desktop keyring where one answers.
struct TSecret {
    const char* section;
    const char* name;
    std::string configRecord::*field;
};
const TSecret Secrets[] = {
    {"ftp", "password", &configRecord::password},
    {"httppost", "secretkey", &configRecord::secretKey},
};

std::string KeyringName(const TSecret& s) {
    return std::string(s.section) + "/" + s.name;
}

void OpenProductKey(TRegistry& reg) {
    if (!reg.OpenKey(settings::ProductKey, true))
        throw ERegistryException(std::string("Failed to create key ") + settings::ProductKey);
}

} // namespace

void LoadSettings() {
    TRegistry reg;
    // Settings that cannot be stored are missing, not an error: the defaults
    // apply and saving the capture still works. Saving the settings reports it.
    reg.OpenKey(settings::ProductKey, true);
    const SettingsReader read(reg);
    Settings.hostName = read.String("ftp", "hostname", settings::DefaultHostName);
    Settings.userName = read.String("ftp", "username", settings::DefaultUserName);
    Settings.password = read.String("ftp", "password", "");
    Settings.port = read.String("ftp", "port", settings::DefaultPort);
    Settings.destDirectory = read.String("ftp", "destdirectory", settings::DefaultDestDirectory);
    Settings.passive = read.Boolean("ftp", "passive", true);
    Settings.transferType = read.Integer("general", "transfertype", settings::DefaultTransferType);
    Settings.urlToClipboard = read.Boolean("general", "urltoclipboard", true);
    Settings.hostPrefix = read.String("ftp", "hostprefix", settings::DefaultHostPrefix);
    Settings.postUrl = read.String("httppost", "posturl", settings::DefaultPostUrl);
    Settings.postServer = read.String("httppost", "postserver", settings::DefaultPostServer);
    // A fresh default on every load, so every load draws once.
    const std::string key = DefaultSecretKey();
    Settings.secretKey = read.String("httppost", "secretkey", key);
    const int32_t encryption = read.Integer("ftp", "encryption", 0);
    Settings.ftpEncryption = encryption >= 0 && encryption <= settings::FtpOverSsh ? encryption : 0;
    Settings.ftpCertFingerprint = read.String("ftp", "certfingerprint", "");
    const int32_t screens = read.Integer("general", "capturescreens", settings::ScreensPrimary);
    Settings.captureScreens =
        screens >= 0 && screens <= settings::ScreensAll ? screens : settings::ScreensPrimary;
    const int32_t after = read.Integer("general", "aftercapture", settings::AfterShowWindow);
    Settings.afterCapture =
        after >= 0 && after <= settings::AfterSave ? after : settings::AfterShowWindow;
    Settings.regionOnRelease = read.Boolean("general", "regionrelease", true);
    Settings.httpCertFingerprint = read.String("httppost", "certfingerprint", "");

    // A value still in the file counts until the next save moves it: it is
    // the newer one where the keyring refused the last save.
    platform::Keyring keyring(reg.FilePath());
    const bool available = keyring.Available();
    bool inFile = false;
    for (const TSecret& secret : Secrets) {
        if (reg.SubKeyExists(secret.section) && reg.ValueExists(secret.section, secret.name)) {
            inFile = true;
            continue;
        }
        std::string value;
        if (available && keyring.Read(KeyringName(secret), value)) Settings.*secret.field = value;
    }
    Settings.secretsInKeyring = available && !inFile;
}

void SaveSettings() {
    TRegistry reg;
    OpenProductKey(reg);
    struct Value {
        const char* section;
        const char* name;
        std::string value;
    };
    std::vector<Value> values = {
        {"ftp", "hostname", Settings.hostName},
        {"ftp", "username", Settings.userName},
        {"ftp", "passtype", "1"},
        {"ftp", "port", Settings.port},
        {"ftp", "destdirectory", Settings.destDirectory},
        {"ftp", "hostprefix", Settings.hostPrefix},
        {"ftp", "passive", Settings.passive ? "1" : "0"},
        {"general", "transfertype", std::to_string(Settings.transferType)},
        {"general", "urltoclipboard", Settings.urlToClipboard ? "1" : "0"},
        {"httppost", "posturl", Settings.postUrl},
        {"httppost", "postserver", Settings.postServer},
    };
    // Values of the encryption and capture settings appear once they were
    // used, so the file of a user who never chose them stays as it always was.
    const Value used[] = {
        {"ftp", "encryption", std::to_string(Settings.ftpEncryption)},
        {"ftp", "certfingerprint", Settings.ftpCertFingerprint},
        {"httppost", "certfingerprint", Settings.httpCertFingerprint},
        {"general", "capturescreens", std::to_string(Settings.captureScreens)},
        {"general", "aftercapture", std::to_string(Settings.afterCapture)},
        {"general", "regionrelease", Settings.regionOnRelease ? "1" : "0"},
    };
    const char* const defaults[] = {"0", "", "", "0", "0", "1"};
    for (size_t i = 0; i < std::size(used); ++i)
        if (used[i].value != defaults[i] ||
            (reg.SubKeyExists(used[i].section) && reg.ValueExists(used[i].section, used[i].name)))
            values.push_back(used[i]);
    // All values go into the file with one write: a large file is written
    // once, and a failed write stores none of them.
    reg.BeginUpdate();
    for (const auto& v : values) reg.WriteString(v.section, v.name, v.value);
    // In the keyring the secrets leave the file; without one, or when the
    // keyring refuses them, the file keeps them as ever.
    // Where it refuses any of them (its unlock prompt was cancelled, say),
    // all stay in the file, and the dialog says so.
    platform::Keyring keyring(reg.FilePath());
    bool kept = keyring.Available();
    for (const TSecret& secret : Secrets)
        kept = kept && keyring.Write(KeyringName(secret), Settings.*secret.field);
    Settings.secretsInKeyring = kept;
    for (const TSecret& secret : Secrets) {
        if (kept)
            reg.DeleteValue(secret.section, secret.name);
        else
            reg.WriteString(secret.section, secret.name, Settings.*secret.field);
    }
    if (!reg.EndUpdate())
        throw ERegistryException("Failed to set data for " + Quoted(values[0].name));
}
