#include "HistoryStore.h"

#include <QBuffer>
#include <QImage>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const Columns = "id, time, method, host, port, user, directory, encryption, name, url, "
                            "size, thumbnail, deleted";
const char* const ColumnsWithoutThumbnail = "id, time, method, host, port, user, directory, "
                                            "encryption, name, url, size, NULL, deleted";

// Version 1 had no mark for pictures deleted from their server.
const char* const CreateV1 = "CREATE TABLE uploads ("
                             "id INTEGER PRIMARY KEY AUTOINCREMENT,"
                             "time INTEGER NOT NULL,"
                             "method TEXT NOT NULL,"
                             "host TEXT NOT NULL DEFAULT '',"
                             "port INTEGER NOT NULL DEFAULT 0,"
                             "user TEXT NOT NULL DEFAULT '',"
                             "directory TEXT NOT NULL DEFAULT '',"
                             "encryption INTEGER NOT NULL DEFAULT 0,"
                             "name TEXT NOT NULL,"
                             "url TEXT NOT NULL,"
                             "size INTEGER NOT NULL DEFAULT 0,"
                             "thumbnail BLOB)";

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    const passwd* pw = ::getpwuid(::geteuid());
    return pw && pw->pw_dir ? pw->pw_dir : "/";
}

void MakePrivatePath(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (!part.empty()) ::mkdir(part.c_str(), 0700);
        if (slash == std::string::npos) return;
    }
}

// SQLite creates a missing file under the umask; it is made private first.
// Its journal files take the same mode.
void CreatePrivateFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        // A read-only file is for SQLite to refuse writes to, not for us to
        // refuse reads of.
        if (errno == EACCES && ::access(path.c_str(), R_OK) == 0) return;
        throw EHistory("Cannot open " + path + ": " + std::strerror(errno));
    }
    ::close(fd);
}

QString NewConnectionName() {
    static std::atomic<int> next{0};
    return QString("brwk_history_%1").arg(next++);
}

THistoryEntry Read(const QSqlQuery& q) {
    THistoryEntry e;
    e.Id = q.value(0).toLongLong();
    e.Time = q.value(1).toLongLong();
    e.Method = q.value(2).toString().toStdString();
    e.Host = q.value(3).toString().toStdString();
    e.Port = q.value(4).toInt();
    e.User = q.value(5).toString().toStdString();
    e.Directory = q.value(6).toString().toStdString();
    e.Encryption = q.value(7).toInt();
    e.Name = q.value(8).toString().toStdString();
    e.Url = q.value(9).toString().toStdString();
    e.Size = q.value(10).toULongLong();
    e.Thumbnail = q.value(11).toByteArray();
    e.Deleted = q.value(12).toBool();
    return e;
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

THistoryStore::THistoryStore(const std::string& path) : connection_(NewConnectionName()) {
    CreatePrivateFile(path);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", connection_);
        if (!db.isValid()) {
            QSqlDatabase::removeDatabase(connection_);
            throw EHistory("The SQLite driver of Qt (QSQLITE) is not installed.");
        }
        db.setDatabaseName(Q(path));
        if (!db.open()) {
            const std::string why = db.lastError().text().toStdString();
            db = {};
            QSqlDatabase::removeDatabase(connection_);
            throw EHistory("Cannot open " + path + ": " + why);
        }
    }
    try {
        SetBusyTimeoutMs(2000);
        Migrate();
    } catch (...) {
        QSqlDatabase::database(connection_, false).close();
        QSqlDatabase::removeDatabase(connection_);
        throw;
    }
}

THistoryStore::~THistoryStore() {
    QSqlDatabase::database(connection_, false).close();
    QSqlDatabase::removeDatabase(connection_);
}

std::string THistoryStore::DefaultPath() {
    // Relative values are invalid by the XDG rules and are ignored.
    const char* env = std::getenv("XDG_DATA_HOME");
    const std::string base = env && *env == '/' ? env : HomeDirectory() + "/.local/share";
    const std::string dir = base + "/Brindlewick";
    MakePrivatePath(dir);
    return dir + "/history.sqlite";
}

void THistoryStore::Exec(const char* what, const QString& sql) const {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    if (!q.exec(sql)) throw EHistory(std::string(what) + ": " + q.lastError().text().toStdString());
}

void THistoryStore::SetBusyTimeoutMs(int ms) {
    Exec("Cannot set up the history", QString("PRAGMA busy_timeout = %1").arg(ms));
}

void THistoryStore::Migrate() {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    if (!q.exec("PRAGMA user_version") || !q.next())
        throw EHistory("Cannot read the history: " + q.lastError().text().toStdString());
    int version = q.value(0).toInt();
    q.finish();
    if (version > SchemaVersion)
        throw EHistory("The history was written by a newer version of Brindlewick (schema " +
                       std::to_string(version) + ").");
    if (version == SchemaVersion) return;

    // One transaction: a copy that fails half way leaves the old schema.
    Exec("Cannot update the history", "BEGIN IMMEDIATE");
    try {
        if (version == 0) {
            Exec("Cannot create the history", CreateV1);
            version = 1;
        }
        if (version == 1)
            Exec("Cannot update the history",
                 "ALTER TABLE uploads ADD COLUMN deleted INTEGER NOT NULL DEFAULT 0");
        Exec("Cannot update the history", QString("PRAGMA user_version = %1").arg(SchemaVersion));
        Exec("Cannot update the history", "COMMIT");
    } catch (...) {
        QSqlQuery(QSqlDatabase::database(connection_, false)).exec("ROLLBACK");
        throw;
    }
}

void THistoryStore::Add(THistoryEntry& e) {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare("INSERT INTO uploads (time, method, host, port, user, directory, encryption, name, "
              "url, size, thumbnail, deleted) VALUES (?,?,?,?,?,?,?,?,?,?,?,?)");
    for (const QVariant& v :
         {QVariant(qlonglong(e.Time)), QVariant(Q(e.Method)), QVariant(Q(e.Host)), QVariant(e.Port),
          QVariant(Q(e.User)), QVariant(Q(e.Directory)), QVariant(e.Encryption),
          QVariant(Q(e.Name)), QVariant(Q(e.Url)), QVariant(qulonglong(e.Size)),
          QVariant(e.Thumbnail), QVariant(int(e.Deleted))})
        q.addBindValue(v);
    if (!q.exec())
        throw EHistory("Cannot write the history: " + q.lastError().text().toStdString());
    e.Id = q.lastInsertId().toLongLong();
}

std::vector<THistoryEntry> THistoryStore::List(const std::string& filter, bool thumbnails) const {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.setForwardOnly(true);
    QString sql =
        QString("SELECT %1 FROM uploads").arg(thumbnails ? Columns : ColumnsWithoutThumbnail);
    if (!filter.empty())
        sql += " WHERE instr(lower(name), lower(?)) > 0 OR instr(lower(url), lower(?)) > 0";
    q.prepare(sql + " ORDER BY time DESC, id DESC");
    if (!filter.empty()) {
        q.addBindValue(Q(filter));
        q.addBindValue(Q(filter));
    }
    if (!q.exec()) throw EHistory("Cannot read the history: " + q.lastError().text().toStdString());
    std::vector<THistoryEntry> rows;
    while (q.next()) rows.push_back(Read(q));
    return rows;
}

std::optional<THistoryEntry> THistoryStore::FindByUrl(const std::string& url) const {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(QString("SELECT %1 FROM uploads WHERE url = ? ORDER BY time DESC, id DESC LIMIT 1")
                  .arg(Columns));
    q.addBindValue(Q(url));
    if (!q.exec()) throw EHistory("Cannot read the history: " + q.lastError().text().toStdString());
    if (!q.next()) return std::nullopt;
    return Read(q);
}

QByteArray THistoryStore::Thumbnail(int64_t id) const {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare("SELECT thumbnail FROM uploads WHERE id = ?");
    q.addBindValue(qlonglong(id));
    if (!q.exec()) throw EHistory("Cannot read the history: " + q.lastError().text().toStdString());
    return q.next() ? q.value(0).toByteArray() : QByteArray();
}

void THistoryStore::MarkDeleted(int64_t id) {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare("UPDATE uploads SET deleted = 1 WHERE id = ?");
    q.addBindValue(qlonglong(id));
    if (!q.exec())
        throw EHistory("Cannot write the history: " + q.lastError().text().toStdString());
}

void THistoryStore::Remove(int64_t id) {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare("DELETE FROM uploads WHERE id = ?");
    q.addBindValue(qlonglong(id));
    if (!q.exec())
        throw EHistory("Cannot write the history: " + q.lastError().text().toStdString());
}

QByteArray MakeThumbnail(const std::string& path) {
    QImage image;
    if (!image.load(Q(path), "JPEG")) return {};
    if (image.width() > ThumbnailSide || image.height() > ThumbnailSide)
        image = image.scaled(ThumbnailSide, ThumbnailSide, Qt::KeepAspectRatio,
                             Qt::SmoothTransformation);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPEG", 80)) return {};
    return bytes;
}
