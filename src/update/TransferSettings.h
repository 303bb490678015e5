#pragma once

// Settings and figures of the HTTP transfer component that need no Qt.

#include "update/FileAttributes.h"
#include "update/TsuSet.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace qarvia::update {

enum class TsuAccessType { atPreconfig, atDirect, atUseProxy };

struct TsuHTTPProxy {
    TsuAccessType AccessType = TsuAccessType::atPreconfig;
    int ProxyPort = 8080;
    std::string ProxyServer;
    std::string ProxyBypass = "127.0.0.1;";
    std::string ProxyUsername;
    std::string ProxyPassword;
};

enum class TsuInternetOption {
    ioIgnoreCertificateInvalid,
    ioIgnoreCertificateDateInvalid,
    ioIgnoreRedirectToHTTP,
    ioIgnoreRedirectToHTTPS,
    ioKeepConnection,
    ioNoAuthentication,
    ioNoAutoRedirect,
    ioNoCookies,
};
using TsuInternetOptions = TsuSet<TsuInternetOption>;

enum class TsuCacheOption {
    coAlwaysReload,
    coReloadIfNoExpireInformation,
    coReloadUpdatedObjects,
    coPragmaNoCache,
    coNoCacheWrite,
    coCreateTempFilesIfCantCache,
    coUseCacheIfNetFail,
};
using TsuCacheOptions = TsuSet<TsuCacheOption>;

inline constexpr TsuCacheOptions DefaultCacheOptions{TsuCacheOption::coReloadIfNoExpireInformation,
                                                     TsuCacheOption::coReloadUpdatedObjects,
                                                     TsuCacheOption::coCreateTempFilesIfCantCache};

enum class TsuThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// The scheduling "nice" value a worker of `priority` runs with (raising above normal may be refused by the
// system; the worker then keeps the normal value).
int NiceValueOf(TsuThreadPriority priority);

struct TsuHTTPRange {
    std::int64_t StartRange = 0;
    std::int64_t EndRange = 0;
};

// Milliseconds; 0 keeps the component's own limits (see TsuCustomHTTP).
struct TsuHTTPTimeouts {
    int ConnectTimeout = 0;
    int ReceiveTimeout = 0;
    int SendTimeout = 0;
};

struct TsuOutputFileAttributes {
    TsuFileAttributes Complete{TsuFileAttribute::atrArchive};
    TsuFileAttributes Incomplete{TsuFileAttribute::atrArchive, TsuFileAttribute::atrTemporary};
};

inline constexpr std::int64_t MinTransferBufferSize = 255;
inline constexpr std::int64_t MaxTransferBufferSize = 2147483647;

// The request header lines (each ending in "\r\n") that stand in for the cache flags: there is no local
// cache here, so only the flags that tell caches on the way to reload have an effect.
std::string CacheRequestHeaders(TsuCacheOptions options);

// The realm of a WWW-Authenticate value: the text after the first '="' up to the next '"' (the rest of
// the value when no '"' follows), the whole value when it has no '="', "" for an empty value.
std::string RealmFromAuthenticate(std::string_view value);

// Figures reported with each block.
struct TsuProgressFigures {
    std::uint8_t PercentsDone = 0;
    std::int64_t ElapsedTime = 0;       // seconds
    std::int64_t EstimatedTimeLeft = 0; // seconds
    float TransferRate = 0;             // KB/s
};
TsuProgressFigures ComputeProgress(std::int64_t startPosition, std::int64_t contentLength, std::int64_t downloaded,
                                   std::int64_t elapsedMs);

// The text of a status code of the transfer's status reports ("Resolving name", ...).
std::string_view StatusCodeText(int code);

} // namespace qarvia::update
