// A private D-Bus session bus with a scripted screenshot portal on it
// (fake_portal.py), for the tests of capturing through the portal.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>

#include <memory>
#include <string>

class FakePortal {
public:
    // mode: "png" (answers 0 with a 3x2 PNG written into pngDir), "cancel"
    // (1), "fail" (2), "never", "error" (the call fails), or empty for a
    // bus on which no portal runs.
    explicit FakePortal(const QString& mode, const QString& pngDir = {});
    ~FakePortal();
    FakePortal(const FakePortal&) = delete;
    FakePortal& operator=(const FakePortal&) = delete;

    bool Ok() const { return ok_; }
    const std::string& Error() const { return error_; }
    QString Address() const { return address_; }
    // What the portal printed about the calls it got so far: one JSON
    // object per Screenshot call or Request.Close.
    QStringList Calls();

private:
    bool ok_ = false;
    std::string error_;
    QString address_;
    QByteArray pending_;
    QStringList calls_;
    std::unique_ptr<QTemporaryFile> config_;
    std::unique_ptr<QProcess> bus_;
    std::unique_ptr<QProcess> portal_;
};
