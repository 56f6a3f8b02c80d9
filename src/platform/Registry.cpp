#include "Registry.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

QString Q(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// QSettings reserves the INI section [General] (in any case) for keys outside
// every group, so a subkey "general" is kept as its group "General", which it
// writes as [%General] and reads back the same. A literal [general] section,
// as someone may write by hand, reaches it as keys outside every group.
bool IsGeneral(const std::string& subKey) {
    return QString::compare(Q(subKey), "general", Qt::CaseInsensitive) == 0;
}

QString KeyOf(const std::string& subKey, const std::string& name) {
    return (IsGeneral(subKey) ? QString("General") : Q(subKey)) + '/' + Q(name);
}

// The key a value is read from: its own, or for "general" the key outside
// every group when only that one exists.
QString ReadKeyOf(const QSettings& store, const std::string& subKey, const std::string& name) {
    const QString key = KeyOf(subKey, name);
    if (IsGeneral(subKey) && !store.contains(key) && store.contains(Q(name))) return Q(name);
    return key;
}

// The product name of "\Software\<Product>", or "" for any other key.
std::string ProductOf(const std::string& key) {
    const std::string prefix = "\\Software\\";
    if (key.size() <= prefix.size() || key.compare(0, prefix.size(), prefix) != 0) return {};
    std::string product = key.substr(prefix.size());
    if (product.find_first_of("\\/") != std::string::npos || product == "." || product == "..")
        return {};
    return product;
}

// Creates the file empty and owner-only if it is missing, and takes group and
// other access away from one that exists.
bool EnsurePrivateFile(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return false;
        return (st.st_mode & 077) == 0 || ::chmod(path.c_str(), st.st_mode & 0700) == 0;
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return errno == EEXIST;
    ::close(fd);
    return true;
}

} // namespace

TRegistry::TRegistry() = default;
TRegistry::~TRegistry() = default;

std::string TRegistry::SettingsFilePath(const std::string& product) {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // Relative values are invalid by the XDG rules and are ignored.
    if (base.isEmpty() || QDir::isRelativePath(base)) base = QDir::homePath() + "/.config";
    return (base + '/' + Q(product) + '/' + Q(product) + ".ini").toStdString();
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
    CloseKey();
    const std::string product = ProductOf(key);
    if (product.empty()) return false;
    const std::string path = SettingsFilePath(product);
    if (canCreate) {
        const QString dir = QFileInfo(Q(path)).absolutePath();
        QDir().mkpath(QFileInfo(dir).absolutePath());
        ::mkdir(dir.toLocal8Bit().constData(), 0700);
        if (!EnsurePrivateFile(path)) return false;
    } else if (::access(path.c_str(), R_OK) != 0) {
        return false;
    }
    Path = path;
    Store = std::make_unique<QSettings>(Q(path), QSettings::IniFormat);
    return true;
}

void TRegistry::CloseKey() {
    Store.reset();
    Path.clear();
}

bool TRegistry::SubKeyExists(const std::string& subKey) const {
    if (!Store) return false;
    if (IsGeneral(subKey))
        return Store->childGroups().contains("General") || !Store->childKeys().isEmpty();
    return Store->childGroups().contains(Q(subKey));
}

bool TRegistry::ValueExists(const std::string& subKey, const std::string& name) const {
    return Store && Store->contains(ReadKeyOf(*Store, subKey, name));
}

TRegDataType TRegistry::DataType(const std::string& subKey, const std::string& name) const {
    if (!ValueExists(subKey, name)) return TRegDataType::rdNone;
    const QVariant v = Store->value(ReadKeyOf(*Store, subKey, name));
    switch (v.typeId()) {
    case QMetaType::QString:
        return TRegDataType::rdString;
    case QMetaType::QByteArray:
        return v.toByteArray().isEmpty() ? TRegDataType::rdEmpty : TRegDataType::rdOther;
    case QMetaType::QStringList:
        return v.toStringList().isEmpty() ? TRegDataType::rdEmpty : TRegDataType::rdOther;
    default:
        return v.isValid() && !v.isNull() ? TRegDataType::rdOther : TRegDataType::rdEmpty;
    }
}

bool TRegistry::ReadString(const std::string& subKey, const std::string& name,
                           std::string& value) const {
    switch (DataType(subKey, name)) {
    case TRegDataType::rdString: {
        const QByteArray bytes = Store->value(ReadKeyOf(*Store, subKey, name)).toString().toUtf8();
        value.assign(bytes.constData(), size_t(bytes.size()));
        if (auto nul = value.find('\0'); nul != std::string::npos) value.resize(nul);
        return true;
    }
    case TRegDataType::rdEmpty:
        value.clear();
        return true;
    default:
        return false;
    }
}

bool TRegistry::WriteString(const std::string& subKey, const std::string& name,
                            const std::string& value) {
    return Change(subKey, name, Q(value));
}

bool TRegistry::DeleteValue(const std::string& subKey, const std::string& name) {
    return Change(subKey, name, QVariant());
}

bool TRegistry::Change(const std::string& subKey, const std::string& name,
                       const QVariant& value) {
    if (!Store) return false;
    const QString key = KeyOf(subKey, name);
    // A fresh object per write: QSettings keeps its first error for good.
    auto writer = std::make_unique<QSettings>(Q(Path), QSettings::IniFormat);
    const QVariant before = writer->value(key);
    const bool existed = writer->contains(key);
    if (value.isValid())
        writer->setValue(key, value);
    else
        writer->remove(key);
    writer->sync();
    const bool ok = writer->status() == QSettings::NoError;
    if (!ok) {
        // Put the old value back, or the next successful sync of this file
        // (QSettings shares it between objects) would still store the new one.
        if (existed)
            writer->setValue(key, before);
        else
            writer->remove(key);
    }
    writer.reset();
    Store = std::make_unique<QSettings>(Q(Path), QSettings::IniFormat);
    return ok;
}

} // namespace platform
