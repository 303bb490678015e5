#include "update/TransferSettings.h"

#include <algorithm>
#include <cmath>

namespace qarvia::update {

int NiceValueOf(TsuThreadPriority priority) {
    switch (priority) {
    case TsuThreadPriority::tpIdle:
        return 19;
    case TsuThreadPriority::tpLowest:
        return 10;
    case TsuThreadPriority::tpLower:
        return 5;
    case TsuThreadPriority::tpNormal:
        return 0;
    case TsuThreadPriority::tpHigher:
        return -5;
    case TsuThreadPriority::tpHighest:
        return -10;
    case TsuThreadPriority::tpTimeCritical:
        return -20;
    }
    return 0;
}

std::string CacheRequestHeaders(TsuCacheOptions options) {
    // No local cache exists, so "reload if no expiry", "resynchronise", "temp files", "cache if the net
    // fails" and "no cache write" have nothing to act on. Reload and no-cache ask every cache on the way
    // for a fresh copy.
    std::string headers;
    if (options.contains(TsuCacheOption::coPragmaNoCache))
        headers += "Pragma: no-cache\r\n";
    if (options.contains(TsuCacheOption::coPragmaNoCache) || options.contains(TsuCacheOption::coAlwaysReload))
        headers += "Cache-Control: no-cache\r\n";
    return headers;
}

std::string RealmFromAuthenticate(std::string_view value) {
    const std::size_t open = value.find("=\"");
    if (open == std::string_view::npos)
        return std::string(value);
    const std::string_view rest = value.substr(open + 2);
    return std::string(rest.substr(0, rest.find('"')));
}

TsuProgressFigures ComputeProgress(std::int64_t startPosition, std::int64_t contentLength, std::int64_t downloaded,
                                   std::int64_t elapsedMs) {
    TsuProgressFigures figures;
    const std::int64_t total = contentLength + startPosition;
    if (total > 0) {
        const double percent = std::round(double(startPosition + downloaded) * 100.0 / double(total));
        figures.PercentsDone = static_cast<std::uint8_t>(std::clamp(percent, 0.0, 100.0));
    }
    figures.ElapsedTime = elapsedMs / 1000;
    // Without an announced size there is nothing to estimate from.
    if (contentLength > 0 && downloaded > 0) {
        const double whole = std::round(double(contentLength) / double(downloaded) * double(figures.ElapsedTime));
        figures.EstimatedTimeLeft = std::max<std::int64_t>(0, static_cast<std::int64_t>(whole) - figures.ElapsedTime);
    }
    const double kilobytes = double(downloaded) / 1024.0;
    figures.TransferRate =
        static_cast<float>(figures.ElapsedTime == 0 ? kilobytes : kilobytes / double(figures.ElapsedTime));
    return figures;
}

std::string_view StatusCodeText(int code) {
    switch (code) {
    case 10:
        return "Resolving name";
    case 11:
        return "Name resolved";
    case 20:
        return "Connecting to server";
    case 21:
        return "Connected";
    case 30:
        return "Sending Request";
    case 31:
        return "Request sent";
    case 40:
        return "Receiving response";
    case 41:
        return "Response received";
    case 42:
        return "CTL Response received";
    case 43:
        return "Prefetch";
    case 50:
        return "Closing connection";
    case 51:
        return "Connection closed";
    case 60:
        return "Handle created";
    case 70:
        return "Handle closing";
    case 100:
        return "Request complete";
    case 110:
        return "Redirect";
    case 120:
        return "Intermediate response";
    case 200:
        return "State change";
    default:
        return "Unknown status";
    }
}

} // namespace qarvia::update
