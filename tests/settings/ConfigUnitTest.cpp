#include "ScratchConfig.h"

#include "EnvScope.h"
#include "FileModes.h"
#include "Random.h"
#include "Registry.h"
#include "configUnit.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QSize>

#include <csignal>
#include <set>

#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Store = ScratchConfig;

configRecord Defaults() {
    configRecord d;
    d.hostName = settings::DefaultHostName;
    d.userName = "johndoe";
    d.password = "";
    d.port = "21";
    d.destDirectory = "public_html/Brindlewick";
    d.passive = true;
    d.hostPrefix = settings::DefaultHostPrefix;
    d.transferType = 1;
    d.postUrl = settings::DefaultPostUrl;
    d.postServer = settings::DefaultPostServer;
    return d;
}

void ExpectSameFields(const configRecord& a, const configRecord& b, bool withKey = true) {
    EXPECT_EQ(a.hostName, b.hostName);
    EXPECT_EQ(a.userName, b.userName);
    EXPECT_EQ(a.password, b.password);
    EXPECT_EQ(a.port, b.port);
    EXPECT_EQ(a.destDirectory, b.destDirectory);
    EXPECT_EQ(a.passive, b.passive);
    EXPECT_EQ(a.hostPrefix, b.hostPrefix);
    EXPECT_EQ(a.transferType, b.transferType);
    EXPECT_EQ(a.postUrl, b.postUrl);
    EXPECT_EQ(a.postServer, b.postServer);
    if (withKey) {
        EXPECT_EQ(a.secretKey, b.secretKey);
    }
}

std::string ErrorOf(void (*operation)()) {
    try {
        operation();
    } catch (const ERegistryException& e) {
        return e.what();
    }
    return "(nothing raised)";
}

TEST_F(Store, WithNoKeyALoadGivesTheDefaultsAndCreatesAnEmptyPrivateFile) {
    Settings = configRecord{};
    LoadSettings();
    ExpectSameFields(Settings, Defaults(), false);
    EXPECT_TRUE(QRegularExpression("^[A-Za-z0-9_-]{24}$")
                    .match(QString::fromStdString(Settings.secretKey))
                    .hasMatch())
        << Settings.secretKey;
    QFileInfo file(IniPath());
    ASSERT_TRUE(file.exists());
    EXPECT_EQ(file.size(), 0);
    EXPECT_EQ(Mode(), 0600u);
    // The example names stay within the reserved example domains.
    for (const std::string& s : {Settings.hostName, Settings.hostPrefix, Settings.postUrl})
        EXPECT_TRUE(s.find("example.") != std::string::npos) << s;
    EXPECT_EQ(Settings.postUrl.rfind("http://", 0), 0u);
    EXPECT_EQ(Settings.postUrl.substr(Settings.postUrl.size() - 16), "/brwk_upload.php");
}

TEST_F(Store, ASaveWritesTwelveStringValuesInThreeSections) {
    LoadSettings();
    SaveSettings();
    QSettings ini(IniPath(), QSettings::IniFormat);
    EXPECT_EQ(ini.childGroups(), (QStringList{"General", "ftp", "httppost"}));
    ini.beginGroup("ftp");
    EXPECT_EQ(ini.childKeys(), (QStringList{"destdirectory", "hostname", "hostprefix", "passive",
                                            "passtype", "password", "port", "username"}));
    EXPECT_EQ(ini.value("passtype"), QVariant("1"));
    EXPECT_EQ(ini.value("passive"), QVariant("1"));
    EXPECT_EQ(ini.value("port"), QVariant("21"));
    ini.endGroup();
    EXPECT_EQ(ini.value("General/transfertype"), QVariant("1"));
    ini.beginGroup("httppost");
    EXPECT_EQ(ini.childKeys(), (QStringList{"postserver", "posturl", "secretkey"}));
    EXPECT_EQ(ini.value("secretkey").toString().toStdString(), Settings.secretKey);
    EXPECT_EQ(Mode(), 0600u);
}

TEST_F(Store, EveryFieldSurvivesASaveAndALoadUnchanged) {
    configRecord edited;
    // Texts an INI file gives a meaning to: lists, escapes, comments, groups.
    edited.hostName = "a, b";
    edited.userName = " spaced ";
    edited.password = "@ByteArray(x);#\"q\"=\\";
    edited.port = "";
    edited.destDirectory = "dir/sub [x]";
    edited.passive = false;
    edited.hostPrefix = "http://h/~\xC3\xA4/";
    edited.transferType = -7;
    edited.postUrl = "u?a=1&b=2";
    edited.postServer = "@";
    edited.secretKey = "key\twith tab";
    Settings = edited;
    SaveSettings();
    Settings = configRecord{};
    LoadSettings();
    ExpectSameFields(Settings, edited);
}

TEST_F(Store, EncryptionValuesAreWrittenOnceUsedAndReadBackWithinRange) {
    LoadSettings();
    Settings.ftpEncryption = 2;
    Settings.ftpCertFingerprint = "AB:CD";
    Settings.httpCertFingerprint = "01:02";
    SaveSettings();
    Settings = configRecord{};
    LoadSettings();
    EXPECT_EQ(Settings.ftpEncryption, 2);
    EXPECT_EQ(Settings.ftpCertFingerprint, "AB:CD");
    EXPECT_EQ(Settings.httpCertFingerprint, "01:02");
    // Back to the defaults: the stored values follow instead of staying behind.
    Settings.ftpEncryption = 0;
    Settings.ftpCertFingerprint.clear();
    SaveSettings();
    QSettings ini(IniPath(), QSettings::IniFormat);
    EXPECT_EQ(ini.value("ftp/encryption"), QVariant("0"));
    EXPECT_EQ(ini.value("ftp/certfingerprint"), QVariant(""));
    // SFTP is the next value of the same key.
    StoreOnly({{"ftp/encryption", "3"}});
    LoadSettings();
    EXPECT_EQ(Settings.ftpEncryption, settings::FtpOverSsh);
    for (const char* outside : {"4", "-1", "x"}) {
        StoreOnly({{"ftp/encryption", outside}});
        LoadSettings();
        EXPECT_EQ(Settings.ftpEncryption, 0) << outside;
    }
}

// What a later run of the program finds: the file as text, read afresh.
TEST_F(Store, TheGeneralSectionIsFoundAgainByAFreshRead) {
    LoadSettings();
    Settings.transferType = 2;
    SaveSettings();
    const std::string text = ReadIni();
    EXPECT_NE(text.find("[%General]\ntransfertype=2\n"), std::string::npos) << text;

    for (const char* written : {"[%General]\ntransfertype=2\n", "[general]\ntransfertype=2\n",
                                "[ftp]\nport=2121\n\n[general]\ntransfertype=2\n"}) {
        // A new file name each time, so nothing read before can answer.
        qputenv("XDG_CONFIG_HOME",
                (Scratch.Path() + "/" + QString::number(qHash(QByteArray(written)))).toUtf8());
        const QString dir =
            QString::fromStdString(platform::TRegistry::SettingsFilePath("Brindlewick"));
        QDir().mkpath(QFileInfo(dir).absolutePath());
        QFile raw(dir);
        ASSERT_TRUE(raw.open(QIODevice::WriteOnly));
        raw.write(written);
        raw.close();
        Settings = configRecord{};
        LoadSettings();
        EXPECT_EQ(Settings.transferType, 2) << written;
    }
}

TEST_F(Store, IntegerAndBooleanTextsFollowTheReadingRules) {
    struct Case {
        const char* transferType;
        int32_t expected;
    };
    for (Case c : {Case{"2", 2}, Case{"3", 3}, Case{"x", 1}, Case{"", 1}, Case{"-4", -4},
                   Case{"2x", 1}, Case{"99999999999", 1}}) {
        StoreOnly({{"General/transfertype", c.transferType}});
        LoadSettings();
        EXPECT_EQ(Settings.transferType, c.expected) << c.transferType;
    }
    struct Flag {
        const char* text;
        bool expected;
    };
    for (Flag f : {Flag{"0", false}, Flag{"7", true}, Flag{"no", true}, Flag{"1", true}}) {
        StoreOnly({{"ftp/passive", f.text}});
        LoadSettings();
        EXPECT_EQ(Settings.passive, f.expected) << f.text;
    }
}

TEST_F(Store, StoredEmptyStringsStayEmptyAndMissingValuesTakeDefaults) {
    StoreOnly({{"ftp/port", ""}, {"ftp/hostname", "files.example.org"}});
    LoadSettings();
    EXPECT_EQ(Settings.port, "");
    EXPECT_EQ(Settings.hostName, "files.example.org");
    EXPECT_EQ(Settings.userName, "johndoe");
    EXPECT_EQ(Settings.postUrl, settings::DefaultPostUrl);
}

TEST_F(Store, TheDefaultKeyChangesWithEveryLoadUntilOneIsStored) {
    LoadSettings();
    const std::string first = Settings.secretKey;
    // The load drew once; a file name generated next gets the following draws.
    EXPECT_EQ(platform::RandomDraw(65536), 2056u);
    EXPECT_EQ(platform::RandomDraw(65536), 56429u);
    EXPECT_EQ(platform::RandomDraw(65536), 13276u);

    platform::SetRandomState(1);
    LoadSettings();
    const std::string second = Settings.secretKey;
    EXPECT_NE(first, second);
    EXPECT_EQ(platform::RandomState(), 134775814u) << "exactly one draw";

    SaveSettings();
    LoadSettings();
    EXPECT_EQ(Settings.secretKey, second);
    const uint32_t before = platform::RandomState();
    LoadSettings();
    EXPECT_EQ(Settings.secretKey, second);
    EXPECT_NE(platform::RandomState(), before) << "a load draws even with a stored key";
}

// The key guards the upload script: nothing about when it was made, nor the
// program's fixed-sequence generator, may tell it.
TEST_F(Store, TheDefaultKeyCannotBeGuessedFromTheTimeOrTheGenerator) {
    std::set<std::string> keys;
    std::set<char> letters;
    for (int i = 0; i < 64; ++i) {
        // The generator at the same state for every load.
        platform::SetRandomState(7);
        LoadSettings();
        const std::string& key = Settings.secretKey;
        EXPECT_GE(key.size(), 22u) << "at least 128 bits in 6-bit letters";
        EXPECT_EQ(key.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                        "0123456789-_"),
                  std::string::npos)
            << key;
        EXPECT_EQ(key.find(platform::CurrentDateText()), std::string::npos) << key;
        keys.insert(key);
        letters.insert(key.begin(), key.end());
    }
    EXPECT_EQ(keys.size(), 64u);
    // 1,536 random letters leave out hardly any of the 64.
    EXPECT_GE(letters.size(), 60u);
}

// A settings file kept elsewhere through a link holds the password just the
// same: the file it points to is made, and kept, readable by its owner only.
TEST_F(Store, ALinkedSettingsFileIsKeptPrivateWhereverItPoints) {
    UmaskScope usual(022);
    const QString target = Scratch.Path() + "/dotfiles/brindlewick.ini";
    QDir().mkpath(Dir());
    QDir().mkpath(Scratch.Path() + "/dotfiles");
    ASSERT_TRUE(QFile::link(target, IniPath()));
    LoadSettings();
    Settings.password = "pass-word";
    SaveSettings();
    EXPECT_TRUE(QFileInfo(IniPath()).isSymLink()) << "the link stays";
    EXPECT_EQ(ModeOf(target.toStdString()), 0600u);
    EXPECT_NE(ReadIni().find("pass-word"), std::string::npos);
    ::chmod(target.toLocal8Bit().constData(), 0644);
    SaveSettings();
    EXPECT_EQ(ModeOf(target.toStdString()), 0600u);
}

// A large settings file makes every write of it slow: a save writes it once.
TEST_F(Store, ASaveWritesTheFileOnce) {
    LoadSettings();
    SaveSettings();
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    // Creations too: the kernel merges a repeated event with the one before it
    // unless another comes between, and each write creates its temporary file.
    ASSERT_GE(::inotify_add_watch(watch, Dir().toLocal8Bit().constData(), IN_CREATE | IN_MOVED_TO),
              0);
    // Every value new, so that each one has to reach the file.
    for (std::string* text : {&Settings.hostName, &Settings.userName, &Settings.password,
                              &Settings.port, &Settings.destDirectory, &Settings.hostPrefix,
                              &Settings.postUrl, &Settings.postServer, &Settings.secretKey})
        *text += "-changed";
    Settings.passive = !Settings.passive;
    Settings.transferType = 2;
    SaveSettings();
    int replaced = 0;
    alignas(inotify_event) char buf[16384];
    for (ssize_t n; (n = ::read(watch, buf, sizeof buf)) > 0;)
        for (char* p = buf; p < buf + n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(p);
            if ((e->mask & IN_MOVED_TO) && e->len && std::string(e->name) == "Brindlewick.ini")
                ++replaced;
            p += sizeof(inotify_event) + e->len;
        }
    ::close(watch);
    EXPECT_EQ(replaced, 1);
    Settings = configRecord{};
    LoadSettings();
    EXPECT_EQ(Settings.transferType, 2);
    EXPECT_EQ(Settings.postServer, std::string(settings::DefaultPostServer) + "-changed");
}

TEST_F(Store, AValueThatIsNotAStringRaisesAfterTheFieldsBeforeIt) {
    StoreOnly({{"ftp/hostname", "h.example.org"},
               {"ftp/username", "u"},
               {"ftp/port", QByteArray("abc")},
               {"ftp/destdirectory", "d"}});
    Settings = configRecord{};
    EXPECT_EQ(ErrorOf(LoadSettings), "Invalid data type for 'port'");
    EXPECT_EQ(Settings.hostName, "h.example.org");
    EXPECT_EQ(Settings.userName, "u");
    EXPECT_EQ(Settings.destDirectory, "") << "fields after the bad one are not read";

    // A list is not a string either; an integer read as text raises the same way.
    StoreOnly({{"httppost/posturl", QStringList{"a", "b"}}});
    EXPECT_EQ(ErrorOf(LoadSettings), "Invalid data type for 'posturl'");
    StoreOnly({{"General/transfertype", QSize(2, 2)}});
    EXPECT_EQ(ErrorOf(LoadSettings), "Invalid data type for 'transfertype'");

    // Such a value without data reads as an empty string.
    StoreOnly({{"ftp/password", QByteArray()}});
    Settings.password = "old";
    LoadSettings();
    EXPECT_EQ(Settings.password, "");
}

// The settings folder and the parents made for it are the user's alone,
// whatever the umask; a folder others can change, or another user's, is
// refused by loads and saves alike, with what to do about it.
TEST_F(Store, TheSettingsFolderIsPrivateOrRefused) {
    auto folderError = [](void (*operation)()) -> std::string {
        try {
            operation();
        } catch (const platform::ESettingsFolder& e) {
            return e.what();
        }
        return "(nothing raised)";
    };
    {
        UmaskScope open(0);
        const QString base = Scratch.Path() + "/made/config";
        EnvScope env("XDG_CONFIG_HOME", base.toUtf8());
        LoadSettings();
        for (const QString& made : {Scratch.Path() + "/made", base, base + "/Brindlewick"})
            EXPECT_EQ(ModeOf(made.toStdString()), 0700u) << made.toStdString();
        SaveSettings();
        EXPECT_EQ(ModeOf((base + "/Brindlewick/Brindlewick.ini").toStdString()), 0600u);
    }
    const std::string dir = Dir().toStdString();
    StoreOnly({{"ftp/password", "secret"}});
    ::chmod(dir.c_str(), 0755); // readable by others: taken back
    LoadSettings();
    EXPECT_EQ(Settings.password, "secret");
    EXPECT_EQ(ModeOf(dir), 0700u);

    ::chmod(dir.c_str(), 0777);
    const std::string open = "Brindlewick keeps its settings in " + dir +
                             ", but cannot use it: other users can change it; make it yours "
                             "alone with \"chmod 700 " +
                             dir + "\".";
    EXPECT_EQ(folderError(LoadSettings), open);
    EXPECT_EQ(folderError(SaveSettings), open);
    EXPECT_EQ(ModeOf(dir), 0777u) << "a refused folder is left as it is";

    ::chmod(dir.c_str(), 0700);
    ASSERT_EQ(::chown(dir.c_str(), 65534, 65534), 0);
    EXPECT_NE(folderError(LoadSettings).find("it belongs to another user"), std::string::npos);
    ASSERT_EQ(::chown(dir.c_str(), ::geteuid(), ::getegid()), 0);
    LoadSettings();
    EXPECT_EQ(Settings.password, "secret");
}

TEST_F(Store, AWideOpenFileIsMadePrivateAtTheNextOpen) {
    StoreOnly({{"ftp/password", "secret"}});
    QFile::setPermissions(IniPath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                         QFile::ReadOther);
    LoadSettings();
    EXPECT_EQ(Settings.password, "secret");
    EXPECT_EQ(Mode(), 0600u);
}

// Writes past a few bytes fail (as on a full disk) while it is in scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &Saved);
        OldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = Saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &Saved);
        std::signal(SIGXFSZ, OldHandler);
    }

private:
    rlimit Saved{};
    void (*OldHandler)(int) = nullptr;
};

TEST_F(Store, AFailedSaveRaisesAndLeavesTheStoredFileAsItWas) {
    LoadSettings();
    Settings.hostName = "kept.example.org";
    SaveSettings();
    const std::string before = ReadIni();
    const QStringList files = FilesInDir();

    Settings.hostName = "lost.example.org";
    {
        FileSizeLimit full(16);
        EXPECT_EQ(ErrorOf(SaveSettings), "Failed to set data for 'hostname'");
    }
    EXPECT_EQ(ReadIni(), before);
    EXPECT_EQ(FilesInDir(), files) << "no temporary file is left behind";
    LoadSettings();
    EXPECT_EQ(Settings.hostName, "kept.example.org");
    // The failed value is not written later by the next write of another value.
    platform::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(settings::ProductKey, false));
    ASSERT_TRUE(reg.WriteString("ftp", "username", "next"));
    LoadSettings();
    EXPECT_EQ(Settings.hostName, "kept.example.org");
    EXPECT_EQ(Settings.userName, "next");
}

TEST_F(Store, AKeyThatCannotBeCreatedLoadsDefaultsAndRaisesOnSave) {
    // A directory where the settings file belongs.
    QDir().mkpath(IniPath());
    Settings = configRecord{};
    EXPECT_EQ(ErrorOf(LoadSettings), "(nothing raised)");
    ExpectSameFields(Settings, Defaults(), false);
    EXPECT_EQ(ErrorOf(SaveSettings), "Failed to create key \\Software\\Brindlewick");
}

} // namespace
