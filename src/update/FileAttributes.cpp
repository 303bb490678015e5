#include "update/FileAttributes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qarvia::update {

namespace {

constexpr mode_t allWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

mode_t modeFor(mode_t current, TsuFileAttributes attributes) {
    // Archive, hidden, system, temporary and offline: nothing on this system.
    if (attributes.contains(TsuFileAttribute::atrReadOnly))
        return current & ~allWriteBits;
    if ((current & allWriteBits) == 0)
        return current | S_IWUSR;
    return current;
}

TsuFileAttributes attributesOf(const struct stat& info) {
    TsuFileAttributes attributes;
    if ((info.st_mode & S_IWUSR) == 0)
        attributes.insert(TsuFileAttribute::atrReadOnly);
    return attributes;
}

} // namespace

TsuFileAttributes ReadFileAttributes(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return {};
    return attributesOf(info);
}

bool ApplyFileAttributes(const std::string& path, TsuFileAttributes attributes) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return false;
    const mode_t wanted = modeFor(info.st_mode, attributes);
    return wanted == info.st_mode || chmod(path.c_str(), wanted & 07777) == 0;
}

bool ApplyFileAttributes(int fd, TsuFileAttributes attributes) {
    struct stat info {};
    if (fstat(fd, &info) != 0)
        return false;
    const mode_t wanted = modeFor(info.st_mode, attributes);
    return wanted == info.st_mode || fchmod(fd, wanted & 07777) == 0;
}

bool BlocksWriting(TsuFileAttributes attributes) {
    return attributes.contains(TsuFileAttribute::atrReadOnly);
}

} // namespace qarvia::update
