#include "update/HttpDate.h"

#include "text/Blanks.h"

#include <array>
#include <ctime>
#include <optional>
#include <string>

namespace qarvia::update {

namespace {

constexpr std::array<std::string_view, 7> weekdayNames{"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
constexpr std::array<std::string_view, 12> monthNames{"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                      "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

using text::isBlank;
using text::trimBlanks;

std::string upperPrefix3(std::string_view s) {
    std::string out(s.substr(0, 3));
    for (char& c : out) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

// 1..12 for a month name (its first three letters, any case), else 0.
int monthFromName(std::string_view field) {
    if (field.size() < 3)
        return 0;
    const std::string head = upperPrefix3(field);
    for (std::size_t i = 0; i < monthNames.size(); ++i) {
        if (monthNames[i] == head)
            return static_cast<int>(i) + 1;
    }
    return 0;
}

// A whole non-negative decimal number (at most 9 digits), or nothing.
std::optional<int> number(std::string_view field) {
    if (field.empty() || field.size() > 9)
        return std::nullopt;
    int value = 0;
    for (char c : field) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// Takes the next field ending at `separator` (or a blank, or the end), skipping blanks before it.
std::string_view nextField(std::string_view& rest, char separator) {
    while (!rest.empty() && isBlank(rest.front()))
        rest.remove_prefix(1);
    std::size_t end = 0;
    while (end < rest.size() && rest[end] != separator && !isBlank(rest[end]))
        ++end;
    const std::string_view field = rest.substr(0, end);
    rest.remove_prefix(end);
    if (!rest.empty() && (rest.front() == separator || isBlank(rest.front())))
        rest.remove_prefix(1);
    return field;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

int daysInMonth(int year, int month) {
    static constexpr std::array<int, 12> days{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[static_cast<std::size_t>(month - 1)];
}

} // namespace

std::int64_t ParseHTTPDateGMT(std::string_view text) {
    std::string_view rest = trimBlanks(text);
    if (rest.empty())
        return 0;
    const std::string head = upperPrefix3(rest);
    for (std::string_view weekday : weekdayNames) {
        if (head == weekday) {
            const std::size_t blank = rest.find(' ');
            if (blank == std::string_view::npos)
                return 0;
            rest = trimBlanks(rest.substr(blank + 1));
            break;
        }
    }

    const std::size_t firstBlank = rest.find(' ');
    const std::size_t dash = rest.find('-');
    const char separator = dash != std::string_view::npos && dash >= 1 && dash < firstBlank ? '-' : ' ';

    const std::string_view first = nextField(rest, separator);
    const std::string_view second = nextField(rest, separator);
    int month = monthFromName(first);
    int day = 1;
    if (month != 0) {
        day = number(second).value_or(1);
    } else {
        day = number(first).value_or(1);
        month = monthFromName(second);
        if (month == 0)
            month = number(second).value_or(0);
    }

    std::string_view yearField = nextField(rest, ' ');
    std::string_view timeText = rest;
    int year = number(yearField).value_or(1900);
    const bool timeBeforeYear = year == 1900;
    if (timeBeforeYear) {
        // asctime form: the time comes before the year.
        timeText = yearField;
        year = number(nextField(rest, ' ')).value_or(-1);
    }
    if (year < 0)
        return 0;
    if (year < 80)
        year += 2000;
    else if (year < 100)
        year += 1900;

    int hour = 0;
    int minute = 0;
    int second_ = 0;
    if (timeText.find(':') != std::string_view::npos) {
        std::string_view clock = nextField(timeText, ' ');
        hour = number(nextField(clock, ':')).value_or(0);
        minute = number(nextField(clock, ':')).value_or(0);
        second_ = number(nextField(clock, ':')).value_or(0);
        if (!timeBeforeYear)
            rest = timeText; // what follows the time holds the zone
    }

    std::int64_t zoneSeconds = 0;
    rest = trimBlanks(rest);
    if (rest.size() > 4 && (rest[0] == '+' || rest[0] == '-')) {
        const auto hh = number(rest.substr(1, 2));
        const auto mm = number(rest.substr(3, 2));
        if (hh && mm)
            zoneSeconds = (rest[0] == '-' ? -1 : 1) * (std::int64_t(*hh) * 3600 + std::int64_t(*mm) * 60);
    }

    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || year > 9999 || hour > 23 ||
        minute > 59 || second_ > 60)
        return 0;
    const std::int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    return days * 86400 + hour * 3600 + minute * 60 + second_ - zoneSeconds;
}

std::int64_t ParseHTTPDate(std::string_view text) {
    const std::int64_t gmt = ParseHTTPDateGMT(text);
    if (gmt == 0)
        return 0;
    // The offset in force at that instant, so a summer date read in winter still names the right hour.
    const std::time_t instant = static_cast<std::time_t>(gmt);
    std::tm local{};
    if (localtime_r(&instant, &local) == nullptr)
        return gmt;
    return gmt + local.tm_gmtoff;
}

} // namespace qarvia::update
