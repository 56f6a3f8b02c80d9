// The program-wide date and time formats. They start as the user's locale
// formats (short date, long time) and the program may replace them; every
// date or time text of the program is formatted with them.
#pragma once

#include <string>

namespace platform {

// Formats in Qt's notation ("MMddyy", "HHmmss").
void SetDateFormats(const std::string& shortDate, const std::string& longTime);
std::string ShortDateFormat();
std::string LongTimeFormat();
// The current date and time, each from its own reading of the clock.
std::string CurrentDateText();
std::string CurrentTimeText();

} // namespace platform
