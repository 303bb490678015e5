#include "ranking/HttpDate.h"

#include "ranking/HttpText.h"
#include "text/Ascii.h"

#include <array>
#include <cstdio>

namespace qarvia::http {

namespace {

constexpr std::array<const char*, 7> dayNames = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
constexpr std::array<const char*, 12> monthNames = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                    "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

bool equalsUpper(std::string_view text, const char* upper) {
    std::size_t i = 0;
    for (; upper[i] != '\0'; ++i) {
        if (i >= text.size() || text::asciiUpper(text[i]) != upper[i])
            return false;
    }
    return i == text.size();
}

// Takes the text up to `separator` (or the end) off the front of `rest`, blanks around it removed.
std::string_view takeWord(std::string_view& rest, char separator) {
    rest = trimmed(rest);
    std::size_t end = rest.find(separator);
    std::string_view word = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    return trimmed(word);
}

// A non-negative decimal number of at most 9 digits, or -1.
long readNumber(std::string_view text) {
    if (text.empty() || text.size() > 9)
        return -1;
    long value = 0;
    for (char c : text) {
        if (!text::isAsciiDigit(c))
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

int monthOf(std::string_view word) {
    for (std::size_t i = 0; i < monthNames.size(); ++i) {
        if (equalsUpper(word, monthNames[i]))
            return static_cast<int>(i) + 1;
    }
    long number = readNumber(word);
    return number >= 1 && number <= 12 ? static_cast<int>(number) : 0;
}

} // namespace

std::optional<THttpDateTime> parseHttpDate(std::string_view text) {
    std::string_view rest = trimmed(text);
    if (rest.empty())
        return std::nullopt;

    if (rest.size() >= 3) {
        for (const char* day : dayNames) {
            if (equalsUpper(rest.substr(0, 3), day)) {
                takeWord(rest, ' ');
                break;
            }
        }
    }
    rest = trimmed(rest);

    std::size_t dash = rest.find('-');
    std::size_t blank = rest.find(' ');
    char separator = (dash != std::string_view::npos && dash >= 1 && dash < blank) ? '-' : ' ';

    int month = 0;
    long day = 0;
    std::string_view first = takeWord(rest, separator);
    if (int named = 0; first.size() == 3 && (named = monthOf(first)) != 0 && !text::isAsciiDigit(first[0])) {
        month = named;
        day = readNumber(takeWord(rest, separator));
    } else {
        day = readNumber(first);
        month = monthOf(takeWord(rest, separator));
    }
    if (day < 0)
        day = 1;

    std::string owned; // holds the rest when the year had to be cut out of its middle
    std::string_view yearRest = rest;
    long year = readNumber(takeWord(yearRest, ' '));
    if (year >= 0) {
        rest = yearRest;
    } else {
        // month, day, time, year: the year is the first plain number further on; what precedes it stays.
        std::string_view scan = rest;
        while (!trimmed(scan).empty()) {
            std::string_view before = trimmed(scan);
            std::string_view word = takeWord(scan, ' ');
            if ((year = readNumber(word)) >= 0) {
                std::size_t at = static_cast<std::size_t>(before.data() - rest.data());
                owned = std::string(rest.substr(0, at)) + " " + std::string(scan);
                rest = owned;
                break;
            }
        }
    }
    if (year < 0 || month == 0)
        return std::nullopt;
    if (year < 80)
        year += 2000;
    else if (year < 100)
        year += 1900;

    long hours = 0, minutes = 0, seconds = 0;
    rest = trimmed(rest);
    if (rest.find(':') != std::string_view::npos) {
        std::string_view time = takeWord(rest, ' ');
        long* parts[] = {&hours, &minutes, &seconds};
        for (long* part : parts) {
            long value = readNumber(takeWord(time, ':'));
            *part = value < 0 ? 0 : value;
        }
    }
    if (hours > 23 || minutes > 59 || seconds > 59)
        return std::nullopt;

    long offsetMinutes = 0;
    std::string_view zone = trimmed(rest);
    if (zone.size() > 4 && (zone[0] == '+' || zone[0] == '-')) {
        long zoneHours = readNumber(zone.substr(1, 2));
        long zoneMinutes = readNumber(zone.substr(3, 2));
        if (zoneHours >= 0 && zoneMinutes >= 0)
            offsetMinutes = (zoneHours * 60 + zoneMinutes) * (zone[0] == '-' ? -1 : 1);
    }

    using namespace std::chrono;
    year_month_day date{std::chrono::year(static_cast<int>(year)), std::chrono::month(static_cast<unsigned>(month)),
                        std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok() || year > 9999)
        return std::nullopt;
    return sys_days(date) + std::chrono::hours(hours) + std::chrono::minutes(minutes - offsetMinutes) +
           std::chrono::seconds(seconds);
}

std::string formatHttpDate(THttpDateTime when) {
    using namespace std::chrono;
    sys_days days = floor<std::chrono::days>(when);
    year_month_day date(days);
    hh_mm_ss<std::chrono::seconds> time(when - days);
    weekday wd(days);
    char buffer[64];
    static constexpr const char* dayTitles[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* monthTitles[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::snprintf(buffer, sizeof buffer, "%s, %02u %s %04d %02d:%02d:%02d GMT", dayTitles[wd.c_encoding()],
                  static_cast<unsigned>(date.day()), monthTitles[static_cast<unsigned>(date.month()) - 1],
                  static_cast<int>(date.year()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
    return buffer;
}

} // namespace qarvia::http
