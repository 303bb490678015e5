#pragma once

// Dates of HTTP headers (Date, Last-Modified, Expires) in the three forms HTTP/1.1 allows:
//   "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994",
// and numeric zones ("+0200") in place of "GMT".

#include <cstdint>
#include <string_view>

namespace qarvia::update {

// Seconds since 1970-01-01 00:00:00 UTC, or 0 for an empty or unreadable text.
std::int64_t ParseHTTPDateGMT(std::string_view text);

// The same instant as local wall-clock time (seconds since 1970-01-01 00:00:00 local time, using the zone
// offset in force at that instant), or 0 for an empty or unreadable text.
std::int64_t ParseHTTPDate(std::string_view text);

} // namespace qarvia::update
