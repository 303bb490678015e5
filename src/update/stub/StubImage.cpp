#include "update/stub/StubImage.h"

#include <fstream>
#include <system_error>

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
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::remove(path, ec); // a running or read-only old copy is unlinked rather than overwritten
    const auto image = stubImage();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        out.close();
        if (!out) {
            if (error)
                *error = "cannot write " + path.string();
            fs::remove(path, ec);
            return false;
        }
    }
    fs::permissions(path,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                        fs::perms::others_exec,
                    ec);
    if (ec) {
        if (error)
            *error = "cannot make " + path.string() + " executable: " + ec.message();
        fs::remove(path, ec);
        return false;
    }
    return true;
}

} // namespace qarvia::stub
