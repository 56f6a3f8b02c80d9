// The program's configuration: one process-wide record, loaded from and saved
// to the current user's settings key "\Software\Brindlewick" with the
// sections "ftp", "general" and "httppost". Every value is stored as a string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

struct configRecord {
    std::string hostName;
    std::string userName;
    std::string password;
    std::string port;
    std::string destDirectory;
    bool passive = false;
    std::string hostPrefix;
    int32_t transferType = 0; // settings::TransferFtp; anything else publishes by HTTP POST
    std::string postUrl;
    std::string postServer;
    std::string secretKey;
    // 0 plain FTP, 1 explicit TLS (AUTH TLS), 2 implicit TLS, 3 SFTP: the
    // same server, account and directory over SSH (settings::FtpOverSsh).
    int32_t ftpEncryption = 0;
    // SHA-256 fingerprints of certificates the user chose to trust although
    // they did not verify; empty for none.
    std::string ftpCertFingerprint;
    std::string httpCertFingerprint;
    // A published URL also goes on the clipboard.
    bool urlToClipboard = true;
    // What "Capture screen" takes: settings::ScreensPrimary, ...
    int32_t captureScreens = 0;
    // What follows a capture: settings::AfterShowWindow, ...
    int32_t afterCapture = 0;
    // Releasing the drag accepts a region (else Enter or a double click).
    bool regionOnRelease = true;
    // Not stored: the password and the secret key are kept in the desktop
    // keyring rather than the settings file (found at the last load or save;
    // false while the file holds either of them).
    bool secretsInKeyring = false;
};

extern configRecord Settings;

// Raised with the registry's texts: "Invalid data type for '<value>'",
// "Failed to set data for '<value>'", "Failed to create key <key>".
class ERegistryException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Fills every field, with the default where nothing usable is stored. The
// default secret key is new at every load, from the system's random source;
// every load also draws once from the program's random generator.
// A stored value that is not a string raises ERegistryException; the fields
// read before it keep their new values. The password and the secret key
// come from the desktop keyring where it holds them.
void LoadSettings();
// Writes every field (and "passtype" = "1") with one write of the file; the
// encryption fields only once they differ from their defaults or are stored
// already. A failed write raises ERegistryException naming the first value
// ("hostname") and leaves the stored file as it was. Where a desktop keyring
// answers, the password and the secret key go there instead and leave the file.
void SaveSettings();

namespace settings {
constexpr const char* ProductKey = "\\Software\\Brindlewick";
constexpr const char* DefaultHostName = "ftp.example.com";
constexpr const char* DefaultUserName = "johndoe";
constexpr const char* DefaultPort = "21";
constexpr const char* DefaultDestDirectory = "public_html/Brindlewick";
constexpr const char* DefaultHostPrefix = "www.example.com/~johndoe/Brindlewick";
constexpr const char* DefaultPostUrl = "http://www.example.net/brwk_upload.php";
constexpr const char* DefaultPostServer = "www.example.net";
// The publishing methods as stored in "transfertype"; any other value
// publishes by HTTP POST.
constexpr int32_t TransferFtp = 1;
constexpr int32_t TransferHttp = 2;
constexpr int32_t DefaultTransferType = TransferFtp;
// The "ftp" section's "encryption" value that publishes over SFTP instead.
constexpr int32_t FtpOverSsh = 3;
constexpr const char* DefaultSshPort = "22";
// "capturescreens": the primary screen, the one under the mouse, all of them.
constexpr int32_t ScreensPrimary = 0;
constexpr int32_t ScreensUnderMouse = 1;
constexpr int32_t ScreensAll = 2;
// "aftercapture": show the main window, open the editor, publish at once
// under a generated name, save at once.
constexpr int32_t AfterShowWindow = 0;
constexpr int32_t AfterOpenEditor = 1;
constexpr int32_t AfterPublish = 2;
constexpr int32_t AfterSave = 3;
// Range of the generator draw each load makes.
constexpr uint32_t SecretKeyRange = 65535;
// Random bytes in a default secret key (a multiple of 3: no padding).
constexpr size_t SecretKeyBytes = 18;
} // namespace settings
