#include "Registry.h"
#include "System.h"

#include <QDir>
#include <QSettings>
#include <QVariant>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

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

// Where a settings file really is: a link (as a user who keeps the file
// elsewhere may make) is followed the way the INI writer follows it, to the
// target's path even when that does not exist yet.
std::string LinkTarget(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::string to(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.c_str(), to.data(), to.size());
        if (n <= 0) return path;
        to.resize(size_t(n));
        if (to[0] != '/') to = path.substr(0, path.rfind('/') + 1) + to;
        path = to;
    }
    return path;
}

// Creates the file (or the target of a link to a missing file) empty and
// owner-only, and takes group and other access away from one that exists.
// The INI writer keeps the permissions of the file it replaces.
bool EnsurePrivateFile(const std::string& path) {
    const std::string target = LinkTarget(path);
    struct stat st;
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return false;
        return (st.st_mode & 077) == 0 || ::chmod(target.c_str(), st.st_mode & 0700) == 0;
    }
    int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

// Why the folder of the settings file must not be used, or "" (also when it
// does not exist). A folder others may only read or enter is made private,
// as the file is; one others may write to, or another user's, is refused:
// the settings in it may have been planted. A link to a folder (as a user
// who keeps the settings with other dotfiles may make) is followed.
std::string SettingsFolderProblem(const std::string& dir) {
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0) return {};
    if (!S_ISDIR(st.st_mode)) return "it is not a folder";
    if (st.st_uid != ::geteuid()) return "it belongs to another user";
    if (st.st_mode & 022)
        return "other users can change it; make it yours alone with \"chmod 700 " + dir + "\"";
    if ((st.st_mode & 077) && ::chmod(dir.c_str(), st.st_mode & 07700) != 0)
        return std::string("it cannot be made private (") + std::strerror(errno) + ")";
    return {};
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
    const std::string dir = path.substr(0, path.rfind('/'));
    if (canCreate) MakePrivateFolders(dir);
    // A folder that is missing and could not be made is no key.
    if (std::string why = SettingsFolderProblem(dir); !why.empty())
        throw ESettingsFolder("Brindlewick keeps its settings in " + dir +
                              ", but cannot use it: " + why + ".");
    if (canCreate) {
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
    return Change({subKey, name, value, false});
}

bool TRegistry::DeleteValue(const std::string& subKey, const std::string& name) {
    return Change({subKey, name, {}, true});
}

bool TRegistry::Change(PendingValue change) {
    if (!Store) return false;
    if (Updating) {
        Pending.push_back(std::move(change));
        return true;
    }
    BeginUpdate();
    Pending.push_back(std::move(change));
    return EndUpdate();
}

void TRegistry::BeginUpdate() {
    Updating = true;
    Pending.clear();
}

bool TRegistry::EndUpdate() {
    Updating = false;
    const auto values = std::move(Pending);
    Pending.clear();
    if (!Store) return false;
    if (values.empty()) return true;
    // Made private again first: the file, or what a link points to, may have
    // been replaced or removed since the key was opened.
    if (!EnsurePrivateFile(Path)) return false;
    // A fresh object per update: QSettings keeps its first error for good.
    auto writer = std::make_unique<QSettings>(Q(Path), QSettings::IniFormat);
    struct Before {
        QString key;
        QVariant value;
        bool existed;
    };
    std::vector<Before> before;
    for (const PendingValue& v : values) {
        const QString key = KeyOf(v.subKey, v.name);
        before.push_back({key, writer->value(key), writer->contains(key)});
        if (v.remove)
            writer->remove(key);
        else
            writer->setValue(key, Q(v.value));
    }
    // One replacement of the whole file for all the values.
    writer->sync();
    const bool ok = writer->status() == QSettings::NoError;
    if (!ok) {
        // Put the old values back, or the next successful sync of this file
        // (QSettings shares it between objects) would still store the new ones.
        for (auto it = before.rbegin(); it != before.rend(); ++it) {
            if (it->existed)
                writer->setValue(it->key, it->value);
            else
                writer->remove(it->key);
        }
    }
    writer.reset();
    Store = std::make_unique<QSettings>(Q(Path), QSettings::IniFormat);
    return ok;
}

} // namespace platform
