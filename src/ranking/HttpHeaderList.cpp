#include "ranking/HttpHeaderList.h"

#include "ranking/HttpText.h"
#include "text/Ascii.h"
#include "text/Blanks.h"

namespace qarvia::http {

namespace {

bool isContinuation(std::string_view line) {
    return !line.empty() && text::isBlank(line.front());
}

// Whether `line` is a header line named `wanted` (trimmed).
bool isNamed(std::string_view line, std::string_view wanted) {
    // Most lines differ in their first letter: a line that starts with a printable byte keeps it when
    // trimmed, so that byte alone can rule it out.
    if (!wanted.empty() && !line.empty() && static_cast<unsigned char>(line.front()) > ' ' &&
        text::asciiLower(line.front()) != text::asciiLower(wanted.front()))
        return false;
    const std::optional<std::string_view> name = THttpHeaderList::headerNameOf(line);
    return name && sameTextIgnoringCase(*name, wanted);
}

} // namespace

std::optional<std::string_view> THttpHeaderList::headerNameOf(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (isContinuation(line) || colon == std::string_view::npos)
        return std::nullopt;
    return trimmed(line.substr(0, colon));
}

std::size_t THttpHeaderList::indexOf(std::string_view name) const {
    std::string_view wanted = trimmed(name);
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (isNamed(items[i], wanted))
            return i;
    }
    return items.size();
}

std::string THttpHeaderList::valueFrom(std::size_t index) const {
    const std::string& line = items[index];
    std::string result(trimmed(std::string_view(line).substr(line.find(':') + 1)));
    for (std::size_t i = index + 1; i < items.size() && isContinuation(items[i]); ++i) {
        std::string_view piece = trimmed(items[i]);
        if (piece.empty())
            continue;
        if (!result.empty())
            result += ' ';
        result += piece;
    }
    return result;
}

std::string THttpHeaderList::value(std::string_view name) const {
    std::size_t index = indexOf(name);
    return index < items.size() ? valueFrom(index) : std::string();
}

bool THttpHeaderList::contains(std::string_view name) const {
    return indexOf(name) < items.size();
}

std::vector<std::string> THttpHeaderList::extract(std::string_view name) const {
    std::vector<std::string> values;
    std::string_view wanted = trimmed(name);
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (isNamed(items[i], wanted))
            values.push_back(valueFrom(i));
    }
    return values;
}

void THttpHeaderList::setValue(std::string_view name, std::string_view value) {
    std::size_t index = indexOf(name);
    if (index < items.size()) {
        std::size_t end = index + 1;
        while (end < items.size() && isContinuation(items[end]))
            ++end;
        items.erase(items.begin() + static_cast<std::ptrdiff_t>(index),
                    items.begin() + static_cast<std::ptrdiff_t>(end));
    }
    if (!value.empty())
        insertFolded(index, name, value);
}

void THttpHeaderList::appendValue(std::string_view name, std::string_view value) {
    if (!value.empty())
        insertFolded(items.size(), name, value);
}

void THttpHeaderList::insertFolded(std::size_t index, std::string_view name, std::string_view value) {
    const std::string_view cleanName = trimmed(name);
    std::string line;
    line.reserve(cleanName.size() + 2 + value.size());
    line.append(cleanName).append(": ").append(value);
    const auto at = items.begin() + static_cast<std::ptrdiff_t>(index);
    if (line.size() <= fold) {
        items.insert(at, std::move(line));
        return;
    }
    std::vector<std::string> pieces = foldLine(line, fold);
    items.insert(at, std::make_move_iterator(pieces.begin()), std::make_move_iterator(pieces.end()));
}

std::string THttpHeaderList::text() const {
    std::string result;
    for (const std::string& line : items) {
        result += line;
        result += "\r\n";
    }
    return result;
}

std::vector<std::string> THttpHeaderList::foldLine(std::string_view line, std::size_t length) {
    auto isBreak = [](char c) { return text::isBlank(c) || c == ','; };
    auto trimRight = [](std::string_view text) {
        while (!text.empty() && text::isBlank(text.back()))
            text.remove_suffix(1);
        return text;
    };
    auto trimLeft = [](std::string_view text) {
        while (!text.empty() && text::isBlank(text.front()))
            text.remove_prefix(1);
        return text;
    };

    std::vector<std::string> pieces;
    std::string_view rest = line;
    bool first = true;
    length = length < 2 ? 2 : length;
    while (true) {
        std::string prefix = first ? "" : " ";
        if (prefix.size() + rest.size() <= length) {
            pieces.push_back(prefix + std::string(rest));
            break;
        }
        // The last break that keeps the piece within the length; failing that, the first one after it.
        std::size_t room = length - prefix.size();
        std::size_t cut = std::string_view::npos;
        for (std::size_t i = room; i > 0; --i) {
            if (isBreak(rest[i - 1]) && i - 1 > 0) {
                cut = i - 1;
                break;
            }
        }
        if (cut == std::string_view::npos) {
            for (std::size_t i = room; i < rest.size(); ++i) {
                if (isBreak(rest[i])) {
                    cut = i;
                    break;
                }
            }
        }
        if (cut == std::string_view::npos) {
            pieces.push_back(prefix + std::string(rest));
            break;
        }
        // A comma stays with the piece before it; a blank or tab is dropped.
        std::size_t pieceEnd = rest[cut] == ',' ? cut + 1 : cut;
        std::string_view piece = trimRight(rest.substr(0, pieceEnd));
        std::string_view next = trimLeft(rest.substr(cut + 1));
        if (piece.empty() || next.empty()) {
            pieces.push_back(prefix + std::string(trimRight(rest)));
            break;
        }
        pieces.push_back(prefix + std::string(piece));
        rest = next;
        first = false;
    }
    return pieces;
}

} // namespace qarvia::http
