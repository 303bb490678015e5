#pragma once

// An ordered list of header lines "Name: value", as sent or received.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qarvia::http {

class THttpHeaderList {
public:
    // Request and answer header lists fold at 1024 characters; other lists at 78.
    static constexpr std::size_t HeaderFoldLength = 1024;
    static constexpr std::size_t DefaultFoldLength = 78;

    explicit THttpHeaderList(std::size_t foldLength = DefaultFoldLength) : fold(foldLength) {}

    // The value of the first line named `name` (compared case-insensitively), with the continuation lines
    // that follow it (lines starting with a blank or a tab) joined by one blank, trimmed at both ends.
    // Empty when there is no such line.
    std::string value(std::string_view name) const;
    bool contains(std::string_view name) const;

    // Replaces the first line named `name` in place (dropping its continuation lines) or appends one;
    // an empty value removes the line. A line longer than the fold length is folded into continuation lines.
    void setValue(std::string_view name, std::string_view value);

    // setValue for a name the list is known not to hold: appends the (folded) line unless the value is empty.
    void appendValue(std::string_view name, std::string_view value);

    // The values of every line named `name`, in order.
    std::vector<std::string> extract(std::string_view name) const;

    // Calls visit(name, index) for every line that starts a header (holds ":" and is no continuation line),
    // in order, with its trimmed name: several names read in one pass. valueAt(index) is its value.
    template <class Visit> void forEachName(Visit&& visit) const {
        for (std::size_t i = 0; i < items.size(); ++i)
            if (const std::optional<std::string_view> name = headerNameOf(items[i]))
                visit(*name, i);
    }
    // The trimmed name of a line that starts a header; nothing for a continuation line or one without ":".
    static std::optional<std::string_view> headerNameOf(std::string_view line);
    // The value of the header whose line is at `index`, as value() reads it.
    std::string valueAt(std::size_t index) const { return valueFrom(index); }

    // Adds a line as it stands (no folding): the caller's own raw lines.
    void addLine(std::string line) { items.push_back(std::move(line)); }
    void clear() { items.clear(); }

    const std::vector<std::string>& lines() const { return items; }
    std::size_t count() const { return items.size(); }
    bool empty() const { return items.empty(); }
    std::size_t foldLength() const { return fold; }

    // Every line followed by CR LF.
    std::string text() const;

    // Folds one line at a blank, tab or comma into pieces of at most `length` characters where it can;
    // pieces after the first start with one blank.
    static std::vector<std::string> foldLine(std::string_view line, std::size_t length);

private:
    // Index of the first (non-continuation) line named `name`, or count().
    std::size_t indexOf(std::string_view name) const;
    std::string valueFrom(std::size_t index) const;
    // Inserts "name: value" at `index`, folded when longer than the fold length.
    void insertFolded(std::size_t index, std::string_view name, std::string_view value);

    std::vector<std::string> items;
    std::size_t fold;
};

} // namespace qarvia::http
