// The record of published pictures: one SQLite database of the user's own
// ($XDG_DATA_HOME/Brindlewick/history.sqlite), read and written through Qt's
// SQL module. No password or key is ever stored in it.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// The history cannot be opened, read or written; the text says why.
class EHistory : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct THistoryEntry {
    int64_t Id = 0;
    // Seconds since the epoch, UTC.
    int64_t Time = 0;
    // "ftp" or "http".
    std::string Method;
    // The FTP server's data; empty for HTTP.
    std::string Host;
    int Port = 0;
    std::string User;
    std::string Directory;
    // The settings' FTP encryption choice at the time.
    int Encryption = 0;
    std::string Name;
    std::string Url;
    uint64_t Size = 0;
    // A JPEG of at most ThumbnailSide pixels on the long side; may be empty.
    QByteArray Thumbnail;
    // The server confirmed the picture gone.
    bool Deleted = false;
};

inline constexpr const char* HistoryMethodFtp = "ftp";
inline constexpr const char* HistoryMethodHttp = "http";
inline constexpr int ThumbnailSide = 256;

class THistoryStore {
public:
    // The version this program writes; older databases are migrated.
    static constexpr int SchemaVersion = 2;

    // Opens path, creating the file (0600) and its schema when missing.
    // Raises EHistory when it is not a history database this program can use.
    explicit THistoryStore(const std::string& path);
    ~THistoryStore();
    THistoryStore(const THistoryStore&) = delete;
    THistoryStore& operator=(const THistoryStore&) = delete;

    // $XDG_DATA_HOME/Brindlewick/history.sqlite (else under
    // ~/.local/share); the folder is created 0700 when missing.
    static std::string DefaultPath();

    // Adds the entry; its Id is set.
    void Add(THistoryEntry& entry);
    // Newest first. A non-empty filter keeps the rows whose name or URL
    // contain it, case aside. Without thumbnails a long history lists in a
    // fraction of the time; Thumbnail then reads one.
    std::vector<THistoryEntry> List(const std::string& filter = {}, bool thumbnails = true) const;
    QByteArray Thumbnail(int64_t id) const;
    // The newest row with this URL.
    std::optional<THistoryEntry> FindByUrl(const std::string& url) const;
    void MarkDeleted(int64_t id);
    void Remove(int64_t id);

    // How long a write waits for another copy of the program to finish its own.
    void SetBusyTimeoutMs(int ms);

private:
    void Exec(const char* what, const QString& sql) const;
    void Migrate();

    QString connection_;
};

// The entry's thumbnail from the JPEG file at path; empty when it cannot be read.
QByteArray MakeThumbnail(const std::string& path);
