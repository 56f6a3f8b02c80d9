// Keys and string values under the current user's root, the way the settings
// store uses them. On this platform a product key "\Software\<Product>" is
// the INI file $XDG_CONFIG_HOME/<Product>/<Product>.ini (default ~/.config)
// and each of its subkeys is one INI group. The file is created readable by
// its owner only (0600), since it holds a password, also where it is a link
// to another file, and every write replaces it atomically, so a failed or
// interrupted write leaves the previous file.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class QSettings;

namespace platform {

// The folder of the settings file exists but is not the user's alone; the
// text names the folder and says why.
class ESettingsFolder : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TRegDataType {
    rdNone,   // no such value
    rdString, // a plain string
    rdEmpty,  // some other kind of value that holds no data
    rdOther,  // some other kind of value with data
};

class TRegistry {
public:
    TRegistry();
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    // Opens a product key such as "\Software\Brindlewick"; with canCreate a
    // missing key is created, empty, in a folder of mode 0700 (as are the
    // parents it creates). Returns false if it cannot be opened. Raises
    // ESettingsFolder when the folder is another user's or open to others:
    // settings from there could have been planted, and the password would
    // be readable.
    bool OpenKey(const std::string& key, bool canCreate);
    void CloseKey();
    bool IsOpen() const { return Store != nullptr; }
    // The settings file behind the open key.
    std::string FilePath() const { return Path; }

    // Subkeys are groups of the file; a subkey exists once it holds a value.
    bool SubKeyExists(const std::string& subKey) const;
    bool ValueExists(const std::string& subKey, const std::string& name) const;
    TRegDataType DataType(const std::string& subKey, const std::string& name) const;
    // The value as text, cut at its first NUL. False (and value unchanged)
    // unless DataType is rdString or rdEmpty (which reads as "").
    bool ReadString(const std::string& subKey, const std::string& name, std::string& value) const;
    // Stores the value and replaces the file. False if the file could not be
    // replaced; the stored values are then those before the call.
    bool WriteString(const std::string& subKey, const std::string& name, const std::string& value);
    // Removes the value, the same way.
    bool DeleteValue(const std::string& subKey, const std::string& name);
    // Between the two, WriteString only keeps the values (and returns true);
    // EndUpdate stores them all with one replacement of the file. False if
    // the file could not be replaced; the stored values are then those
    // before BeginUpdate.
    void BeginUpdate();
    bool EndUpdate();

    // The file for a product name, from the environment at the time of the call.
    static std::string SettingsFilePath(const std::string& product);

private:
    std::unique_ptr<QSettings> Store;
    std::string Path;
    bool Updating = false;
    struct PendingValue {
        std::string subKey, name, value;
        bool remove = false;
    };
    bool Change(PendingValue change);
    std::vector<PendingValue> Pending;
};

} // namespace platform
