#include "Keyring.h"

#include <qt6keychain/keychain.h>

#include <QDBusConnection>
#include <QEventLoop>

namespace platform {
namespace {

const QString Service = "Brindlewick";

// Runs a job to its end. The loop takes no user input: the settings are read
// at the start of a save or publish, before the busy flag guards the buttons.
QKeychain::Error Run(QKeychain::Job& job) {
    job.setAutoDelete(false);
    job.setInsecureFallback(false);
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return job.error();
}

bool ServiceAnswered(QKeychain::Error e) {
    return e == QKeychain::NoError || e == QKeychain::EntryNotFound;
}

} // namespace

Keyring::Keyring(std::string settingsFile) : file_(std::move(settingsFile)) {}

std::string Keyring::Key(const std::string& name) const {
    return file_ + ":" + name;
}

bool Keyring::Available() {
    // Without a session bus there is no Secret Service to ask, and no job
    // runs a loop of its own inside the caller's event handler.
    if (!QDBusConnection::sessionBus().isConnected()) return false;
    QKeychain::ReadPasswordJob job(Service);
    job.setKey(QString::fromStdString(Key("probe")));
    return ServiceAnswered(Run(job));
}

bool Keyring::Read(const std::string& name, std::string& value) {
    QKeychain::ReadPasswordJob job(Service);
    job.setKey(QString::fromStdString(Key(name)));
    if (Run(job) != QKeychain::NoError) return false;
    value = job.textData().toStdString();
    return true;
}

bool Keyring::Write(const std::string& name, const std::string& value) {
    QKeychain::WritePasswordJob job(Service);
    job.setKey(QString::fromStdString(Key(name)));
    job.setTextData(QString::fromStdString(value));
    return Run(job) == QKeychain::NoError;
}

bool Keyring::Remove(const std::string& name) {
    QKeychain::DeletePasswordJob job(Service);
    job.setKey(QString::fromStdString(Key(name)));
    return ServiceAnswered(Run(job));
}

} // namespace platform
