#include "HistoryRecord.h"

#include <ctime>
#include <filesystem>

THistoryEntry PublishedEntry(const configRecord& s, const std::string& name, const std::string& url,
                             const std::string& file) {
    THistoryEntry e;
    e.Time = std::time(nullptr);
    e.Name = name;
    e.Url = url;
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    e.Size = error ? 0 : size;
    e.Thumbnail = MakeThumbnail(file);
    if (s.transferType == settings::TransferFtp) {
        e.Method = HistoryMethodFtp;
        e.Host = s.hostName;
        e.Port = std::atoi(s.port.c_str());
        e.User = s.userName;
        e.Directory = s.destDirectory;
        e.Encryption = s.ftpEncryption;
    } else {
        e.Method = HistoryMethodHttp;
    }
    return e;
}

std::optional<std::string> RecordPublish(const configRecord& settings, const std::string& name,
                                         const std::string& url, const std::string& file) {
    try {
        THistoryEntry entry = PublishedEntry(settings, name, url, file);
        THistoryStore store(THistoryStore::DefaultPath());
        store.Add(entry);
        return std::nullopt;
    } catch (const std::exception& e) {
        return std::string(e.what());
    }
}

std::string HistoryNotWrittenText(const std::string& why) {
    return "The picture was published, but the history could not be written: " + why;
}
