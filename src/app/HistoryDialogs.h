// Deleting a published picture as the user follows it: the progress window
// with Cancel, then the result in the publish's boxes. The History window
// and the command line (with its console dialogs) share it.
#pragma once

#include "HistoryStore.h"

// Deletes entry's picture from its server with today's settings. Once the
// server confirmed (or no longer had it), the row is removed from store when
// removeRow, else marked deleted. True then.
bool DeleteWithDialogs(THistoryStore& store, const THistoryEntry& entry, bool removeRow);

// The time of a row as the window and the command line show it: local time,
// "yyyy-MM-dd hh:mm:ss".
std::string HistoryTimeText(int64_t time);
