#include "FtpClientSetup.h"

std::unique_ptr<TFtpClient> CreatePublishFtpClient() {
    auto client = std::make_unique<TFtpClient>();
    client->SetTimeout(15);
    client->SetMultiThreaded(false);
    client->SetPort("ftp");
    client->SetLocalAddr("0.0.0.0");
    client->SetDisplayFileFlag(false);
    client->SetBinary(true);
    client->SetShareMode(ftpShareExclusive);
    client->SetOptions({ftpAcceptLF});
    client->SetConnectionType(ftpDirect);
    return client;
}

void ApplyFtpSettings(TFtpClient& ftp, const configRecord& settings) {
    ftp.SetHostName(settings.hostName);
    ftp.SetPort(settings.port);
    ftp.SetUserName(settings.userName);
    ftp.SetPassWord(settings.password);
    ftp.SetHostDirName(settings.destDirectory);
    ftp.SetEncryption(TFtpEncryption(settings.ftpEncryption));
    ftp.SetTrustedFingerprint(settings.ftpCertFingerprint);
}
