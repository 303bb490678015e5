#include "update/UpdaterRules.h"

#include <charconv>
#include <cstdio>
#include <ctime>
#include <vector>

namespace qarvia::update {

namespace {

// A whole number: an optional sign and decimal digits, nothing else, within 32 bits.
std::optional<int> wholeNumber(std::string_view text) {
    std::size_t start = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
    if (start == text.size())
        return std::nullopt;
    for (std::size_t i = start; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
    }
    long long value = 0;
    const char* first = text.data() + start;
    const auto [ptr, ec] = std::from_chars(first, text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size())
        return std::nullopt;
    if (text[0] == '-')
        value = -value;
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<int>(value);
}

int compareBytes(std::string_view a, std::string_view b) {
    const std::size_t n = std::max(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned ca = i < a.size() ? static_cast<unsigned char>(a[i]) : 0u;
        const unsigned cb = i < b.size() ? static_cast<unsigned char>(b[i]) : 0u;
        if (ca != cb)
            return ca > cb ? 1 : -1;
    }
    return 0;
}

std::vector<std::string_view> fourFields(std::string_view text, std::string& storage) {
    storage = std::string(text) + ".";
    std::vector<std::string_view> fields;
    std::string_view rest = storage;
    while (fields.size() < 4) {
        const auto dot = rest.find('.');
        if (dot == std::string_view::npos)
            break;
        fields.push_back(rest.substr(0, dot));
        rest.remove_prefix(dot + 1);
    }
    while (fields.size() < 4)
        fields.push_back("0");
    return fields;
}

} // namespace

int CompareVersionStrings(std::string_view a, std::string_view b) {
    std::string sa, sb;
    const auto fa = fourFields(a, sa);
    const auto fb = fourFields(b, sb);
    for (int i = 0; i < 4; ++i) {
        const int na = wholeNumber(fa[i]).value_or(-1);
        const int nb = wholeNumber(fb[i]).value_or(-1);
        if (na == -1 || nb == -1)
            return compareBytes(a, b);
        if (na != nb)
            return na > nb ? 1 : -1;
    }
    return 0;
}

InfoDate TodayDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

bool IsValidDate(const InfoDate& d) {
    if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1)
        return false;
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
    return d.day <= days[d.month - 1] + ((d.month == 2 && leap) ? 1 : 0);
}

InfoDate ParseInfoDate(std::string_view text, const InfoDate& today) {
    const auto first = text.find('/');
    if (first == std::string_view::npos)
        return today;
    const auto second = text.find('/', first + 1);
    if (second == std::string_view::npos)
        return today;
    const auto month = wholeNumber(text.substr(0, first));
    const auto day = wholeNumber(text.substr(first + 1, second - first - 1));
    const auto year = wholeNumber(text.substr(second + 1));
    if (!month || !day || !year)
        return today;
    const InfoDate date{*year, *month, *day};
    return IsValidDate(date) ? date : today;
}

std::string FormatVersionDate(const InfoDate& date) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d", date.month, date.day, date.year);
    return buffer;
}

bool IsNewerByNumber(std::string_view infoVersion, std::string_view versionNumber) {
    return CompareVersionStrings(infoVersion, versionNumber) > 0;
}

bool IsNewerByDate(std::string_view versionDate, std::string_view infoDate, const InfoDate& today) {
    return ParseInfoDate(versionDate, today) < ParseInfoDate(infoDate, today);
}

std::optional<std::string> EncodeLInfo(std::string_view user, std::string_view password) {
    if (user.empty() && password.empty())
        return std::string();
    if (user.size() + password.size() > 254)
        return std::nullopt;
    const auto t = static_cast<unsigned char>(user.size() + password.size() + 1);
    const auto mask = static_cast<unsigned char>(t ^ LInfoKey);
    std::string record(1, static_cast<char>(t));
    record += static_cast<char>(static_cast<unsigned char>(user.size()) ^ mask);
    for (const char c : user)
        record += static_cast<char>(static_cast<unsigned char>(c) ^ mask);
    for (const char c : password)
        record += static_cast<char>(static_cast<unsigned char>(c) ^ mask);
    return record;
}

std::optional<std::pair<std::string, std::string>> DecodeLInfo(std::string_view record) {
    if (record.empty())
        return std::nullopt;
    const auto t = static_cast<unsigned char>(record[0]);
    if (t == 0 || record.size() != 1u + t)
        return std::nullopt;
    const auto mask = static_cast<unsigned char>(t ^ LInfoKey);
    std::string plain;
    for (std::size_t i = 1; i < record.size(); ++i)
        plain += static_cast<char>(static_cast<unsigned char>(record[i]) ^ mask);
    const auto userLength = static_cast<unsigned char>(plain[0]);
    if (userLength > plain.size() - 1)
        return std::nullopt;
    return std::make_pair(plain.substr(1, userLength), plain.substr(1 + userLength));
}

std::string FileNamePartOfURL(std::string_view url) {
    // A query or fragment names no file: "setup.exe?t=1" must stay "setup.exe" on disk.
    url = url.substr(0, url.find_first_of("?#"));
    const auto cut = url.find_last_of("/\\:");
    return std::string(cut == std::string_view::npos ? url : url.substr(cut + 1));
}

std::string DownloadTempName(const std::string& programDir, std::string_view url) {
    std::string dir = programDir;
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    return dir + FileNamePartOfURL(url) + DownloadSuffix;
}

} // namespace qarvia::update
