#pragma once

// The replacement stub's program image, carried inside the application and written out when an update is
// about to be installed.

#include <filesystem>
#include <span>
#include <string>

namespace qarvia::stub {

std::span<const unsigned char> stubImage();

// Writes the stub's bytes to `path` (replacing what is there) with execute bits. Returns false with a reason
// when the file cannot be written completely; a partly written file is removed.
bool writeStubImage(const std::filesystem::path& path, std::string* error = nullptr);

} // namespace qarvia::stub
