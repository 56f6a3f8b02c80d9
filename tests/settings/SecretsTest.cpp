// The password and the secret key: in the desktop keyring where a Secret
// Service runs, in the 0600 settings file where none does. The keyring case
// runs in its own D-Bus session with gnome-keyring-daemon (BRWK_EXPECT_KEYRING
// is set there); the file case runs where no session bus is.
#include "Keyring.h"
#include "ScratchConfig.h"
#include "configUnit.h"

#include <QProcess>

namespace {

bool KeyringExpected() {
    return qEnvironmentVariableIsSet("BRWK_EXPECT_KEYRING");
}
bool KeyringLocked() {
    return qEnvironmentVariableIsSet("BRWK_KEYRING_LOCKED");
}

// What the Secret Service itself holds for the entry, as secret-tool sees it.
std::string StoredInService(const std::string& key) {
    QProcess tool;
    tool.start("secret-tool",
               {"lookup", "server", "Brindlewick", "user", QString::fromStdString(key)});
    if (!tool.waitForFinished(10000)) return "(secret-tool did not finish)";
    return tool.readAllStandardOutput().toStdString();
}

struct Secrets : ScratchConfig {
    void Save(const std::string& password, const std::string& key) {
        LoadSettings();
        Settings.password = password;
        Settings.secretKey = key;
        SaveSettings();
    }
};

} // namespace

TEST_F(Secrets, StayInTheSettingsFileWithoutAKeyring) {
    if (KeyringExpected()) GTEST_SKIP() << "a keyring runs in this session";
    if (platform::Keyring(IniPath().toStdString()).Available())
        GTEST_SKIP() << "a desktop keyring runs here";
    Save("pw-1", "key-1");
    EXPECT_FALSE(Settings.secretsInKeyring);
    const std::string ini = ReadIni();
    EXPECT_NE(ini.find("password=pw-1"), std::string::npos) << ini;
    EXPECT_NE(ini.find("secretkey=key-1"), std::string::npos) << ini;
    EXPECT_EQ(Mode(), 0600u);
    Settings = {};
    LoadSettings();
    EXPECT_EQ(Settings.password, "pw-1");
    EXPECT_EQ(Settings.secretKey, "key-1");
}

// Values a file from before holds still count, and leave it at the next save.
TEST_F(Secrets, MoveToTheKeyringAndLeaveTheSettingsFile) {
    if (!KeyringExpected() || KeyringLocked())
        GTEST_SKIP() << "needs the keyring session (ctest runs it so)";
    StoreOnly({{"ftp/hostname", "ftp.example.org"},
               {"ftp/password", "old-pw"},
               {"httppost/secretkey", "old-key"}});
    LoadSettings();
    EXPECT_FALSE(Settings.secretsInKeyring) << "still in the file";
    EXPECT_EQ(Settings.password, "old-pw");
    EXPECT_EQ(Settings.secretKey, "old-key");

    SaveSettings();
    EXPECT_TRUE(Settings.secretsInKeyring);
    std::string ini = ReadIni();
    EXPECT_EQ(ini.find("old-pw"), std::string::npos) << ini;
    EXPECT_EQ(ini.find("old-key"), std::string::npos) << ini;
    EXPECT_NE(ini.find("hostname=ftp.example.org"), std::string::npos) << ini;
    const std::string entry = IniPath().toStdString() + ":ftp/password";
    EXPECT_EQ(StoredInService(entry), "old-pw");

    Settings = {};
    LoadSettings();
    EXPECT_TRUE(Settings.secretsInKeyring);
    EXPECT_EQ(Settings.password, "old-pw");
    EXPECT_EQ(Settings.secretKey, "old-key");

    Save("new-pw", "new-key");
    Settings = {};
    LoadSettings();
    EXPECT_EQ(Settings.password, "new-pw");
    EXPECT_EQ(Settings.secretKey, "new-key");
    ini = ReadIni();
    EXPECT_EQ(ini.find("new-"), std::string::npos) << ini;

    // Another settings file has entries of its own.
    ConfigDirScope other;
    LoadSettings();
    EXPECT_EQ(Settings.password, "");
}

// A keyring that answers but refuses the secrets (its unlock prompt was
// cancelled): they stay in the file, and the record says so, at the save
// and at every load after it.
TEST_F(Secrets, StayInTheFileWhenTheKeyringRefusesThem) {
    if (!KeyringLocked()) GTEST_SKIP() << "needs the locked keyring session (ctest runs it so)";
    ASSERT_TRUE(platform::Keyring(IniPath().toStdString()).Available());
    Save("pw-2", "key-2");
    EXPECT_FALSE(Settings.secretsInKeyring);
    const std::string ini = ReadIni();
    EXPECT_NE(ini.find("password=pw-2"), std::string::npos) << ini;
    EXPECT_NE(ini.find("secretkey=key-2"), std::string::npos) << ini;
    Settings = {};
    LoadSettings();
    EXPECT_FALSE(Settings.secretsInKeyring);
    EXPECT_EQ(Settings.password, "pw-2");
    EXPECT_EQ(Settings.secretKey, "key-2");
}
