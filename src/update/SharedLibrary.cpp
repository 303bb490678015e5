#include "update/SharedLibrary.h"

#include <dlfcn.h>

namespace qarvia::update {

SharedLibrary::SharedLibrary(const char* fileName) {
    // RTLD_LOCAL: its symbols serve only the lookups below, so nothing else in the process binds to them.
    handle_ = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        error_ = why != nullptr ? why : std::string(fileName) + ": cannot be opened";
    }
}

void* SharedLibrary::symbol(const char* name) {
    if (handle_ == nullptr)
        return nullptr;
    dlerror();
    void* address = dlsym(handle_, name);
    if (address == nullptr && error_.empty()) {
        const char* why = dlerror();
        error_ = why != nullptr ? why : std::string(name) + ": not found";
    }
    return address;
}

} // namespace qarvia::update
