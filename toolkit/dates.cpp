// Date numbers: seconds since 1970-01-01 00:00:00 with the local calendar fields counted as if
// they were UTC, so that formatting a date number gives back the local date and time.
#include "toolkit/toolkit.h"

#include <cctype>
#include <ctime>

namespace veltrace::toolkit {

namespace {

constexpr std::int64_t SecondsPerDay = 86400;
constexpr std::int64_t LastDate = 0x7FFFFFFF; // 2038-01-19 03:14:07, the end of 32-bit time

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (eras of 400 years).
std::int64_t daysFromCivil(std::int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

struct Fields {
    std::int64_t year;
    int month, day, hour, minute, second;
};

Fields civilFromDate(std::int64_t date) {
    std::int64_t days = date / SecondsPerDay;
    std::int64_t seconds = date % SecondsPerDay;
    if (seconds < 0) {
        seconds += SecondsPerDay;
        --days;
    }
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    Fields fields{};
    fields.day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    fields.month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    fields.year = yearOfEra + era * 400 + (fields.month <= 2 ? 1 : 0);
    fields.hour = static_cast<int>(seconds / 3600);
    fields.minute = static_cast<int>(seconds / 60 % 60);
    fields.second = static_cast<int>(seconds % 60);
    return fields;
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// Two digits with a leading zero; a negative or wider number keeps its own digits.
std::string twoDigits(std::int64_t value) {
    std::string text = std::to_string(value);
    return value >= 0 && value < 10 ? "0" + text : text;
}

// Case-insensitive match of a lower-case token at position `at` of the mask.
bool tokenAt(const std::string& mask, std::size_t at, const char* token) {
    for (std::size_t i = 0; token[i] != '\0'; ++i, ++at) {
        if (at >= mask.size() || std::tolower(static_cast<unsigned char>(mask[at])) !=
                                     static_cast<unsigned char>(token[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

std::int64_t dateFromFields(int year, int month, int day, int hour, int minute, int second) {
    // A leap second (60) as the C library may report it is kept; it runs into the next minute.
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60) {
        return -1;
    }
    const std::int64_t date =
        daysFromCivil(year, month, day) * SecondsPerDay + hour * 3600 + minute * 60 + second;
    return date < 0 || date > LastDate ? -1 : date;
}

std::int64_t dateNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &local) == nullptr) {
        return -1;
    }
    return dateFromFields(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min, local.tm_sec);
}

std::string dateFormat(const std::string& mask, std::int64_t date) {
    const Fields fields = civilFromDate(date);
    std::string text;
    text.reserve(mask.size() + 8);
    std::size_t at = 0;
    while (at < mask.size()) {
        if (mask[at] != '%') {
            text += mask[at++];
            continue;
        }
        const std::size_t token = at + 1;
        if (tokenAt(mask, token, "yyyy")) {
            std::string year = std::to_string(fields.year);
            text += std::string(year.size() < 4 ? 4 - year.size() : 0, '0') + year;
            at = token + 4;
        } else if (tokenAt(mask, token, "yy")) {
            text += twoDigits(fields.year % 100);
            at = token + 2;
        } else if (tokenAt(mask, token, "mm")) {
            text += twoDigits(fields.month);
            at = token + 2;
        } else if (tokenAt(mask, token, "dd")) {
            text += twoDigits(fields.day);
            at = token + 2;
        } else if (tokenAt(mask, token, "hh")) {
            text += twoDigits(fields.hour);
            at = token + 2;
        } else if (tokenAt(mask, token, "ii")) {
            text += twoDigits(fields.minute);
            at = token + 2;
        } else if (tokenAt(mask, token, "ss")) {
            text += twoDigits(fields.second);
            at = token + 2;
        } else {
            // Not the start of a token: the "%" is an ordinary character.
            text += '%';
            at = token;
        }
    }
    return text;
}

} // namespace veltrace::toolkit
