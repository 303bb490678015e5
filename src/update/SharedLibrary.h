#pragma once

// A shared library the program opens when it first needs it instead of at start-up.
//
// The HTTP library and the cryptography library serve only the update check and transfers, which start after
// the window is on screen, or never. Linked, they and the dozen TLS, name and protocol libraries under them
// were loaded, relocated and initialised before the window could open. Opened here, they are looked up by
// their version-fixed file name (the one the program was built against) and kept for the rest of the process.

#include <string>

namespace qarvia::update {

class SharedLibrary {
public:
    // Opens the library by its file name, e.g. "libcurl.so.4". The handle is never closed.
    explicit SharedLibrary(const char* fileName);
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    bool isOpen() const { return handle_ != nullptr; }
    // Why it could not be opened, or which function it lacked.
    const std::string& error() const { return error_; }

    // Points `function` at the library's (or a library it uses) function `name`; false, with error() set,
    // when it has none or the library could not be opened (error() then keeps why).
    template <typename F> bool bind(F& function, const char* name) {
        function = reinterpret_cast<F>(symbol(name));
        return function != nullptr;
    }

private:
    void* symbol(const char* name);
    void* handle_ = nullptr;
    std::string error_;
};

} // namespace qarvia::update
