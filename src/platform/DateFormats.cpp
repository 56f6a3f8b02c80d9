#include "DateFormats.h"

#include <QDateTime>
#include <QLocale>

#include <optional>

namespace platform {
namespace {
std::optional<std::string> dateFormat, timeFormat;
}

void SetDateFormats(const std::string& shortDate, const std::string& longTime) {
    dateFormat = shortDate;
    timeFormat = longTime;
}

std::string ShortDateFormat() {
    return dateFormat ? *dateFormat
                      : QLocale::system().dateFormat(QLocale::ShortFormat).toStdString();
}

std::string LongTimeFormat() {
    return timeFormat ? *timeFormat
                      : QLocale::system().timeFormat(QLocale::LongFormat).toStdString();
}

std::string CurrentDateText() {
    return QDate::currentDate().toString(QString::fromStdString(ShortDateFormat())).toStdString();
}

std::string CurrentTimeText() {
    return QTime::currentTime().toString(QString::fromStdString(LongTimeFormat())).toStdString();
}

} // namespace platform
