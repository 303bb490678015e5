#pragma once

// The file attributes the update component gives its downloads, mapped onto this system. Only
// `atrReadOnly` has a meaning here (the write bits of the file mode); archive, hidden, system, temporary
// and offline have none on Linux and are no-ops, in this one place, for every caller.

#include "update/TsuSet.h"

#include <string>

namespace qarvia::update {

enum class TsuFileAttribute { atrArchive, atrHidden, atrReadOnly, atrSystem, atrTemporary, atrOffline };
using TsuFileAttributes = TsuSet<TsuFileAttribute>;

// The attributes of an existing file ({} when it does not exist).
TsuFileAttributes ReadFileAttributes(const std::string& path);

// Gives an existing file `attributes`; false when the file system refused. Read-only clears every write bit;
// without it a file that has no write bit at all gets the owner's write bit back.
bool ApplyFileAttributes(const std::string& path, TsuFileAttributes attributes);
// The same on an open file descriptor.
bool ApplyFileAttributes(int fd, TsuFileAttributes attributes);

// True for the attributes that stand in the way of opening a file for writing (read-only; hidden on systems
// that have it), which the transfer clears for the opening and restores after.
bool BlocksWriting(TsuFileAttributes attributes);

} // namespace qarvia::update
