#include "WorkingFiles.h"
#include "DateFormats.h"
#include "FileModes.h"
#include "Random.h"
#include "TempDirScope.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fstream>
#include <functional>
#include <regex>

#include <unistd.h>

namespace {

std::string ErrorOfTempDirectory() {
    try {
        TempDirectory();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(nothing raised)";
}

} // namespace

TEST(WorkingFile, LivesInTheTemporaryDirectory) {
    TempDirScope tmp;
    EXPECT_EQ(TempDirectory(), tmp.Path());
    EXPECT_EQ(WorkingFilePath(), tmp.File("brindlewick_temp.bmp"));
    EXPECT_FALSE(WorkingFileExists());
    std::ofstream(WorkingFilePath()) << "x";
    EXPECT_TRUE(WorkingFileExists());
    DeleteWorkingFile();
    EXPECT_FALSE(WorkingFileExists());
    DeleteWorkingFile(); // a missing file is no error
}

// Everyone can write in the shared temporary directory, and the names there
// are predictable: the working directory is the user's own instead.
TEST(WorkingDirectory, IsAPrivateFolderOfTheUsersOwnMadeWhenMissing) {
    TempDirScope tmp;
    QTemporaryDir shared;
    ::chmod(shared.path().toLocal8Bit().constData(), 01777);
    EnvScope sharedTmp("TMPDIR", shared.path().toLocal8Bit());
    EXPECT_EQ(TempDirectory(), tmp.Path());

    const std::string deeper = tmp.Base() + "new/cache";
    const std::string home = tmp.Base() + "home";
    struct Case {
        const char* cache;
        std::string expected;
    } cases[] = {
        {deeper.c_str(), deeper + "/Brindlewick/"},
        {"", home + "/.cache/Brindlewick/"},
        {"relative/cache", home + "/.cache/Brindlewick/"},
    };
    EnvScope homeDir("HOME", QByteArray::fromStdString(home));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EnvScope cache("XDG_CACHE_HOME", c.cache);
        EXPECT_EQ(TempDirectory(), c.expected);
        EXPECT_EQ(ModeOf(c.expected), 0700u);
        std::ofstream(WorkingFilePath()) << "x";
        EXPECT_TRUE(WorkingFileExists());
    }
    EXPECT_TRUE(QDir(shared.path()).isEmpty()) << "nothing in the shared directory";
}

// What is there already is used only when it is a private folder of the
// user's; else the message names the path and the reason, and nothing in it
// counts as a capture.
TEST(WorkingDirectory, ThatIsNotPrivateIsRefusedWithThePathAndTheReason) {
    struct Case {
        const char* reason;
        std::function<void(const std::string& dir, const std::string& elsewhere)> make;
    } cases[] = {
        {"symbolic link",
         [](const std::string& dir, const std::string& elsewhere) {
             ::symlink(elsewhere.c_str(), dir.c_str());
         }},
        {"not a folder", [](const std::string& dir, const std::string&) { std::ofstream{dir}; }},
        {"other users can open it",
         [](const std::string& dir, const std::string&) { ::mkdir(dir.c_str(), 0755); }},
        {"another user",
         [](const std::string& dir, const std::string&) {
             ::mkdir(dir.c_str(), 0700);
             // Only root can give a folder away; as anyone else the case is moot.
             if (::chown(dir.c_str(), 65534, 65534) != 0) ::rmdir(dir.c_str());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        TempDirScope tmp;
        const std::string dir = tmp.Base() + "Brindlewick";
        const std::string elsewhere = tmp.Base() + "elsewhere";
        ::mkdir(elsewhere.c_str(), 0700);
        std::ofstream(elsewhere + "/brindlewick_temp.bmp") << "planted";
        ::rmdir(dir.c_str());
        c.make(dir, elsewhere);
        if (::access(dir.c_str(), F_OK) != 0) continue;
        const std::string error = ErrorOfTempDirectory();
        EXPECT_NE(error.find(dir), std::string::npos) << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_FALSE(WorkingFileExists());
        DeleteWorkingFile();
        EXPECT_TRUE(QFile::exists(QString::fromStdString(elsewhere + "/brindlewick_temp.bmp")));
    }
}

TEST(GenerateFileName, DateTimeAndThreeDrawsOfTheSharedGenerator) {
    platform::SetRandomState(0);
    platform::RandomDraw(65535); // one settings load
    const QDateTime before = QDateTime::currentDateTime();
    const std::string name = GenerateFileName();
    const QDateTime after = QDateTime::currentDateTime();

    std::smatch m;
    ASSERT_TRUE(std::regex_match(name, m, std::regex(R"(screencap(\d{6})(\d{6})(\d+))"))) << name;
    EXPECT_EQ(m[3].str(), "20565642913276");
    const std::string date = m[1].str(), time = m[2].str();
    EXPECT_TRUE(date == before.toString("MMddyy").toStdString() ||
                date == after.toString("MMddyy").toStdString())
        << date;
    EXPECT_TRUE(time >= before.toString("HHmmss").toStdString() || before.date() != after.date())
        << time;
    EXPECT_LE(time, after.toString("HHmmss").toStdString());
}

TEST(GenerateFileName, SwitchesTheProgramsDateAndTimeFormats) {
    GenerateFileName();
    EXPECT_EQ(platform::ShortDateFormat(), "MMddyy");
    EXPECT_EQ(platform::LongTimeFormat(), "HHmmss");
    EXPECT_EQ(platform::CurrentDateText(), QDate::currentDate().toString("MMddyy").toStdString());
}

TEST(GenerateFileName, NamesWithinOneSecondDiffer) {
    const std::string a = GenerateFileName();
    const std::string b = GenerateFileName();
    EXPECT_NE(a, b);
}
