#include "update/InfoFile.h"

#include <functional>
#include <map>

namespace qarvia::update {

namespace {

// ASCII letters only, so byte positions stay the same as in the original text.
std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

} // namespace

std::string ReadInfoValue(std::string_view fileText, std::string_view key, bool braced) {
    std::string search = "#" + lowerAscii(key) + "=";
    if (braced)
        search += '{';
    const std::string lowered = lowerAscii(fileText);
    const std::size_t found = lowered.find(search);
    if (found == std::string::npos)
        return {};
    const std::string_view rest = fileText.substr(found + search.size());
    std::size_t end = 0;
    if (braced) {
        end = rest.find('}');
        if (end == std::string_view::npos)
            end = rest.size();
    } else {
        while (end < rest.size() && static_cast<unsigned char>(rest[end]) >= 0x20)
            ++end;
    }
    return std::string(rest.substr(0, end));
}

std::vector<std::string> ReadUpdateFiles(std::string_view fileText) {
    std::vector<std::string> files;
    for (const char* key : {"url", "url0"}) {
        std::string value = ReadInfoValue(fileText, key);
        if (!value.empty())
            files.push_back(std::move(value));
    }
    // One pass over the text finds the first "#url<digits>=" of every number, so a file with very many
    // entries costs no more than reading it once.
    const std::string lowered = lowerAscii(fileText);
    std::map<std::string, std::size_t, std::less<>> firstValueAt;
    for (std::size_t at = lowered.find("#url"); at != std::string::npos; at = lowered.find("#url", at + 1)) {
        std::size_t end = at + 4;
        while (end < lowered.size() && lowered[end] >= '0' && lowered[end] <= '9')
            ++end;
        if (end == at + 4 || end >= lowered.size() || lowered[end] != '=')
            continue;
        firstValueAt.try_emplace(lowered.substr(at + 4, end - at - 4), end + 1);
    }
    for (std::size_t number = files.size() + 1;; ++number) {
        const auto found = firstValueAt.find(std::to_string(number));
        if (found == firstValueAt.end())
            break;
        std::size_t end = found->second;
        while (end < fileText.size() && static_cast<unsigned char>(fileText[end]) >= 0x20)
            ++end;
        if (end == found->second)
            break;
        files.emplace_back(fileText.substr(found->second, end - found->second));
    }
    return files;
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
