// The History window driven offscreen by keys and the mouse, with scripted
// dialogs: filter, copy, open, remove, and delete from real FTP servers.
#include "HistoryWindow.h"
#include "ConfigDirScope.h"
#include "DataDirScope.h"
#include "FtpPeers.h"
#include "HistoryDialogs.h"
#include "ScriptedDialogs.h"
#include "ScriptedTcpServer.h"
#include "TempDirScope.h"
#include "TestCertificates.h"
#include "configUnit.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <fstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Names(const std::vector<THistoryEntry>& rows) {
    std::vector<std::string> names;
    for (const auto& r : rows) names.push_back(r.Name);
    return names;
}

struct HistoryWindowTest : testing::Test {
    TempDirScope tmp;
    ConfigDirScope config;
    DataDirScope data;
    ScriptedDialogsScope dialogs;
    std::unique_ptr<THistoryWindow> window;
    std::vector<std::string> opened;

    void Add(int64_t time, const std::string& name, const std::string& method = "http") {
        THistoryStore store(THistoryStore::DefaultPath());
        THistoryEntry e;
        e.Time = time;
        e.Method = method;
        e.Name = name;
        e.Url = "http://pics.example/" + name;
        QImage picture(320, 200, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        QBuffer buffer(&e.Thumbnail);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "JPEG");
        store.Add(e);
    }
    void Open() {
        window = std::make_unique<THistoryWindow>(nullptr, data.HistoryFile());
        window->OnOpenUrl = [this](const std::string& url) { opened.push_back(url); };
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void Click(int row, Qt::KeyboardModifiers modifiers = {}) {
        QTableWidget* grid = window->grdRows;
        const QRect cell = grid->visualRect(grid->model()->index(row, 2));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, modifiers, cell.center());
    }
    void Key(int key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(window->grdRows, Qt::Key(key), modifiers);
    }
};

} // namespace

TEST_F(HistoryWindowTest, FiltersCopiesOpensAndRemovesTheSelectedRows) {
    Add(100, "holiday-beach.jpg");
    Add(300, "bug-report.jpg");
    Add(200, "Holiday-hotel.jpg");
    Open();
    EXPECT_EQ(
        Names(window->Rows()),
        (std::vector<std::string>{"bug-report.jpg", "Holiday-hotel.jpg", "holiday-beach.jpg"}));
    EXPECT_FALSE(window->btnCopyUrl->isEnabled()) << "nothing selected yet";
    EXPECT_FALSE(window->grdRows->item(2, 0)->icon().isNull()) << "thumbnails of rows in view";

    QTest::keyClicks(window->edtFilter, "holi");
    EXPECT_EQ(Names(window->Rows()),
              (std::vector<std::string>{"Holiday-hotel.jpg", "holiday-beach.jpg"}));
    Click(0);
    Click(1, Qt::ControlModifier);
    Key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
              "http://pics.example/Holiday-hotel.jpg\nhttp://pics.example/holiday-beach.jpg");

    Click(1);
    Key(Qt::Key_Return);
    EXPECT_EQ(opened, std::vector<std::string>{"http://pics.example/holiday-beach.jpg"});
    // A double-click's first click comes as a click of its own.
    const QPoint url = window->grdRows->visualRect(window->grdRows->model()->index(0, 3)).center();
    QTest::mouseClick(window->grdRows->viewport(), Qt::LeftButton, {}, url);
    QTest::mouseDClick(window->grdRows->viewport(), Qt::LeftButton, {}, url);
    EXPECT_EQ(opened.back(), "http://pics.example/Holiday-hotel.jpg");

    Click(1);
    QTest::mouseClick(window->btnRemove, Qt::LeftButton);
    EXPECT_EQ(Names(window->Rows()), std::vector<std::string>{"Holiday-hotel.jpg"});
    window->edtFilter->clear();
    EXPECT_EQ(Names(window->Rows()),
              (std::vector<std::string>{"bug-report.jpg", "Holiday-hotel.jpg"}));
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(HistoryWindowTest, DeleteKeyAsksThenDeletesFromTheFtpServerAndMarksTheRow) {
    if (!PyFtpdServer::Available()) GTEST_SKIP() << "python3-pyftpdlib is not installed";
    PyFtpdServer ftp;
    ASSERT_TRUE(ftp.Running()) << ftp.Error();
    ASSERT_EQ(::mkdir((ftp.Root() + "/pics").c_str(), 0755), 0);
    for (const char* name : {"one.jpg", "two.jpg"})
        std::ofstream(ftp.Root() + "/pics/" + name) << name;
    LoadSettings();
    Settings.password = ftp.Password();
    Settings.hostName = "elsewhere.invalid"; // the row's server counts, not today's
    SaveSettings();
    {
        THistoryStore store(THistoryStore::DefaultPath());
        for (const char* name : {"one.jpg", "two.jpg", "../two.jpg"}) {
            THistoryEntry e;
            e.Time = 10;
            e.Method = HistoryMethodFtp;
            e.Host = ftp.Host();
            e.Port = ftp.Port();
            e.User = ftp.User();
            e.Directory = "pics";
            e.Name = name;
            e.Url = std::string("http://pics.example/") + name;
            store.Add(e);
        }
    }
    Open();
    // Newest first among equal times: the last added on top.
    ASSERT_EQ(Names(window->Rows()),
              (std::vector<std::string>{"../two.jpg", "two.jpg", "one.jpg"}));

    Click(2);
    dialogs->confirmAnswers = {false};
    Key(Qt::Key_Delete);
    EXPECT_EQ(dialogs->shown.size(), 1u);
    EXPECT_TRUE(std::ifstream(ftp.Root() + "/pics/one.jpg").good()) << "No deletes nothing";

    dialogs->shown.clear();
    dialogs->confirmAnswers = {true};
    Key(Qt::Key_Delete);
    ASSERT_EQ(dialogs->shown.size(), 1u) << dialogs->shown.back().text;
    EXPECT_EQ(dialogs->shown[0].text, "Delete one.jpg from the server?");
    EXPECT_FALSE(std::ifstream(ftp.Root() + "/pics/one.jpg").good());
    EXPECT_TRUE(std::ifstream(ftp.Root() + "/pics/two.jpg").good());
    EXPECT_TRUE(window->Rows()[2].Deleted);
    EXPECT_EQ(window->grdRows->item(2, 2)->text().toStdString(), "one.jpg (deleted from server)");
    EXPECT_FALSE(dialogs->progressSteps.empty());

    // A name planted in the database never reaches the server.
    dialogs->shown.clear();
    dialogs->confirmAnswers = {true};
    Click(0);
    QTest::mouseClick(window->btnDelete, Qt::LeftButton);
    ASSERT_EQ(dialogs->shown.size(), 2u);
    EXPECT_EQ(dialogs->shown[1].text,
              "Refused to delete \"../two.jpg\": it is not a plain file name.");
    EXPECT_TRUE(std::ifstream(ftp.Root() + "/pics/two.jpg").good());
    EXPECT_FALSE(window->Rows()[0].Deleted);
}

TEST_F(HistoryWindowTest, DeleteOverExplicitTlsFromVsftpdRemovesExactlyThatFile) {
    const TestCertificates& certs = TestCertificates::Get();
    if (!certs.Ready()) GTEST_SKIP() << certs.Error();
    if (!VsftpdServer::Available()) GTEST_SKIP() << "vsftpd cannot run here";
    VsftpdServer ftp(FtpTls::Explicit, certs.Server.Cert, certs.Server.Key);
    ASSERT_TRUE(ftp.Running()) << ftp.Error();
    for (const char* name : {"one.jpg", "two.jpg"}) std::ofstream(ftp.Root() + "/" + name) << name;
    LoadSettings();
    Settings.password = ftp.Password();
    Settings.passive = true;
    SaveSettings();
    THistoryStore store(THistoryStore::DefaultPath());
    THistoryEntry e;
    e.Method = HistoryMethodFtp;
    e.Host = "localhost";
    e.Port = ftp.Port();
    e.User = ftp.User();
    e.Encryption = 1;
    e.Name = "one.jpg";
    e.Url = "http://pics.example/one.jpg";
    store.Add(e);

    EXPECT_TRUE(DeleteWithDialogs(store, e, true)) << testing::PrintToString(dialogs->Messages());
    EXPECT_FALSE(std::ifstream(ftp.Root() + "/one.jpg").good());
    EXPECT_TRUE(std::ifstream(ftp.Root() + "/two.jpg").good());
    EXPECT_TRUE(store.List().empty());
}

TEST_F(HistoryWindowTest, CancelledDeleteLeavesTheRowAsItWas) {
    ScriptedTcpServer server(
        {ScriptedTcpServer::Send("220 ready\r\n"), ScriptedTcpServer::Stall()});
    THistoryStore store(THistoryStore::DefaultPath());
    THistoryEntry e;
    e.Method = HistoryMethodFtp;
    e.Host = "127.0.0.1";
    e.Port = server.Port();
    e.User = "ann";
    e.Name = "one.jpg";
    store.Add(e);
    // Cancel while the server keeps the login waiting.
    dialogs->whileProgress = [this](ScriptedDialogs::Progress& p) {
        if (dialogs->progressSteps.back() == "Logging in") p.Cancel();
    };

    EXPECT_FALSE(DeleteWithDialogs(store, e, false));
    EXPECT_EQ(dialogs->progressSteps, (std::vector<std::string>{"Connecting", "Logging in"}));
    EXPECT_EQ(dialogs->Messages(), std::vector<std::string>{"Deleting cancelled."});
    EXPECT_EQ(dialogs->progressWindowsOpen, 0);
    EXPECT_FALSE(store.List()[0].Deleted);
    server.Release();
}
