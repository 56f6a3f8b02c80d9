#include "configUnit.h"

#include "DateFormats.h"
#include "Keyring.h"
#include "Random.h"
#include "Registry.h"

#include <charconv>

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

void Write(TRegistry& reg, const std::string& section, const std::string& name,
           const std::string& value) {
    if (!reg.WriteString(section, name, value))
        throw ERegistryException("Failed to set data for " + Quoted(name));
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

std::string DefaultSecretKey() {
    const std::string date = platform::CurrentDateText();
    const std::string time = platform::CurrentTimeText();
    return date + "-" + time + "-" + std::to_string(platform::RandomDraw(settings::SecretKeyRange));
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

    // A value still in the file counts until the next save moves it.
    platform::Keyring keyring(reg.FilePath());
    Settings.secretsInKeyring = keyring.Available();
    if (!Settings.secretsInKeyring) return;
    for (const TSecret& secret : Secrets) {
        std::string value;
        if (keyring.Read(KeyringName(secret), value)) Settings.*secret.field = value;
    }
}

void SaveSettings() {
    TRegistry reg;
    OpenProductKey(reg);
    Write(reg, "ftp", "hostname", Settings.hostName);
    Write(reg, "ftp", "username", Settings.userName);
    Write(reg, "ftp", "passtype", "1");
    Write(reg, "ftp", "port", Settings.port);
    Write(reg, "ftp", "destdirectory", Settings.destDirectory);
    Write(reg, "ftp", "hostprefix", Settings.hostPrefix);
    Write(reg, "ftp", "passive", Settings.passive ? "1" : "0");
    Write(reg, "general", "transfertype", std::to_string(Settings.transferType));
    Write(reg, "general", "urltoclipboard", Settings.urlToClipboard ? "1" : "0");
    Write(reg, "httppost", "posturl", Settings.postUrl);
    Write(reg, "httppost", "postserver", Settings.postServer);

    // In the keyring the secrets leave the file; without one, or when the
    // keyring refuses them, the file keeps them as ever.
    platform::Keyring keyring(reg.FilePath());
    Settings.secretsInKeyring = keyring.Available();
    for (const TSecret& secret : Secrets) {
        const std::string& value = Settings.*secret.field;
        if (!Settings.secretsInKeyring || !keyring.Write(KeyringName(secret), value)) {
            Write(reg, secret.section, secret.name, value);
            continue;
        }
        if (reg.ValueExists(secret.section, secret.name) &&
            !reg.DeleteValue(secret.section, secret.name))
            throw ERegistryException("Failed to set data for " + Quoted(secret.name));
    }
}
