#include "update/stub/StubImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

// The stub executable is pulled in byte for byte by the assembler; QARVIA_STUB_FILE names it.
asm(".section .rodata\n"
    ".balign 16\n"
    "qarviaStubImageBegin:\n"
    ".incbin \"" QARVIA_STUB_FILE "\"\n"
    "qarviaStubImageEnd:\n"
    ".byte 0\n"
    ".previous\n");

extern "C" const unsigned char qarviaStubImageBegin[] asm("qarviaStubImageBegin");
extern "C" const unsigned char qarviaStubImageEnd[] asm("qarviaStubImageEnd");

namespace qarvia::stub {

std::span<const unsigned char> stubImage() {
    return {qarviaStubImageBegin, static_cast<std::size_t>(qarviaStubImageEnd - qarviaStubImageBegin)};
}

bool writeStubImage(const std::filesystem::path& path, std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error)
            *error = what + " " + path.string() + ": " + std::strerror(errno);
        return false;
    };
    // An old copy is unlinked, never written through: in a shared temporary folder the name could be a
    // link someone else placed. The new file is created afresh and only by us.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return fail("cannot remove");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0755);
    if (fd < 0)
        return fail("cannot create");
    const auto image = stubImage();
    std::size_t written = 0;
    while (written < image.size()) {
        const ssize_t n = ::write(fd, image.data() + written, image.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int saved = errno;
            ::close(fd);
            ::unlink(path.c_str());
            errno = saved;
            return fail("cannot write");
        }
        written += static_cast<std::size_t>(n);
    }
    // The umask may have taken execute bits away; the stub must be runnable by its owner at least.
    ::fchmod(fd, 0755);
    if (::close(fd) != 0) {
        ::unlink(path.c_str());
        return fail("cannot write");
    }
    return true;
}

} // namespace qarvia::stub
