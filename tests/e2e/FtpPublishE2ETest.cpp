#include "FtpPeers.h"
#include "ProgramUnderTest.h"
#include "XSession.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

namespace {

QByteArray ReadAll(const std::string& path) {
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// A screen capture published over FTP the way a user does it, with the
// account set up in the settings file: the name typed into the prompt, the
// URL on the clipboard while the box that follows shows it, the picture on
// the server.
TEST(FtpPublishE2E, PublishedCaptureIsOnTheServerAndItsUrlOnTheClipboard) {
    if (!PyFtpdServer::Available()) GTEST_SKIP() << "python3-pyftpdlib is not installed";
    PyFtpdServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    XSession x(1024, 768, 24);
    ASSERT_TRUE(x.Ok()) << x.Error();
    // A clipboard keeper, as desktops run one, to hold the URL after the program ends.
    QTemporaryDir keeperHome;
    const bool keeper = QFile::exists("/usr/bin/parcellite");
    QProcess* keeperProc = nullptr;
    if (keeper) {
        QProcessEnvironment env;
        env.insert("HOME", keeperHome.path());
        env.insert("XDG_CONFIG_HOME", keeperHome.path());
        keeperProc = x.Start("/usr/bin/parcellite", {"-n"}, env);
    }
    ProgramUnderTest program(x);
    const QString prefix = "http://127.0.0.1/~tester/shots/";
    {
        const QString ini = QString::fromStdString(program.SettingsFile());
        QDir().mkpath(QFileInfo(ini).path());
        QSettings settings(ini, QSettings::IniFormat);
        settings.setValue("ftp/hostname", "127.0.0.1");
        settings.setValue("ftp/port", QString::number(server.Port()));
        settings.setValue("ftp/username", QString::fromStdString(server.User()));
        settings.setValue("ftp/password", QString::fromStdString(server.Password()));
        settings.setValue("ftp/destdirectory", "shots");
        settings.setValue("ftp/passive", "1");
        settings.setValue("ftp/hostprefix", prefix);
        settings.setValue("General/transfertype", "1");
    }
    ASSERT_TRUE(program.Start());
    program.Press("Capture screen");
    ASSERT_TRUE(WaitUntil(
        [&] {
            return QFile::exists(QString::fromStdString(program.WorkingFile())) &&
                   x.WindowMapped(program.MainWindow()) && program.LooksEnabled("Publish");
        },
        20000));
    const QByteArray capture = ReadAll(program.WorkingFile());

    program.Press("Publish");
    const unsigned long query = x.WaitForWindow("^Preparing for publishing$");
    ASSERT_NE(query, 0u);
    x.Key(query, "ctrl+a");
    x.Run("xdotool", {"type", "--delay", "20", "e2e shot.jpg"});
    x.Run("xdotool", {"key", "Return"});

    const unsigned long box = x.WaitForWindow("^Transfer succeeded!$", 30000);
    ASSERT_NE(box, 0u) << "no URL box";
    EXPECT_FALSE(program.LooksEnabled("Publish")) << "busy while the URL is shown";
    // The program put it there; nothing was copied by hand.
    QByteArray url;
    EXPECT_TRUE(WaitUntil(
        [&] {
            url = x.Run("xclip", {"-o", "-selection", "clipboard"});
            return !url.isEmpty();
        },
        10000));
    EXPECT_EQ(url.toStdString(), (prefix + "e2e shot.jpg").toStdString());
    x.Key(box, "Return");
    ASSERT_TRUE(WaitUntil([&] { return !x.WindowMapped(box); }, 10000));

    const QImage stored(QString::fromStdString(server.Root() + "/shots/e2e shot.jpg"), "JPEG");
    EXPECT_EQ(stored.size(), QSize(1024, 768));
    EXPECT_TRUE(WaitUntil(
        [&] {
            // The working folder also holds the single-copy lock.
            return QDir(QString::fromStdString(program.TempDir()))
                       .entryList({"*.jpg", "*.bmp"}, QDir::Files) ==
                   QStringList{"brindlewick_temp.bmp"};
        },
        5000))
        << "the exported JPEG is deleted";
    EXPECT_EQ(ReadAll(program.WorkingFile()), capture);
    EXPECT_TRUE(WaitUntil([&] { return program.LooksEnabled("Configure"); }, 5000));

    if (!keeper) return;
    ASSERT_EQ(keeperProc->state(), QProcess::Running);
    // The keeper polls the clipboard twice a second; a user takes longer
    // than this between the URL box and quitting.
    QThread::sleep(2);
    program.Process()->terminate();
    ASSERT_TRUE(program.Process()->waitForFinished(10000));
    EXPECT_TRUE(WaitUntil(
        [&] {
            url = x.Run("xclip", {"-o", "-selection", "clipboard"});
            return url.toStdString() == (prefix + "e2e shot.jpg").toStdString();
        },
        10000))
        << "after the program ended the clipboard holds \"" << url.toStdString() << "\"";
}
