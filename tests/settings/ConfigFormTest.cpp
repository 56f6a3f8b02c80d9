#include "ScratchConfig.h"

#include "Keyring.h"
#include "configFormUnit.h"
#include "configUnit.h"

#include <QApplication>
#include <QRadioButton>
#include <QSettings>
#include <QTest>

#include <memory>

namespace {

class ConfigDialog : public ScratchConfig {
protected:
    void SetUp() override {
        ScratchConfig::SetUp();
        Form = std::make_unique<TfrmConfig>();
    }
    void TearDown() override {
        Form.reset();
        ScratchConfig::TearDown();
    }

    // Shows the dialog the way the main window does, up to its activation.
    void Open() {
        Form->show();
        Form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    }

    // Releasing the mouse over a box's indicator, as a user clicks it.
    static void Click(QCheckBox& box, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(&box, button, {}, QPoint(6, box.height() / 2));
    }

    std::vector<TLabeledEdit*> FtpEdits() const {
        return {Form->leServerName.get(), Form->leUsername.get(), Form->lePassword.get(),
                Form->leServerPort.get(), Form->leDestDir.get(),  Form->leURLPrefix.get()};
    }
    std::vector<TLabeledEdit*> HttpEdits() const {
        return {Form->leHTTPTarget.get(), Form->leHTTPServer.get(), Form->leSecretKey.get()};
    }
    void ExpectEnabled(bool ftp, bool http) const {
        for (auto* e : FtpEdits())
            EXPECT_EQ(e->isEnabled(), ftp) << e->EditLabel->text().toStdString();
        for (auto* e : HttpEdits())
            EXPECT_EQ(e->isEnabled(), http) << e->EditLabel->text().toStdString();
        EXPECT_TRUE(Form->rgPassive->isEnabled());
        EXPECT_TRUE(Form->cbUseFTP->isEnabled());
        EXPECT_TRUE(Form->cbUseHTTP->isEnabled());
    }
    QVariant Stored(const char* key) const {
        return QSettings(IniPath(), QSettings::IniFormat).value(key);
    }

    std::unique_ptr<TfrmConfig> Form;
};

TEST_F(ConfigDialog, EachShowingLoadsTheStoredValuesOnce) {
    StoreOnly({{"ftp/hostname", "files.example.org"},
               {"ftp/password", "pw"},
               {"General/transfertype", "2"},
               {"httppost/secretkey", "k1"}});
    Open();
    EXPECT_EQ(Form->leServerName->text(), "files.example.org");
    EXPECT_EQ(Form->lePassword->text(), "pw");
    EXPECT_EQ(Form->lePassword->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Form->leUsername->text(), "johndoe");
    EXPECT_EQ(Form->leSecretKey->text(), "k1");
    EXPECT_FALSE(Form->cbUseFTP->isChecked());
    EXPECT_TRUE(Form->cbUseHTTP->isChecked());
    ExpectEnabled(false, true);
    EXPECT_EQ(Form->lblSecrets->text(), platform::Keyring(IniPath().toStdString()).Available()
                                            ? "Passwords are kept in the desktop keyring."
                                            : "Passwords are kept in the settings file.");

    // Coming back to the open dialog from another window keeps the edits.
    Form->leSecretKey->setText("typed");
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    EXPECT_EQ(Form->leSecretKey->text(), "typed");
}

TEST_F(ConfigDialog, UnknownTransferTypesOpenWithFtpChecked) {
    StoreOnly({{"General/transfertype", "3"}});
    Open();
    EXPECT_TRUE(Form->cbUseFTP->isChecked());
    EXPECT_FALSE(Form->cbUseHTTP->isChecked());
    ExpectEnabled(true, false);
}

TEST_F(ConfigDialog, MouseReleaseOverABoxClearsTheOtherWhateverItsState) {
    StoreOnly({{"General/transfertype", "2"}});
    Open();
    Click(*Form->cbUseFTP);
    EXPECT_TRUE(Form->cbUseFTP->isChecked());
    EXPECT_FALSE(Form->cbUseHTTP->isChecked());
    ExpectEnabled(true, false);

    Click(*Form->cbUseHTTP);
    EXPECT_FALSE(Form->cbUseFTP->isChecked());
    EXPECT_TRUE(Form->cbUseHTTP->isChecked());
    ExpectEnabled(false, true);

    // Clicking the checked box leaves both clear; publishing then goes by HTTP.
    Click(*Form->cbUseHTTP);
    EXPECT_FALSE(Form->cbUseFTP->isChecked());
    EXPECT_FALSE(Form->cbUseHTTP->isChecked());
    ExpectEnabled(false, false);
    QTest::mouseClick(Form->btnOK.get(), Qt::LeftButton);
    EXPECT_FALSE(Form->isVisible());
    EXPECT_EQ(Stored("General/transfertype"), QVariant("2"));
}

TEST_F(ConfigDialog, AClickAnywhereOnAUseBoxTogglesIt) {
    StoreOnly({{"General/transfertype", "2"}});
    Open();
    // The whole 97 x 17 area is the box: the indicator, the text, the room
    // right of the text, the corners.
    const QPoint places[] = {{0, 0}, {6, 8}, {30, 8}, {60, 8}, {96, 16}};
    for (const QPoint& at : places) {
        QTest::mouseClick(Form->cbUseFTP.get(), Qt::LeftButton, {}, at);
        EXPECT_TRUE(Form->cbUseFTP->isChecked()) << at.x() << "," << at.y();
        EXPECT_FALSE(Form->cbUseHTTP->isChecked());
        QTest::mouseClick(Form->cbUseHTTP.get(), Qt::LeftButton, {}, at);
        EXPECT_TRUE(Form->cbUseHTTP->isChecked()) << at.x() << "," << at.y();
        EXPECT_FALSE(Form->cbUseFTP->isChecked());
    }
    // Right of the text, the FTP box is chosen and the choice is stored.
    QTest::mouseClick(Form->cbUseFTP.get(), Qt::LeftButton, {}, QPoint(80, 8));
    ExpectEnabled(true, false);
    QTest::mouseClick(Form->btnOK.get(), Qt::LeftButton);
    EXPECT_EQ(Stored("General/transfertype"), QVariant("1"));
}

TEST_F(ConfigDialog, ARightButtonReleaseAlsoClearsTheOtherBox) {
    Open();
    Click(*Form->cbUseHTTP, Qt::RightButton);
    EXPECT_FALSE(Form->cbUseHTTP->isChecked()) << "only the left button toggles";
    EXPECT_FALSE(Form->cbUseFTP->isChecked());
    ExpectEnabled(false, false);
}

TEST_F(ConfigDialog, KeyboardTogglingChangesOneBoxAndNoEnabling) {
    Open();
    Form->cbUseHTTP->setFocus();
    QTest::keyClick(Form->cbUseHTTP.get(), Qt::Key_Space);
    EXPECT_TRUE(Form->cbUseHTTP->isChecked());
    EXPECT_TRUE(Form->cbUseFTP->isChecked());
    ExpectEnabled(true, false);
    // OK with both checked means FTP.
    QTest::mouseClick(Form->btnOK.get(), Qt::LeftButton);
    EXPECT_EQ(Stored("General/transfertype"), QVariant("1"));
}

TEST_F(ConfigDialog, OkStoresTheTextsAsTyped) {
    Open();
    Form->leServerName->setText("  spaced.example.org ");
    Form->leServerPort->setText("not a port");
    Form->leURLPrefix->setText("");
    Form->leHTTPServer->setText("http://www.example.org/shots/");
    QTest::mouseClick(Form->btnOK.get(), Qt::LeftButton);
    EXPECT_EQ(Stored("ftp/hostname"), QVariant("  spaced.example.org "));
    EXPECT_EQ(Stored("ftp/port"), QVariant("not a port"));
    EXPECT_EQ(Stored("ftp/hostprefix"), QVariant(""));
    EXPECT_EQ(Stored("httppost/postserver"), QVariant("http://www.example.org/shots/"));
    EXPECT_EQ(Stored("ftp/passive"), QVariant("1"));
    // The key shown is the key stored, and later loads keep it.
    const QString key = Form->leSecretKey->text();
    EXPECT_EQ(Stored("httppost/secretkey"), QVariant(key));
    LoadSettings();
    EXPECT_EQ(QString::fromStdString(Settings.secretKey), key);
}

TEST_F(ConfigDialog, CancelAndTheCloseBoxStoreNothing) {
    StoreOnly({{"ftp/username", "stored"}});
    const std::string before = ReadIni();
    Open();
    Form->leUsername->setText("edited");
    Click(*Form->cbUseHTTP);
    QTest::mouseClick(Form->btnCancel.get(), Qt::LeftButton);
    EXPECT_FALSE(Form->isVisible());
    EXPECT_EQ(Form->result(), QDialog::Rejected);
    EXPECT_EQ(ReadIni(), before);

    Open();
    EXPECT_EQ(Form->leUsername->text(), "stored");
    EXPECT_TRUE(Form->cbUseFTP->isChecked());
    Form->leUsername->setText("edited again");
    Form->close();
    EXPECT_EQ(ReadIni(), before);
}

TEST_F(ConfigDialog, ThePassiveChoiceIsRememberedOnlyByTheRadioGroup) {
    StoreOnly({{"ftp/passive", "0"}});
    Open();
    EXPECT_EQ(Form->rgPassive->ItemIndex(), -1);
    QTest::mouseClick(Form->btnOK.get(), Qt::LeftButton);
    EXPECT_EQ(Stored("ftp/passive"), QVariant("0"));

    Open();
    Form->rgPassive->Item(0)->click();
    QTest::mouseClick(Form->btnCancel.get(), Qt::LeftButton);
    EXPECT_EQ(Stored("ftp/passive"), QVariant("0"));
    // Passive off leaves the earlier selection as it was.
    Open();
    EXPECT_EQ(Form->rgPassive->ItemIndex(), 0);
    QTest::mouseClick(Form->btnOK.get(), Qt::LeftButton);
    EXPECT_EQ(Stored("ftp/passive"), QVariant("1"));

    Open();
    Form->rgPassive->Item(1)->click();
    QTest::mouseClick(Form->btnOK.get(), Qt::LeftButton);
    EXPECT_EQ(Stored("ftp/passive"), QVariant("0"));
}

TEST_F(ConfigDialog, TabGoesThroughTheControlsInTheDesignedOrder) {
    StoreOnly({{"ftp/passive", "0"}});
    Open();
    const std::vector<QWidget*> designed = {
        Form->leServerName.get(), Form->leUsername.get(),   Form->lePassword.get(),
        Form->leServerPort.get(), Form->leDestDir.get(),    Form->leURLPrefix.get(),
        Form->rgPassive->Item(0), Form->cbUseFTP.get(),     Form->btnOK.get(),
        Form->btnCancel.get(),    Form->leHTTPTarget.get(), Form->cbUseHTTP.get(),
        Form->leHTTPServer.get(), Form->leSecretKey.get()};
    // The radio group is one stop (its arrow keys move between the items).
    // Every box is enabled so that each one takes the focus.
    Form->cbUseFTP->setChecked(true);
    Form->cbUseHTTP->setChecked(true);
    Form->deactivatActivateControls();
    Form->leServerName->setFocus();
    std::vector<QWidget*> visited{QApplication::focusWidget()};
    for (size_t i = 1; i < designed.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(QApplication::focusWidget());
    }
    EXPECT_EQ(visited, designed);
}

TEST_F(ConfigDialog, TheFormKeepsItsDesignedGeometryAndEveryCaptionFits) {
    EXPECT_EQ(Form->windowTitle(), "Config");
    // The designed dialog with the capture group on its right.
    EXPECT_EQ(Form->size(), QSize(640, 461));
    EXPECT_EQ(Form->minimumSize(), Form->maximumSize());
    EXPECT_EQ(Form->leDestDir->geometry(), QRect(112, 132, 257, 21));
    EXPECT_EQ(Form->btnCancel->geometry(), QRect(280, 416, 105, 33));
    EXPECT_EQ(Form->GroupBox1->geometry(), QRect(8, 288, 393, 113));
    std::vector<TLabeledEdit*> all = FtpEdits();
    for (auto* e : HttpEdits()) all.push_back(e);
    for (TLabeledEdit* e : all) {
        const QLabel& label = *e->EditLabel;
        const std::string caption = label.text().toStdString();
        EXPECT_FALSE(e->toolTip().isEmpty()) << caption;
        EXPECT_GE(label.x(), 0) << caption;
        EXPECT_LE(label.geometry().right(), e->x()) << caption;
        const int needed =
            label.wordWrap() ? label.heightForWidth(label.width()) : label.sizeHint().height();
        EXPECT_LE(needed, label.height()) << caption;
        if (!label.wordWrap()) {
            EXPECT_LE(label.sizeHint().width(), label.width()) << caption;
        }
    }
    // The longer of its texts fits between OK and Cancel.
    QLabel& secrets = *Form->lblSecrets;
    secrets.setText("Passwords are kept in the desktop keyring.");
    EXPECT_LE(secrets.heightForWidth(secrets.width()), secrets.height());
    EXPECT_LT(Form->btnOK->geometry().right(), secrets.x());
    EXPECT_LT(secrets.geometry().right(), Form->btnCancel->x());
}

TEST_F(ConfigDialog, EncryptionIsChosenBesideThePassiveChoiceAndStoredOnOk) {
    for (const auto& [stored, shown] : std::vector<std::pair<const char*, int>>{
             {"2", 2}, {"1", 1}, {"3", 3}, {"7", 0}, {"x", 0}}) {
        StoreOnly({{"ftp/encryption", stored}});
        Open();
        EXPECT_EQ(Form->cbEncryption->currentIndex(), shown) << stored;
        Form->hide();
    }
    Open();
    EXPECT_EQ(Form->cbEncryption->itemText(1), "Explicit TLS");
    EXPECT_FALSE(Form->cbEncryption->toolTip().isEmpty());
    // Inside the FTP group, clear of the passive choice, its caption fitting.
    const QRect box = Form->cbEncryption->geometry();
    EXPECT_TRUE(QRect(QPoint(0, 0), Form->grpFTPSettings->size()).contains(box));
    EXPECT_FALSE(box.intersects(Form->rgPassive->geometry()));
    EXPECT_LE(Form->lblEncryption->sizeHint().width(), Form->lblEncryption->width());
    Form->cbEncryption->setCurrentIndex(2);
    Form->btnOKClick();
    EXPECT_EQ(Settings.ftpEncryption, 2);
    EXPECT_EQ(Stored("ftp/encryption"), QVariant("2"));
    // Follows the FTP fields when HTTP POST is chosen.
    Open();
    Click(*Form->cbUseHTTP);
    EXPECT_FALSE(Form->cbEncryption->isEnabled());
}

TEST_F(ConfigDialog, ChoosingSftpProposesPort22AndGraysThePassiveChoice) {
    QComboBox& box = *Form->cbEncryption;
    auto choose = [&](int index) {
        box.setCurrentIndex(index);
        emit box.activated(index);
    };
    struct Case {
        const char* port;
        int choice;
        const char* proposed;
    } cases[] = {
        {"21", 3, "22"}, {"", 3, "22"}, {"2222", 3, "2222"}, {"22", 0, "21"}, {"990", 2, "990"}};
    for (const Case& c : cases) {
        Open();
        Form->leServerPort->setText(c.port);
        choose(c.choice);
        EXPECT_EQ(Form->leServerPort->text(), c.proposed) << c.port << " " << c.choice;
        EXPECT_EQ(Form->rgPassive->isEnabled(), c.choice != 3);
        Form->hide();
    }
    Open();
    EXPECT_EQ(box.itemText(3), "SFTP (SSH)");
    // The caption fits its box.
    box.setCurrentIndex(3);
    EXPECT_LE(box.sizeHint().width(), box.width());
    Form->leServerPort->setText("21");
    choose(3);
    Form->btnOKClick();
    EXPECT_EQ(Stored("ftp/encryption"), QVariant("3"));
    EXPECT_EQ(Stored("ftp/port"), QVariant("22"));
    // Opened again with SFTP stored, the passive choice stays gray.
    Open();
    EXPECT_FALSE(Form->rgPassive->isEnabled());
}

// Unstored, the capture settings are today's ways and stay out of the file.
TEST_F(ConfigDialog, CaptureSettingsStandBesideThePublishingGroupsAndAreStoredOnOk) {
    for (const auto& [stored, screens, after] :
         std::vector<std::tuple<const char*, int, int>>{{"2", 2, 2}, {"9", 0, 0}, {"x", 0, 0}}) {
        StoreOnly({{"General/capturescreens", stored}, {"General/aftercapture", stored}});
        Open();
        EXPECT_EQ(Form->cbCaptureScreens->currentIndex(), screens) << stored;
        EXPECT_EQ(Form->cbAfterCapture->currentIndex(), after) << stored;
        EXPECT_TRUE(Form->cbRegionOnRelease->isChecked());
        Form->hide();
    }
    StoreOnly({});
    Open();
    Form->btnOKClick();
    EXPECT_FALSE(Stored("General/aftercapture").isValid()) << "the file stays as it was";
    const QRect group = Form->grpCapture->geometry();
    EXPECT_FALSE(group.intersects(Form->grpFTPSettings->geometry()));
    EXPECT_FALSE(group.intersects(Form->GroupBox1->geometry()));
    EXPECT_TRUE(Form->rect().contains(group));
    for (QWidget* w :
         std::initializer_list<QWidget*>{Form->lblCaptureScreens.get(), Form->lblAfterCapture.get(),
                                         Form->cbRegionOnRelease.get(),
                                         Form->cbCaptureScreens.get(), Form->cbAfterCapture.get()})
        EXPECT_LE(w->sizeHint().width(), w->width()) << w->metaObject()->className();

    Open();
    Form->cbCaptureScreens->setCurrentIndex(1);
    Form->cbAfterCapture->setCurrentIndex(3);
    Form->cbRegionOnRelease->setChecked(false);
    Form->btnOKClick();
    EXPECT_EQ(Settings.captureScreens, settings::ScreensUnderMouse);
    EXPECT_EQ(Settings.afterCapture, settings::AfterSave);
    EXPECT_FALSE(Settings.regionOnRelease);
    EXPECT_EQ(Stored("General/capturescreens"), QVariant("1"));
    EXPECT_EQ(Stored("General/aftercapture"), QVariant("3"));
    EXPECT_EQ(Stored("General/regionrelease"), QVariant("0"));
}

} // namespace

TEST_F(ConfigDialog, EachTestButtonTriesItsMethodWithTheUnsavedValues) {
    Open();
    std::vector<configRecord> tried;
    std::vector<bool> othersEnabled;
    Form->OnTestConnection = [&](configRecord& s) {
        tried.push_back(s);
        othersEnabled.push_back(Form->btnTestFTP->isEnabled() || Form->btnTestHTTP->isEnabled());
        // The user trusted the server's certificate during the test.
        s.httpCertFingerprint = "AB:CD";
    };
    EXPECT_TRUE(Form->btnTestFTP->isEnabled());
    EXPECT_FALSE(Form->btnTestHTTP->isEnabled());
    Form->leServerName->setText("ftp.unsaved.example");
    QTest::mouseClick(Form->btnTestFTP.get(), Qt::LeftButton);
    Click(*Form->cbUseHTTP);
    EXPECT_FALSE(Form->btnTestFTP->isEnabled());
    Form->leSecretKey->setText("unsaved-key");
    QTest::mouseClick(Form->btnTestHTTP.get(), Qt::LeftButton);

    ASSERT_EQ(tried.size(), 2u);
    EXPECT_EQ(tried[0].transferType, settings::TransferFtp);
    EXPECT_EQ(tried[0].hostName, "ftp.unsaved.example");
    EXPECT_EQ(tried[1].transferType, settings::TransferHttp);
    EXPECT_EQ(tried[1].secretKey, "unsaved-key");
    EXPECT_EQ(othersEnabled, (std::vector<bool>{false, false})) << "one test at a time";
    EXPECT_TRUE(Form->btnTestHTTP->isEnabled());
    EXPECT_NE(Stored("ftp/hostname").toString(), "ftp.unsaved.example") << "a test saves nothing";
    EXPECT_FALSE(Stored("httppost/certfingerprint").isValid());
    Form->btnOKClick();
    EXPECT_EQ(Stored("httppost/certfingerprint"), QVariant("AB:CD")) << "kept with the rest on OK";
    // In the top row of each group, clear of its other controls.
    for (auto [button, group, use, first] :
         {std::tuple{Form->btnTestFTP.get(), Form->grpFTPSettings.get(), Form->cbUseFTP.get(),
                     static_cast<QWidget*>(Form->leServerName.get())},
          std::tuple{Form->btnTestHTTP.get(), Form->GroupBox1.get(), Form->cbUseHTTP.get(),
                     static_cast<QWidget*>(Form->leHTTPTarget.get())}}) {
        EXPECT_TRUE(QRect(QPoint(0, 0), group->size()).contains(button->geometry()));
        EXPECT_FALSE(button->geometry().intersects(use->geometry()));
        EXPECT_FALSE(button->geometry().intersects(first->geometry()));
        EXPECT_LE(button->sizeHint().width(), button->width() + 16);
        EXPECT_FALSE(button->toolTip().isEmpty());
    }
}
