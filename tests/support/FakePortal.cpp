#include "FakePortal.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>

namespace {

// Reads lines from the process until one satisfies done, for at most timeoutMs.
template <class Done> QByteArray ReadUntil(QProcess& p, Done done, int timeoutMs) {
    QByteArray out;
    QDeadlineTimer deadline(timeoutMs);
    while (!done(out) && !deadline.hasExpired() && p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(50);
        out += p.readAllStandardOutput();
    }
    return out;
}

void Stop(std::unique_ptr<QProcess>& p) {
    if (!p) return;
    p->terminate();
    if (!p->waitForFinished(3000)) p->kill();
    p->waitForFinished(3000);
}

} // namespace

FakePortal::FakePortal(const QString& mode, const QString& pngDir) {
    // A bus that starts no services: the real portal, where it is installed,
    // must not be started in place of the scripted one.
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
    bus_ = std::make_unique<QProcess>();
    bus_->start("dbus-daemon",
                {"--config-file=" + config_->fileName(), "--nofork", "--print-address=1"});
    const QByteArray address = ReadUntil(
        *bus_, [](const QByteArray& out) { return out.contains('\n'); }, 10000);
    if (!address.contains('\n')) {
        error_ = "dbus-daemon did not start: " + bus_->readAllStandardError().toStdString();
        return;
    }
    address_ = QString::fromUtf8(address).trimmed();
    if (mode.isEmpty()) {
        ok_ = true;
        return;
    }
    portal_ = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", address_);
    portal_->setProcessEnvironment(env);
    // The system's interpreter: the one on PATH may lack dbus and gi.
    portal_->start("/usr/bin/python3", {BRWK_TEST_SUPPORT_DIR "/fake_portal.py", mode, pngDir});
    const QByteArray ready = ReadUntil(
        *portal_, [](const QByteArray& out) { return out.contains("ready\n"); }, 10000);
    if (!ready.contains("ready\n")) {
        error_ = "the fake portal did not start: " + portal_->readAllStandardError().toStdString();
        return;
    }
    ok_ = true;
}

FakePortal::~FakePortal() {
    Stop(portal_);
    Stop(bus_);
}

QStringList FakePortal::Calls() {
    if (portal_) {
        portal_->waitForReadyRead(0);
        pending_ += portal_->readAllStandardOutput();
    }
    while (pending_.contains('\n')) {
        const int end = pending_.indexOf('\n');
        calls_ << QString::fromUtf8(pending_.left(end));
        pending_.remove(0, end + 1);
    }
    return calls_;
}
