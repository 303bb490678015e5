#pragma once

// Reading the update information file published beside the update files: entries "#key=value" (the value
// ends before the first control byte) and the braced "#message={...}" entry, anywhere in the text.

#include <string>
#include <string_view>
#include <vector>

namespace qarvia::update {

enum class TsuUpgradeMethod { umSelfUpgrade, umUseExternalSetup, umRedirectToURL };

// The value of `key` (lower-case) in `fileText`, or "" when absent. The first occurrence of "#key=" (with
// "{" when `braced`) anywhere in the text wins, matched without regard to ASCII letter case; the value is
// taken from the original bytes, cut at the first byte below 0x20 (plain) or the first "}" (braced), and
// nothing is trimmed.
std::string ReadInfoValue(std::string_view fileText, std::string_view key, bool braced = false);

// The URLs to download: "url", then "url0", then "url<N+1>", "url<N+2>", ... until the first empty one,
// where N is the number of URLs found so far.
std::vector<std::string> ReadUpdateFiles(std::string_view fileText);

// 1 when the "method" value starts with "1", 2 when it starts with "2", else 0.
int ReadUpgradeMethodDigit(std::string_view fileText);
TsuUpgradeMethod UpgradeMethodFromDigit(int digit);

} // namespace qarvia::update
