// Secrets kept by the desktop's Secret Service (GNOME Keyring, KWallet)
// under the service "Brindlewick". Each entry is named after the settings
// file it belongs to, so that another settings file (a test's, a second
// profile) never reads or overwrites it. Where no service answers, every
// call fails and the caller keeps the secret itself.
#pragma once

#include <string>

namespace platform {

class Keyring {
public:
    // Entries of this settings file.
    explicit Keyring(std::string settingsFile);

    // A Secret Service answers.
    bool Available();
    // False when the entry or the service is missing.
    bool Read(const std::string& name, std::string& value);
    bool Write(const std::string& name, const std::string& value);
    // True when the entry is gone (or never was).
    bool Remove(const std::string& name);

private:
    std::string Key(const std::string& name) const;

    std::string file_;
};

} // namespace platform
