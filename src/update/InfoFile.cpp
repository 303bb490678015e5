#include "update/InfoFile.h"

#include "text/Ascii.h"

#include <functional>
#include <map>

namespace qarvia::update {

namespace {

using text::asciiLower;
using text::findIgnoringAsciiCase;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isLowerHex(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f');
}

// The plain value that starts at `from`: up to the first byte below 0x20.
std::string_view plainValueAt(std::string_view fileText, std::size_t from) {
    std::size_t end = from;
    while (end < fileText.size() && static_cast<unsigned char>(fileText[end]) >= 0x20)
        ++end;
    return fileText.substr(from, end - from);
}

std::string searchTextFor(std::string_view key, bool braced) {
    std::string search = "#";
    for (char c : key)
        search += asciiLower(c);
    search += braced ? "={" : "=";
    return search;
}

// Where the value of the first "<prefix><digits>=" of every digit string (none included) starts, in one
// pass over the text, so a file with very many entries costs no more than reading it a few times.
using NumberedEntries = std::map<std::string_view, std::size_t, std::less<>>;
NumberedEntries firstNumberedEntries(std::string_view fileText, std::string_view lowerPrefix) {
    NumberedEntries first;
    for (std::size_t at = findIgnoringAsciiCase(fileText, lowerPrefix); at != std::string_view::npos;
         at = findIgnoringAsciiCase(fileText, lowerPrefix, at + 1)) {
        const std::size_t digits = at + lowerPrefix.size();
        std::size_t end = digits;
        while (end < fileText.size() && isDigit(fileText[end]))
            ++end;
        if (end < fileText.size() && fileText[end] == '=')
            first.try_emplace(fileText.substr(digits, end - digits), end + 1);
    }
    return first;
}

std::string_view numberedValue(std::string_view fileText, const NumberedEntries& entries, std::string_view number) {
    const auto found = entries.find(number);
    return found == entries.end() ? std::string_view() : plainValueAt(fileText, found->second);
}

} // namespace

std::string ReadInfoValue(std::string_view fileText, std::string_view key, bool braced) {
    const std::string search = searchTextFor(key, braced);
    const std::size_t found = findIgnoringAsciiCase(fileText, search);
    if (found == std::string_view::npos)
        return {};
    const std::size_t from = found + search.size();
    if (!braced)
        return std::string(plainValueAt(fileText, from));
    const std::string_view rest = fileText.substr(from);
    return std::string(rest.substr(0, rest.find('}')));
}

std::vector<ListedFile> ReadListedFiles(std::string_view fileText) {
    const NumberedEntries urls = firstNumberedEntries(fileText, "#url");
    const NumberedEntries sizes = firstNumberedEntries(fileText, "#size");
    const NumberedEntries hashes = firstNumberedEntries(fileText, "#hash");
    std::vector<ListedFile> files;
    auto add = [&](const std::string& number) {
        const auto found = urls.find(std::string_view(number));
        if (found == urls.end())
            return false;
        const std::string_view url = plainValueAt(fileText, found->second);
        if (url.empty())
            return false;
        ListedFile file;
        file.url = std::string(url);
        file.number = number;
        file.entryAt = found->second - number.size() - 5;
        const std::string_view sizeText = numberedValue(fileText, sizes, number);
        const std::string_view hashText = numberedValue(fileText, hashes, number);
        file.size = ParseListedSize(sizeText);
        file.sha256 = ParseListedHash(hashText);
        file.unreadableFacts = (!sizeText.empty() && !file.size) || (!hashText.empty() && !file.sha256);
        files.push_back(std::move(file));
        return true;
    };
    add("");
    add("0");
    for (std::size_t number = files.size() + 1; add(std::to_string(number)); ++number) {
    }
    return files;
}

std::vector<std::string> ReadUpdateFiles(std::string_view fileText) {
    std::vector<std::string> urls;
    for (ListedFile& file : ReadListedFiles(fileText))
        urls.push_back(std::move(file.url));
    return urls;
}

std::optional<std::int64_t> ParseListedSize(std::string_view value) {
    if (value.empty() || value.size() > 18)
        return std::nullopt;
    std::int64_t size = 0;
    for (char c : value) {
        if (!isDigit(c))
            return std::nullopt;
        size = size * 10 + (c - '0');
    }
    return size;
}

std::optional<std::string> ParseListedHash(std::string_view value) {
    constexpr std::string_view prefix = "sha256:";
    if (value.size() != prefix.size() + 64 || value.substr(0, prefix.size()) != prefix)
        return std::nullopt;
    const std::string_view digits = value.substr(prefix.size());
    for (char c : digits) {
        if (!isLowerHex(c))
            return std::nullopt;
    }
    return std::string(digits);
}

SignatureEntry FindSignatureEntry(std::string_view fileText) {
    constexpr std::string_view search = "#signature=";
    SignatureEntry entry;
    const std::size_t at = text::rfindIgnoringAsciiCase(fileText, search);
    if (at == std::string_view::npos)
        return entry;
    entry.found = true;
    entry.at = at;
    const std::string_view value = plainValueAt(fileText, at + search.size());
    entry.value = std::string(value);
    entry.last = true;
    for (std::size_t i = at + search.size() + value.size(); i < fileText.size(); ++i) {
        const char c = fileText[i];
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
            entry.last = false;
            break;
        }
    }
    return entry;
}

int ReadUpgradeMethodDigit(std::string_view fileText) {
    const std::string method = ReadInfoValue(fileText, "method");
    if (method.empty())
        return 0;
    if (method[0] == '1')
        return 1;
    if (method[0] == '2')
        return 2;
    return 0;
}

TsuUpgradeMethod UpgradeMethodFromDigit(int digit) {
    switch (digit) {
    case 1:
        return TsuUpgradeMethod::umUseExternalSetup;
    case 2:
        return TsuUpgradeMethod::umRedirectToURL;
    default:
        return TsuUpgradeMethod::umSelfUpgrade;
    }
}

} // namespace qarvia::update
