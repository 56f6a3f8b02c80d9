#include "WorkingFiles.h"
#include "DateFormats.h"
#include "Random.h"
#include "TempDirScope.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <fstream>
#include <regex>

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
