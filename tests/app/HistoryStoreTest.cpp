// The upload history through the real SQLite driver: its file, its schema
// and migration, rows in and out, and files it cannot use.
#include "HistoryStore.h"
#include "DataDirScope.h"
#include "FileContents.h"
#include "FileModes.h"

#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <functional>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

THistoryEntry Entry(int64_t time, const std::string& name) {
    THistoryEntry e;
    e.Time = time;
    e.Method = HistoryMethodFtp;
    e.Host = "ftp.example.com";
    e.Port = 2121;
    e.User = "ann";
    e.Directory = "pub/shots";
    e.Encryption = 1;
    e.Name = name;
    e.Url = "http://www.example.com/shots/" + name;
    e.Size = 1234;
    e.Thumbnail = QByteArray("\xFF\xD8\xFF thumbnail", 14);
    return e;
}

std::vector<std::string> Names(const std::vector<THistoryEntry>& rows) {
    std::vector<std::string> names;
    for (const auto& r : rows) names.push_back(r.Name);
    return names;
}

// Runs sql on path through a connection of its own, as another copy of the
// program or an older version would.
class RawDb {
public:
    explicit RawDb(const std::string& path) {
        auto db = QSqlDatabase::addDatabase("QSQLITE", "raw");
        db.setDatabaseName(QString::fromStdString(path));
        EXPECT_TRUE(db.open());
    }
    ~RawDb() {
        QSqlDatabase::database("raw", false).close();
        QSqlDatabase::removeDatabase("raw");
    }
    bool Exec(const QString& sql) { return QSqlQuery(QSqlDatabase::database("raw")).exec(sql); }
    int Version() {
        QSqlQuery q(QSqlDatabase::database("raw"));
        q.exec("PRAGMA user_version");
        return q.next() ? q.value(0).toInt() : -1;
    }
};

} // namespace

TEST(HistoryStore, KeepsRowsPrivatelyNewestFirstAndFiltersNameAndUrl) {
    DataDirScope data;
    UmaskScope umask;
    const std::string path = THistoryStore::DefaultPath();
    EXPECT_EQ(path, data.HistoryFile());
    {
        THistoryStore store(path);
        for (auto [time, name] : std::vector<std::pair<int64_t, std::string>>{
                 {100, "Holiday.jpg"}, {300, "bug-report.jpg"}, {200, "holiday-2.jpg"}}) {
            THistoryEntry e = Entry(time, name);
            store.Add(e);
            EXPECT_GT(e.Id, 0);
        }
    }
    EXPECT_EQ(ModeOf(data.Path() + "/Brindlewick"), 0700u);
    EXPECT_EQ(ModeOf(path), 0600u);

    THistoryStore store(path);
    const auto all = store.List();
    EXPECT_EQ(Names(all),
              (std::vector<std::string>{"bug-report.jpg", "holiday-2.jpg", "Holiday.jpg"}));
    const THistoryEntry& first = all.back();
    const THistoryEntry want = Entry(100, "Holiday.jpg");
    EXPECT_EQ(first.Method, want.Method);
    EXPECT_EQ(first.Host, want.Host);
    EXPECT_EQ(first.Port, want.Port);
    EXPECT_EQ(first.User, want.User);
    EXPECT_EQ(first.Directory, want.Directory);
    EXPECT_EQ(first.Encryption, want.Encryption);
    EXPECT_EQ(first.Url, want.Url);
    EXPECT_EQ(first.Size, want.Size);
    EXPECT_EQ(first.Thumbnail, want.Thumbnail);
    EXPECT_FALSE(first.Deleted);

    EXPECT_EQ(Names(store.List("HOLIDAY")),
              (std::vector<std::string>{"holiday-2.jpg", "Holiday.jpg"}));
    EXPECT_EQ(Names(store.List("example.com/shots/bug")),
              (std::vector<std::string>{"bug-report.jpg"}));
    EXPECT_TRUE(store.List("nothing like it").empty());
    // The filter is text, not a pattern.
    EXPECT_TRUE(store.List("%").empty());

    ASSERT_TRUE(store.FindByUrl(want.Url));
    store.MarkDeleted(store.FindByUrl(want.Url)->Id);
    EXPECT_TRUE(store.FindByUrl(want.Url)->Deleted);
    store.Remove(all[0].Id);
    EXPECT_EQ(Names(store.List()), (std::vector<std::string>{"holiday-2.jpg", "Holiday.jpg"}));
    EXPECT_FALSE(store.FindByUrl(all[0].Url));
}

TEST(HistoryStore, MigratesVersionOneKeepingItsRows) {
    DataDirScope data;
    const std::string path = THistoryStore::DefaultPath();
    {
        RawDb v1(path);
        ASSERT_TRUE(
            v1.Exec("CREATE TABLE uploads (id INTEGER PRIMARY KEY AUTOINCREMENT, time "
                    "INTEGER NOT NULL, method TEXT NOT NULL, host TEXT NOT NULL DEFAULT '', "
                    "port INTEGER NOT NULL DEFAULT 0, user TEXT NOT NULL DEFAULT '', "
                    "directory TEXT NOT NULL DEFAULT '', encryption INTEGER NOT NULL "
                    "DEFAULT 0, name TEXT NOT NULL, url TEXT NOT NULL, size INTEGER NOT "
                    "NULL DEFAULT 0, thumbnail BLOB)"));
        ASSERT_TRUE(v1.Exec("INSERT INTO uploads (time, method, name, url, size) VALUES "
                            "(50, 'http', 'old.jpg', 'http://w.example/old.jpg', 9)"));
        ASSERT_TRUE(v1.Exec("PRAGMA user_version = 1"));
    }
    {
        THistoryStore store(path);
        THistoryEntry e = Entry(60, "new.jpg");
        store.Add(e);
        const auto rows = store.List();
        ASSERT_EQ(Names(rows), (std::vector<std::string>{"new.jpg", "old.jpg"}));
        EXPECT_EQ(rows[1].Url, "http://w.example/old.jpg");
        EXPECT_EQ(rows[1].Size, 9u);
        EXPECT_FALSE(rows[1].Deleted);
        store.MarkDeleted(rows[1].Id);
        EXPECT_TRUE(store.List()[1].Deleted);
    }
    RawDb after(path);
    EXPECT_EQ(after.Version(), THistoryStore::SchemaVersion);
}

TEST(HistoryStore, RefusesFilesItCannotUseAndLeavesThemAsTheyWere) {
    DataDirScope data;
    const std::string path = THistoryStore::DefaultPath();
    struct Case {
        const char* what;
        std::function<void()> make;
        const char* says;
    } cases[] = {
        {"garbage", [&] { WriteFileBytes(path, std::vector<uint8_t>(4096, 'x')); },
         "not a database"},
        {"newer schema", [&] { RawDb(path).Exec("PRAGMA user_version = 7"); }, "newer version"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::unlink(path.c_str());
        c.make();
        const std::vector<uint8_t> before = ReadFileBytes(path);
        try {
            THistoryStore store(path);
            ADD_FAILURE() << "opened";
        } catch (const EHistory& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
        EXPECT_EQ(ReadFileBytes(path), before);
    }
}

TEST(HistoryStore, AnotherCopysWriteMakesThisOneFailInsteadOfWaitingForever) {
    DataDirScope data;
    const std::string path = THistoryStore::DefaultPath();
    THistoryStore store(path);
    store.SetBusyTimeoutMs(50);
    THistoryEntry e = Entry(1, "a.jpg");
    {
        RawDb other(path);
        ASSERT_TRUE(other.Exec("BEGIN IMMEDIATE"));
        ASSERT_TRUE(other.Exec("INSERT INTO uploads (time, method, name, url) VALUES "
                               "(2, 'http', 'b.jpg', 'http://w.example/b.jpg')"));
        try {
            store.Add(e);
            ADD_FAILURE() << "written during the other copy's write";
        } catch (const EHistory& err) {
            EXPECT_NE(std::string(err.what()).find("locked"), std::string::npos) << err.what();
        }
        ASSERT_TRUE(other.Exec("COMMIT"));
    }
    store.Add(e);
    EXPECT_EQ(Names(store.List()), (std::vector<std::string>{"b.jpg", "a.jpg"}));
}

// A file the user may read but not write: listed, never written. Root
// writes anyway, so the check runs as another user then.
TEST(HistoryStore, ReadOnlyFileIsListedButNotWritten) {
    DataDirScope data;
    const std::string path = THistoryStore::DefaultPath();
    {
        THistoryStore store(path);
        THistoryEntry e = Entry(1, "kept.jpg");
        store.Add(e);
    }
    const std::vector<uint8_t> before = ReadFileBytes(path);
    auto check = [&path] {
        THistoryStore store(path);
        if (Names(store.List()) != std::vector<std::string>{"kept.jpg"}) return 3;
        THistoryEntry e = Entry(2, "new.jpg");
        try {
            store.Add(e);
        } catch (const EHistory& err) {
            return std::string(err.what()).find("readonly") != std::string::npos ? 0 : 4;
        }
        return 5;
    };
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(path.c_str(), 0400), 0);
        EXPECT_EQ(check(), 0);
    } else {
        ASSERT_EQ(::chmod(data.Path().c_str(), 0755), 0);
        ASSERT_EQ(::chmod((data.Path() + "/Brindlewick").c_str(), 0755), 0);
        ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
            int code = 6;
            try {
                code = check();
            } catch (...) {
            }
            ::_exit(code);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    EXPECT_EQ(ReadFileBytes(path), before);
}
