// The row a successful publish adds to the history.
#pragma once

#include "HistoryStore.h"
#include "configUnit.h"

#include <optional>
#include <string>

// The row for file, published as name at url with settings: the server's
// data but never its password or the script's key.
THistoryEntry PublishedEntry(const configRecord& settings, const std::string& name,
                             const std::string& url, const std::string& file);

// Adds that row to the history at THistoryStore::DefaultPath(); the reason
// when it could not be written (the publish stands all the same).
std::optional<std::string> RecordPublish(const configRecord& settings, const std::string& name,
                                         const std::string& url, const std::string& file);

// What the user is told when RecordPublish failed.
std::string HistoryNotWrittenText(const std::string& why);
