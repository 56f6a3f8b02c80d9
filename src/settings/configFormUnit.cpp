#include "configFormUnit.h"

#include "ErrorReport.h"
#include "configUnit.h"

#include <QGuiApplication>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>

TfrmConfig* frmConfig = nullptr;

namespace {
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
std::string S(const QString& s) {
    return s.toStdString();
}
} // namespace

TfrmConfig::TfrmConfig(QWidget* parent) : QDialog(parent) {
    setObjectName("frmConfig");
    setWindowTitle("Config");
    // Single border: the dialog cannot be resized.
    setFixedSize(640, 461);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    grpFTPSettings = std::make_unique<QGroupBox>(" FTP Settings ", this);
    grpFTPSettings->setGeometry(8, 0, 393, 281);
    GroupBox1 = std::make_unique<QGroupBox>(" HTTP POST settings ", this);
    GroupBox1->setGeometry(8, 288, 393, 113);

    QWidget* ftp = grpFTPSettings.get();
    cbUseFTP = std::make_unique<TMouseUpCheckBox>("Use", ftp);
    cbUseFTP->setGeometry(112, 16, 97, 17);
    leServerName = std::make_unique<TLabeledEdit>(
        ftp, "Server name :", "Enter here the FTP server that holds your homepage data.");
    leServerName->SetBounds(112, 36, 257, 21);
    leUsername =
        std::make_unique<TLabeledEdit>(ftp, "Username :", "Your FTP user account username");
    leUsername->SetBounds(112, 60, 257, 21);
    lePassword = std::make_unique<TLabeledEdit>(ftp, "Password :", " FTP user account password");
    lePassword->SetBounds(112, 84, 257, 21);
    lePassword->setEchoMode(QLineEdit::Password);
    lePassword->setStyleSheet("QLineEdit { lineedit-password-character: 42; }");
    leServerPort = std::make_unique<TLabeledEdit>(
        ftp, "Server port :", "Don't change this if your FTP server has standard port.");
    leServerPort->SetBounds(112, 108, 257, 21);
    leDestDir = std::make_unique<TLabeledEdit>(
        ftp, "Destination directory :",
        "Enter here the target directory. For example \"public_html/captures\". Check the "
        "directory with regular FTP client.");
    leDestDir->SetBounds(112, 132, 257, 21);
    leURLPrefix = std::make_unique<TLabeledEdit>(
        ftp, "URL prefix :",
        "Enter here the URL prefix which program will start the URL for the uploaded capture.");
    leURLPrefix->SetBounds(112, 172, 257, 21);
    rgPassive = std::make_unique<TRadioGroup>(ftp, "Passive transfer ", QStringList{"Yes", "No"});
    rgPassive->setGeometry(112, 208, 105, 65);
    lblEncryption = std::make_unique<QLabel>("Encryption :", ftp);
    lblEncryption->setGeometry(232, 214, 137, 17);
    cbEncryption = std::make_unique<QComboBox>(ftp);
    cbEncryption->addItems({"None", "Explicit TLS", "Implicit TLS", "SFTP (SSH)"});
    cbEncryption->setGeometry(232, 234, 137, 22);
    cbEncryption->setToolTip(
        "Explicit TLS suits most hosts that offer FTP over TLS (FTPS) on the usual port. "
        "Choose Implicit TLS only if your host says so; it uses port 990 when the port is left "
        "at 21. With None the password and the picture travel unencrypted. SFTP (SSH) uses the "
        "same server, account and directory over SSH, usually on port 22.");
    lblEncryption->setToolTip(cbEncryption->toolTip());

    QWidget* http = GroupBox1.get();
    cbUseHTTP = std::make_unique<TMouseUpCheckBox>("Use", http);
    cbUseHTTP->setGeometry(112, 16, 97, 17);
    leHTTPTarget = std::make_unique<TLabeledEdit>(
        http, "Posting URL :",
        "Enter here the full address of the upload script on your web server, for example "
        "\"http://www.example.net/brwk_upload.php\".");
    leHTTPTarget->SetBounds(112, 36, 257, 21);
    leHTTPServer = std::make_unique<TLabeledEdit>(
        http, "Publish URL:",
        "Enter here the URL prefix which program will put in front of the file name to form the "
        "URL of the uploaded capture.");
    leHTTPServer->SetBounds(112, 60, 257, 21);
    leSecretKey = std::make_unique<TLabeledEdit>(
        http, "Secret key:",
        "The key sent with every upload. The upload script accepts only captures that carry "
        "the key it was set up with.");
    leSecretKey->SetBounds(112, 84, 257, 21);

    const QString testHint =
        "Tries these settings now, before they are saved: connects, logs in and uploads a small "
        "test picture, then removes it.";
    btnTestFTP = std::make_unique<QPushButton>("Test", ftp);
    btnTestFTP->setGeometry(288, 12, 81, 23);
    btnTestFTP->setToolTip(testHint + " The picture is also fetched from its URL, which "
                                      "checks the URL prefix.");
    btnTestHTTP = std::make_unique<QPushButton>("Test", http);
    btnTestHTTP->setGeometry(288, 12, 81, 23);
    btnTestHTTP->setToolTip("Tries these settings now, before they are saved: asks the upload "
                            "script whether the secret key is right and it can store pictures. "
                            "Nothing is stored.");

    btnOK = std::make_unique<QPushButton>("OK", this);
    btnOK->setGeometry(16, 416, 105, 33);
    btnCancel = std::make_unique<QPushButton>("Cancel", this);
    btnCancel->setGeometry(280, 416, 105, 33);
    lblSecrets = std::make_unique<QLabel>(this);
    lblSecrets->setGeometry(128, 412, 145, 42);
    lblSecrets->setWordWrap(true);
    lblSecrets->setAlignment(Qt::AlignCenter);
    grpCapture = std::make_unique<QGroupBox>(" Capture ", this);
    grpCapture->setGeometry(408, 0, 224, 401);
    QWidget* capture = grpCapture.get();
    lblCaptureScreens = std::make_unique<QLabel>("\"Capture screen\" takes", capture);
    lblCaptureScreens->setGeometry(8, 20, 208, 17);
    cbCaptureScreens = std::make_unique<QComboBox>(capture);
    cbCaptureScreens->addItems({"The primary screen", "The screen under the mouse", "All screens"});
    cbCaptureScreens->setGeometry(8, 40, 208, 22);
    lblAfterCapture = std::make_unique<QLabel>("After a capture", capture);
    lblAfterCapture->setGeometry(8, 76, 208, 17);
    cbAfterCapture = std::make_unique<QComboBox>(capture);
    cbAfterCapture->addItems(
        {"Show the main window", "Open the editor", "Publish at once", "Save at once"});
    cbAfterCapture->setGeometry(8, 96, 208, 22);
    cbAfterCapture->setToolTip("Publish at once uses a generated name and puts the URL on the "
                               "clipboard; a box appears only when something fails.");
    cbRegionOnRelease = std::make_unique<QCheckBox>("Take a region on release", capture);
    cbRegionOnRelease->setGeometry(8, 132, 208, 20);
    cbRegionOnRelease->setToolTip("Releasing the mouse after the drag takes the region; "
                                  "otherwise Enter or a double click takes it.");

    // Neither button is the default one: Return in an edit box stores nothing.
    for (QPushButton* b : {btnOK.get(), btnCancel.get(), btnTestFTP.get(), btnTestHTTP.get()}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    QWidget* order[] = {
        leServerName.get(),     leUsername.get(),   lePassword.get(),       leServerPort.get(),
        leDestDir.get(),        leURLPrefix.get(),  rgPassive->Item(0),     rgPassive->Item(1),
        cbUseFTP.get(),         btnOK.get(),        btnCancel.get(),        leHTTPTarget.get(),
        cbUseHTTP.get(),        leHTTPServer.get(), leSecretKey.get(),      cbEncryption.get(),
        btnTestFTP.get(),       btnTestHTTP.get(),  cbCaptureScreens.get(), cbAfterCapture.get(),
        cbRegionOnRelease.get()};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

    connect(btnOK.get(), &QPushButton::clicked, this,
            [this] { platform::Guarded([this] { btnOKClick(); }); });
    connect(btnCancel.get(), &QPushButton::clicked, this, &TfrmConfig::btnCancelClick);
    connect(btnTestFTP.get(), &QPushButton::clicked, this,
            [this] { platform::Guarded([this] { btnTestClick(settings::TransferFtp); }); });
    connect(btnTestHTTP.get(), &QPushButton::clicked, this,
            [this] { platform::Guarded([this] { btnTestClick(settings::TransferHttp); }); });
    connect(cbEncryption.get(), &QComboBox::activated, this, &TfrmConfig::cbEncryptionChange);
    connect(cbUseFTP.get(), &TMouseUpCheckBox::mouseUp, this, &TfrmConfig::cbUseFTPMouseUp);
    connect(cbUseHTTP.get(), &TMouseUpCheckBox::mouseUp, this, &TfrmConfig::cbUseHTTPMouseUp);
}

TfrmConfig::~TfrmConfig() = default;

// A modal dialog becomes the active window as it is shown, so the settings
// are loaded here, once per showing. Qt's own activation notice would come
// again whenever the user switches back from another program (reloading over
// the edits), and not at all where the window manager keeps the focus away.
void TfrmConfig::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->geometry().center() - rect().center());
        platform::Guarded([this] { FormActivate(); });
    }
    QDialog::showEvent(event);
}

void TfrmConfig::FormActivate() {
    LoadSettings();
    cbUseFTP->setChecked(true);
    cbUseHTTP->setChecked(false);
    if (Settings.transferType == settings::TransferFtp) {
        cbUseFTP->setChecked(true);
        cbUseHTTP->setChecked(false);
    } else if (Settings.transferType == settings::TransferHttp) {
        cbUseFTP->setChecked(false);
        cbUseHTTP->setChecked(true);
    }
    leServerName->setText(Q(Settings.hostName));
    leUsername->setText(Q(Settings.userName));
    lePassword->setText(Q(Settings.password));
    leServerPort->setText(Q(Settings.port));
    leDestDir->setText(Q(Settings.destDirectory));
    leURLPrefix->setText(Q(Settings.hostPrefix));
    // With passive off the earlier selection stays, as the radio group keeps it.
    if (Settings.passive) rgPassive->SetItemIndex(0);
    cbEncryption->setCurrentIndex(Settings.ftpEncryption);
    leHTTPTarget->setText(Q(Settings.postUrl));
    leHTTPServer->setText(Q(Settings.postServer));
    leSecretKey->setText(Q(Settings.secretKey));
    ftpCertFingerprint_ = Settings.ftpCertFingerprint;
    httpCertFingerprint_ = Settings.httpCertFingerprint;
    cbCaptureScreens->setCurrentIndex(Settings.captureScreens);
    cbAfterCapture->setCurrentIndex(Settings.afterCapture);
    cbRegionOnRelease->setChecked(Settings.regionOnRelease);
    lblSecrets->setText(Settings.secretsInKeyring ? "Passwords are kept in the desktop keyring."
                                                  : "Passwords are kept in the settings file.");
    deactivatActivateControls();
}

configRecord TfrmConfig::ReadControls() const {
    configRecord r = Settings;
    r.hostName = S(leServerName->text());
    r.userName = S(leUsername->text());
    r.password = S(lePassword->text());
    r.port = S(leServerPort->text());
    r.destDirectory = S(leDestDir->text());
    r.passive = rgPassive->ItemIndex() == 0;
    r.ftpEncryption = cbEncryption->currentIndex() < 0 ? 0 : cbEncryption->currentIndex();
    r.hostPrefix = S(leURLPrefix->text());
    r.transferType = cbUseFTP->isChecked() ? settings::TransferFtp : settings::TransferHttp;
    r.postUrl = S(leHTTPTarget->text());
    r.postServer = S(leHTTPServer->text());
    r.secretKey = S(leSecretKey->text());
    r.ftpCertFingerprint = ftpCertFingerprint_;
    r.httpCertFingerprint = httpCertFingerprint_;
    r.captureScreens = std::max(0, cbCaptureScreens->currentIndex());
    r.afterCapture = std::max(0, cbAfterCapture->currentIndex());
    r.regionOnRelease = cbRegionOnRelease->isChecked();
    return r;
}

void TfrmConfig::btnTestClick(int32_t transferType) {
    configRecord trial = ReadControls();
    trial.transferType = transferType;
    // One test at a time: the dialog waits for its end, however it ends.
    struct Restore {
        TfrmConfig& form;
        ~Restore() { form.deactivatActivateControls(); }
    } restore{*this};
    btnTestFTP->setEnabled(false);
    btnTestHTTP->setEnabled(false);
    FireTestConnection(trial);
    ftpCertFingerprint_ = trial.ftpCertFingerprint;
    httpCertFingerprint_ = trial.httpCertFingerprint;
}

void TfrmConfig::FireTestConnection(configRecord& settings) {
    if (OnTestConnection) OnTestConnection(settings);
}

void TfrmConfig::btnOKClick() {
    Settings = ReadControls();
    // A failed save raises before the dialog closes, so the edits are not lost.
    SaveSettings();
    accept();
}

void TfrmConfig::btnCancelClick() {
    reject();
}

// The port the user has not changed from the other protocol's usual one
// follows the choice.
void TfrmConfig::cbEncryptionChange() {
    const bool ssh = cbEncryption->currentIndex() == settings::FtpOverSsh;
    const QString port = leServerPort->text().trimmed();
    if (ssh && (port.isEmpty() || port == settings::DefaultPort))
        leServerPort->setText(settings::DefaultSshPort);
    else if (!ssh && port == settings::DefaultSshPort)
        leServerPort->setText(settings::DefaultPort);
    deactivatActivateControls();
}

// Whatever the clicked box's new state, the other box is cleared: clicking
// the checked box leaves both clear.
void TfrmConfig::cbUseFTPMouseUp() {
    cbUseHTTP->setChecked(false);
    deactivatActivateControls();
}

void TfrmConfig::cbUseHTTPMouseUp() {
    cbUseFTP->setChecked(false);
    deactivatActivateControls();
}

void TfrmConfig::deactivatActivateControls() {
    const bool ftp = cbUseFTP->isChecked();
    for (TLabeledEdit* e : {leServerName.get(), leUsername.get(), lePassword.get(),
                            leServerPort.get(), leDestDir.get(), leURLPrefix.get()})
        e->setEnabled(ftp);
    lblEncryption->setEnabled(ftp);
    cbEncryption->setEnabled(ftp);
    // SFTP has no data connections to open either way.
    rgPassive->setEnabled(cbEncryption->currentIndex() != settings::FtpOverSsh);
    btnTestFTP->setEnabled(ftp);
    const bool http = cbUseHTTP->isChecked();
    btnTestHTTP->setEnabled(http);
    for (TLabeledEdit* e : {leHTTPTarget.get(), leHTTPServer.get(), leSecretKey.get()})
        e->setEnabled(http);
}
