// A private D-Bus session bus that starts no services, and the scripted
// peers (python3-dbus scripts of tests/support) put on it.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>

#include <memory>
#include <string>
#include <vector>

class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool Ok() const { return !address_.isEmpty(); }
    const std::string& Error() const { return error_; }
    QString Address() const { return address_; }

    // Starts the script of tests/support on this bus and waits until it
    // prints "ready"; null (and Error() says why) when it does not.
    QProcess* StartScript(const QString& script, const QStringList& args = {});
    // The lines the script printed since "ready" and not yet taken.
    static QStringList Lines(QProcess* script);

private:
    std::string error_;
    QString address_;
    std::unique_ptr<QTemporaryFile> config_;
    std::unique_ptr<QProcess> daemon_;
    std::vector<std::unique_ptr<QProcess>> scripts_;
};
