#pragma once

// Runs a test under a desktop locale the machine may not have installed: builds it with localedef (from
// the locale sources of Debian's `locales` package) into a temporary folder, points LOCPATH there and makes
// it the C library's locale, as Qt does with the desktop's locale at start-up. Header-only.
//
//     qarvia::test::ForeignLocale turkish("tr_TR", "ISO-8859-9");
//     ASSERT_TRUE(turkish.active()) << turkish.error();
//
// A machine that cannot build the locale fails the test (active() is false); nothing is skipped. The
// destructor goes back to the "C" locale and removes the folder.

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace qarvia::test {

class ForeignLocale {
public:
    ForeignLocale(const std::string& source, const std::string& charmap) {
        std::string pattern = (std::filesystem::temp_directory_path() / "qarvia-locale-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            problem = "no temporary folder";
            return;
        }
        folder = pattern;
        const std::string name = source + "." + charmap;
        // -c: a locale whose charmap lacks some of its characters is still written (with warnings).
        const std::string command = "localedef -c -i '" + source + "' -f '" + charmap + "' '" + folder + "/" + name +
                                    "' >'" + folder + "/localedef.log' 2>&1";
        int status = std::system(command.c_str());
        if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) > 1) {
            problem = "localedef failed (is the `locales` package installed?): " + command;
            return;
        }
        ::setenv("LOCPATH", folder.c_str(), 1);
        if (!std::setlocale(LC_ALL, name.c_str())) {
            problem = "setlocale(LC_ALL, \"" + name + "\") failed";
            return;
        }
        on = true;
    }

    ~ForeignLocale() {
        std::setlocale(LC_ALL, "C");
        ::unsetenv("LOCPATH");
        if (!folder.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        }
    }

    ForeignLocale(const ForeignLocale&) = delete;
    ForeignLocale& operator=(const ForeignLocale&) = delete;

    bool active() const { return on; }
    const std::string& error() const { return problem; }

private:
    std::string folder;
    std::string problem;
    bool on = false;
};

} // namespace qarvia::test
