#pragma once

// Dates as they appear in HTTP headers and cookie expiry texts.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace qarvia::http {

// An instant at whole seconds, in UTC.
using THttpDateTime = std::chrono::sys_seconds;

// Reads the date forms found in headers and cookies, all to the same instant:
//   "Wed, 09 Jun 2021 10:18:14 GMT"        (RFC 1123)
//   "Wednesday, 09-Jun-21 10:18:14 GMT"    (RFC 850; two-digit years below 80 are 20xx, 80 to 99 are 19xx)
//   "Wed Jun  9 10:18:14 2021"             (C asctime)
// A zone "+hhmm" or "-hhmm" is honoured; any other zone (GMT, UTC, none) is taken as UTC.
// Empty or unreadable text, or an impossible date, gives no value.
std::optional<THttpDateTime> parseHttpDate(std::string_view text);

// "Wed, 09 Jun 2021 10:18:14 GMT".
std::string formatHttpDate(THttpDateTime when);

} // namespace qarvia::http
