// What follows a capture where the settings ask for it, through the main
// window: a publish at once to pyftpdlib under a generated name, with the
// URL on the clipboard and a desktop notification instead of a box; the
// boxes where no notification service answers or the publish fails.
#include "ConfigDirScope.h"
#include "DataDirScope.h"
#include "EventLoopWait.h"
#include "FakePortal.h"
#include "FtpPeers.h"
#include "MainWindowFixture.h"
#include "Notifications.h"
#include "PrivateBus.h"
#include "ScreenCapture.h"
#include "ScriptedDialogs.h"
#include "TempDirScope.h"
#include "configUnit.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Notice {
    std::string summary, body, link;
};

class NotifierDouble : public platform::Notifier {
public:
    explicit NotifierDouble(bool running, std::vector<Notice>& notices)
        : running_(running), notices_(notices) {}
    bool Notify(const std::string& summary, const std::string& body,
                const std::string& link) override {
        if (running_) notices_.push_back({summary, body, link});
        return running_;
    }

private:
    bool running_;
    std::vector<Notice>& notices_;
};

struct Case {
    const char* name;
    bool service; // a notification service answers
    bool loginOk; // else the server refuses the password
};

const Case Cases[] = {
    {"NotifiedWithoutABox", true, true},
    {"NoServiceShowsTheUrlBox", false, true},
    {"FailureIsNotified", true, false},
};

const std::string Prefix = "www.example.com/shots/";

class AfterCaptureTest : public testing::TestWithParam<Case> {
protected:
    TempDirScope tmp;
    ConfigDirScope config;
    DataDirScope data;
    ScriptedDialogsScope dialogs;
    QTemporaryDir answerDir{QDir::tempPath() + "/portal-answer-XXXXXX"};
    std::vector<Notice> notices;

    void TearDown() override { platform::installNotifier(nullptr); }
};

} // namespace

TEST_P(AfterCaptureTest, PublishAtOnceEndsWithTheUrlOnTheClipboard) {
    const Case& c = GetParam();
    if (!PyFtpdServer::Available()) GTEST_SKIP() << "python3-pyftpdlib is not installed";
    PyFtpdServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    FakePortal portal("png", answerDir.path());
    ASSERT_TRUE(portal.Ok()) << portal.Error();
    platform::installNotifier(std::make_unique<NotifierDouble>(c.service, notices));

    LoadSettings();
    Settings.transferType = settings::TransferFtp;
    Settings.hostName = "127.0.0.1";
    Settings.port = std::to_string(server.Port());
    Settings.userName = server.User();
    Settings.password = c.loginOk ? server.Password() : "wrong";
    Settings.destDirectory = "captures";
    Settings.hostPrefix = Prefix;
    Settings.afterCapture = settings::AfterPublish;
    SaveSettings();
    QGuiApplication::clipboard()->setText("before");

    TfrmMain w;
    w.Capture1->Way = platform::ScreenCapture::cwPortal;
    w.Capture1->DelayMs = 0;
    w.Capture1->PortalBusAddress = portal.Address();
    w.show();
    w.btnCaptureScreen->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return w.isVisible() && !w.isBusy && (!notices.empty() || !dialogs->shown.empty()); },
        20000));

    const QDir stored(QString::fromStdString(server.Root() + "/captures"));
    const QStringList files = stored.entryList({"*.jpg"}, QDir::Files);
    if (!c.loginOk) {
        EXPECT_TRUE(files.isEmpty());
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0].summary.rfind("Published", 0), std::string::npos)
            << notices[0].summary;
        EXPECT_FALSE(notices[0].summary.empty());
        EXPECT_TRUE(dialogs->shown.empty()) << dialogs->shown[0].text;
        EXPECT_EQ(QGuiApplication::clipboard()->text(), "before");
        return;
    }
    ASSERT_EQ(files.size(), 1) << "published under a generated name, without asking";
    const std::string url = Prefix + files[0].toStdString();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), url);
    if (c.service) {
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0].summary, "Published: " + url + " (copied)");
        EXPECT_EQ(notices[0].link, url);
        EXPECT_TRUE(dialogs->shown.empty()) << dialogs->shown[0].text;
    } else {
        ASSERT_EQ(dialogs->shown.size(), 1u);
        EXPECT_EQ(dialogs->shown[0].caption, "Transfer succeeded!");
        EXPECT_EQ(dialogs->shown[0].text, url);
    }
}

INSTANTIATE_TEST_SUITE_P(Publish, AfterCaptureTest, testing::ValuesIn(Cases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

namespace {

// Stands in for the browser: the links the desktop was asked to open.
class LinkCatcher : public QObject {
    Q_OBJECT
public:
    QStringList opened;
public Q_SLOTS:
    void Open(const QUrl& url) { opened << url.toString(); }
};

} // namespace

// The desktop's own service: it is given the summary and an Open action,
// choosing that action opens the link, and with no service on the bus the
// caller hears that nobody took the notification.
TEST(DesktopNotifier, OffersTheLinkAndOpensItWhenChosen) {
    PrivateBus bus;
    ASSERT_TRUE(bus.Ok()) << bus.Error();
    const auto quiet = platform::createBusNotifier(bus.Address().toStdString());
    EXPECT_FALSE(quiet->Notify("Published: x", "", "https://example.org/x.jpg"));

    QProcess* service = bus.StartScript("fake_notifications.py", {"choose"});
    ASSERT_TRUE(service) << bus.Error();
    LinkCatcher browser;
    QDesktopServices::setUrlHandler("https", &browser, "Open");
    const auto notifier = platform::createBusNotifier(bus.Address().toStdString());
    const std::string link = "https://example.org/shot_1.jpg";
    ASSERT_TRUE(notifier->Notify("Published: " + link + " (copied)", "", link));
    EXPECT_TRUE(PumpUntil([&] { return !browser.opened.isEmpty(); }));
    QDesktopServices::unsetUrlHandler("https");
    EXPECT_EQ(browser.opened, QStringList{QString::fromStdString(link)});
    const QStringList shown = PrivateBus::Lines(service);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains("\"summary\": \"Published: " + QString::fromStdString(link) +
                                  " (copied)\""))
        << shown[0].toStdString();
    EXPECT_TRUE(shown[0].contains("\"actions\": [\"default\", \"Open\"]"))
        << shown[0].toStdString();
}

#include "AfterCaptureTest.moc"
