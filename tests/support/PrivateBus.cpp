#include "PrivateBus.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>

namespace {

// Reads the process's output until it holds a line, for at most timeoutMs.
QByteArray ReadUntil(QProcess& p, const QByteArray& line, int timeoutMs) {
    QByteArray out;
    QDeadlineTimer deadline(timeoutMs);
    while (!out.contains(line) && !deadline.hasExpired() && p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(50);
        out += p.readAllStandardOutput();
    }
    return out;
}

void Stop(QProcess& p) {
    p.terminate();
    if (!p.waitForFinished(3000)) p.kill();
    p.waitForFinished(3000);
}

} // namespace

PrivateBus::PrivateBus() {
    // No service directories: a real service installed on the machine
    // (the desktop portal, say) must not start in place of a scripted one.
    config_ = std::make_unique<QTemporaryFile>();
    if (!config_->open()) {
        error_ = "cannot write the bus configuration";
        return;
    }
    config_->write(
        R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)");
    config_->flush();
    daemon_ = std::make_unique<QProcess>();
    daemon_->start("dbus-daemon",
                   {"--config-file=" + config_->fileName(), "--nofork", "--print-address=1"});
    const QByteArray address = ReadUntil(*daemon_, "\n", 10000);
    if (!address.contains('\n')) {
        error_ = "dbus-daemon did not start: " + daemon_->readAllStandardError().toStdString();
        return;
    }
    address_ = QString::fromUtf8(address).trimmed();
}

PrivateBus::~PrivateBus() {
    for (auto& script : scripts_) Stop(*script);
    if (daemon_) Stop(*daemon_);
}

QProcess* PrivateBus::StartScript(const QString& script, const QStringList& args) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", address_);
    p->setProcessEnvironment(env);
    // The system's interpreter: the one on PATH may lack dbus and gi.
    p->start("/usr/bin/python3", QStringList{BRWK_TEST_SUPPORT_DIR "/" + script} + args);
    if (!ReadUntil(*p, "ready\n", 10000).contains("ready\n")) {
        error_ =
            script.toStdString() + " did not start: " + p->readAllStandardError().toStdString();
        Stop(*p);
        return nullptr;
    }
    scripts_.push_back(std::move(p));
    return scripts_.back().get();
}

QStringList PrivateBus::Lines(QProcess* script) {
    QStringList lines;
    script->waitForReadyRead(0);
    while (script->canReadLine()) lines << QString::fromUtf8(script->readLine()).trimmed();
    return lines;
}
