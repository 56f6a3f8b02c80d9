// A fixture that points the settings at a fresh scratch directory and starts
// the random generator and date formats from known values.
#pragma once

#include "ConfigDirScope.h"
#include "DateFormats.h"
#include "FileContents.h"
#include "Random.h"

#include <QDir>
#include <QFile>
#include <QSettings>

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include <sys/stat.h>

class ScratchConfig : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Scratch.Valid());
        platform::SetRandomState(0);
        platform::SetDateFormats("MMddyy", "HHmmss");
    }

    QString Dir() const { return Scratch.Path() + "/Brindlewick"; }
    QString IniPath() const { return Dir() + "/Brindlewick.ini"; }

    // Replaces the settings file by one holding just these values (keys are
    // "section/name"), as another program or an older version may leave it.
    void StoreOnly(std::initializer_list<std::pair<const char*, QVariant>> values) const {
        QDir().mkpath(Dir());
        QFile::remove(IniPath());
        QSettings ini(IniPath(), QSettings::IniFormat);
        for (const auto& [key, value] : values) ini.setValue(key, value);
    }
    // Permission bits of the settings file.
    unsigned Mode() const {
        struct stat st {};
        return ::stat(IniPath().toLocal8Bit().constData(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
    std::string ReadIni() const { return ReadFileText(IniPath().toStdString()); }
    QStringList FilesInDir() const { return QDir(Dir()).entryList(QDir::Files | QDir::Hidden); }

    ConfigDirScope Scratch;
};
