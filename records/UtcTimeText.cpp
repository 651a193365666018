#include "records/UtcTimeText.h"

#include <cstdio>

namespace vrax {

namespace {

// Reads exactly `count` digits at `position`.
bool Digits(const std::string& text, std::size_t& position, int count, int& value) {
    value = 0;
    for (int i = 0; i < count; ++i, ++position) {
        if (position >= text.size() || text[position] < '0' || text[position] > '9') {
            return false;
        }
        value = value * 10 + (text[position] - '0');
    }
    return true;
}

bool LeapYear(long long year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(long long year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && LeapYear(year) ? 29 : days[month - 1];
}

} // namespace

// H. Hinnant's algorithms.
long long DaysFromCivil(long long year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(long long days, long long& year, int& month, int& day) {
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long shifted = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * shifted + 2) / 5 + 1);
    month = static_cast<int>(shifted < 10 ? shifted + 3 : shifted - 9);
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

std::optional<std::string> UtcTimeOfText(const std::string& text) {
    std::size_t at = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, milliseconds = 0;
    if (!Digits(text, at, 4, year) || at >= text.size() || text[at++] != '-' ||
        !Digits(text, at, 2, month) || at >= text.size() || text[at++] != '-' ||
        !Digits(text, at, 2, day)) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
        return std::nullopt;
    }
    int offsetMinutes = 0;
    if (at < text.size()) {
        if (text[at] != 'T' && text[at] != ' ') {
            return std::nullopt;
        }
        ++at;
        if (!Digits(text, at, 2, hour) || at >= text.size() || text[at++] != ':' ||
            !Digits(text, at, 2, minute) || hour > 23 || minute > 59) {
            return std::nullopt;
        }
        if (at < text.size() && text[at] == ':') {
            ++at;
            if (!Digits(text, at, 2, second) || second > 59) {
                return std::nullopt;
            }
            if (at < text.size() && text[at] == '.') {
                ++at;
                int decimals = 0;
                for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++decimals) {
                    if (decimals < 3) {
                        milliseconds = milliseconds * 10 + (text[at] - '0');
                    }
                }
                if (decimals == 0 || decimals > 9) {
                    return std::nullopt;
                }
                for (int i = decimals; i < 3; ++i) {
                    milliseconds *= 10;
                }
            }
        }
        if (at < text.size() && text[at] == 'Z') {
            ++at;
        } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
            const int sign = text[at++] == '-' ? -1 : 1;
            int offsetHours = 0, offsetRest = 0;
            if (!Digits(text, at, 2, offsetHours)) {
                return std::nullopt;
            }
            // +HH, +HHMM or +HH:MM.
            const bool colon = at < text.size() && text[at] == ':';
            at += colon ? 1 : 0;
            if ((colon || at < text.size()) && !Digits(text, at, 2, offsetRest)) {
                return std::nullopt;
            }
            if (offsetHours > 23 || offsetRest > 59) {
                return std::nullopt;
            }
            offsetMinutes = sign * (offsetHours * 60 + offsetRest);
        }
        if (at != text.size()) {
            return std::nullopt;
        }
    }
    // Local time minus its offset is UTC.
    long long minutes = DaysFromCivil(year, month, day) * 1440 + hour * 60 + minute - offsetMinutes;
    const long long days = minutes >= 0 ? minutes / 1440 : (minutes - 1439) / 1440;
    minutes -= days * 1440;
    long long utcYear = 0;
    int utcMonth = 0, utcDay = 0;
    CivilFromDays(days, utcYear, utcMonth, utcDay);
    if (utcYear < 0 || utcYear > 9999) {
        return std::nullopt;
    }
    char canonical[96];
    std::snprintf(canonical, sizeof canonical, "%04lld-%02d-%02dT%02lld:%02lld:%02d.%03dZ", utcYear,
                  utcMonth, utcDay, minutes / 60, minutes % 60, second, milliseconds);
    return std::string(canonical);
}

} // namespace vrax
