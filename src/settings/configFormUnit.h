// TfrmConfig: the modal dialog that edits the publishing settings. It holds
// no data of its own; it loads Settings each time it is shown and stores
// them only on OK.
#pragma once

#include "Controls.h"
#include "configUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include <functional>
#include <memory>

class TfrmConfig : public QDialog {
    Q_OBJECT
public:
    explicit TfrmConfig(QWidget* parent = nullptr);
    ~TfrmConfig() override;

    void FormActivate();
    void btnOKClick();
    void btnCancelClick();
    void cbUseFTPMouseUp();
    void cbUseHTTPMouseUp();
    void deactivatActivateControls();
    // A new choice under Encryption: the usual port of SFTP or FTP proposed.
    void cbEncryptionChange();
    // The settings as the controls show them, on top of the stored ones.
    configRecord ReadControls() const;
    // A Test button: tries its method with the values in the dialog, unsaved.
    void btnTestClick(int32_t transferType);

    // Fired by the Test buttons with the settings to try. A certificate the
    // user chose to trust during the test comes back in its fingerprint
    // field, and is stored with the rest on OK.
    std::function<void(configRecord& settings)> OnTestConnection;

    // Containers first: members are destroyed in reverse order, so every
    // control is gone before the group box that parents it.
    std::unique_ptr<QGroupBox> grpFTPSettings;
    std::unique_ptr<QGroupBox> GroupBox1;
    std::unique_ptr<TMouseUpCheckBox> cbUseFTP;
    std::unique_ptr<TLabeledEdit> leServerName;
    std::unique_ptr<TLabeledEdit> leUsername;
    std::unique_ptr<TLabeledEdit> lePassword;
    std::unique_ptr<TLabeledEdit> leServerPort;
    std::unique_ptr<TLabeledEdit> leDestDir;
    std::unique_ptr<TLabeledEdit> leURLPrefix;
    std::unique_ptr<TRadioGroup> rgPassive;
    // Beside the passive choice: None, Explicit TLS, Implicit TLS.
    std::unique_ptr<QLabel> lblEncryption;
    std::unique_ptr<QComboBox> cbEncryption;
    std::unique_ptr<TMouseUpCheckBox> cbUseHTTP;
    std::unique_ptr<TLabeledEdit> leHTTPTarget;
    std::unique_ptr<TLabeledEdit> leHTTPServer;
    std::unique_ptr<TLabeledEdit> leSecretKey;
    // Beside each group's "Use" box; enabled with its group.
    std::unique_ptr<QPushButton> btnTestFTP;
    std::unique_ptr<QPushButton> btnTestHTTP;
    std::unique_ptr<QPushButton> btnOK;
    std::unique_ptr<QPushButton> btnCancel;
    // Where the password and the secret key are kept.
    std::unique_ptr<QLabel> lblSecrets;
    // Beside the publishing groups: what a capture takes and what follows it.
    std::unique_ptr<QGroupBox> grpCapture;
    std::unique_ptr<QLabel> lblCaptureScreens;
    std::unique_ptr<QComboBox> cbCaptureScreens;
    std::unique_ptr<QLabel> lblAfterCapture;
    std::unique_ptr<QComboBox> cbAfterCapture;
    std::unique_ptr<QCheckBox> cbRegionOnRelease;

protected:
    void FireTestConnection(configRecord& settings);
    void showEvent(QShowEvent* event) override;

private:
    // The trusted certificates as loaded, or as a test left them.
    std::string ftpCertFingerprint_;
    std::string httpCertFingerprint_;
};

// The one dialog of the run, created (and owned) by program start.
extern TfrmConfig* frmConfig;
