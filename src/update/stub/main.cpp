// qarvia-update-stub: puts a downloaded update of the Qarvia Toolbox in place once the toolbox has ended,
// then starts it again. The toolbox writes this program out and starts it; it is not meant to be run by hand.

#include "update/stub/StubInstaller.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const auto request = qarvia::stub::parseStubArguments(args);
    if (!request) {
        std::puts("Qarvia Toolbox update installer\n\n"
                  "Started by the toolbox after it downloaded an update: waits for the toolbox to end, puts the\n"
                  "downloaded files in place and starts the toolbox again.\n\n"
                  "usage: qarvia-update-stub PROGRAM +PARAMETERS");
        return 0;
    }
    qarvia::stub::RunOptions options;
    if (const char* parent = std::getenv(qarvia::stub::ParentPidVariable))
        options.expectedParent = static_cast<pid_t>(std::atol(parent));
    options.report = [](const std::string& text) { std::fprintf(stderr, "qarvia-update-stub: %s\n", text.c_str()); };
    return qarvia::stub::runStub(*request, options);
}
