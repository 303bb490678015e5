// The stub executable as the application starts it: real processes, real files.

#include "update/stub/StubImage.h"
#include "update/stub/StubInstaller.h"

#include "StubTestSupport.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <thread>

using namespace qarvia::stub;
using namespace qarvia::stub::test;
namespace fs = std::filesystem;

namespace {

// A program that records how it was started in "mark" beside itself.
std::string markingScript(const std::string& tag) {
    return "#!/bin/sh\nd=$(dirname \"$0\")\necho \"" + tag +
           ":$1\" > \"$d/mark.tmp\" && mv \"$d/mark.tmp\" \"$d/mark\"\n";
}

void writeProgram(const fs::path& path, const std::string& content) {
    writeFile(path, content);
    fs::permissions(path, fs::perms::owner_all);
}

std::string waitForFile(const fs::path& path) {
    for (int i = 0; i < 1000 && !fs::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return readFile(path);
}

int runShell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(StubImage, CarriesTheBuiltStubAndWritesItRunnable) {
    const auto image = stubImage();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data()), image.size()), readFile(QARVIA_STUB_PROGRAM));
    TempDir dir;
    const fs::path path = dir.path() / "stub";
    writeFile(path, "an older, longer stub left behind by a previous run");
    ASSERT_TRUE(writeStubImage(path));
    EXPECT_EQ(fs::file_size(path), image.size());
    EXPECT_TRUE(isExecutable(path));
    EXPECT_EQ(runShell("\"" + path.string() + "\" > \"" + (dir.path() / "about").string() + "\""), 0);
    EXPECT_NE(readFile(dir.path() / "about").find("usage"), std::string::npos);
    EXPECT_FALSE(writeStubImage(dir.path() / "missing-folder" / "stub"));
}

TEST(StubProcess, WaitsForTheApplicationThenReplacesAndRestarts) {
    TempDir dir;
    const fs::path appDir = dir.path() / "My Games" / "q+t";
    const fs::path program = appDir / "qarvia-toolbox";
    writeProgram(program, markingScript("old"));
    writeFile(appDir / "qarvia-toolbox.uTMP", markingScript("new"));
    writeFile(appDir / "data.rar.uTMP", "new data");

    // The "application" starts the stub, stays alive a little, and records the program file as it is when
    // it ends: the stub must not have touched it by then.
    setenv("STUB", QARVIA_STUB_PROGRAM, 1);
    setenv("PROG", program.c_str(), 1);
    const std::string seen = (dir.path() / "seen").string();
    setenv("SEEN", seen.c_str(), 1);
    ASSERT_EQ(runShell("QARVIA_UPDATE_PARENT_PID=$$ \"$STUB\" \"$PROG\" +/afterupgrade0 & sleep 0.3; "
                       "cat \"$PROG\" > \"$SEEN\"; exit 0"),
              0);
    EXPECT_EQ(waitForFile(appDir / "mark"), "new:/afterupgrade\n");
    EXPECT_EQ(readFile(seen), markingScript("old"));
    EXPECT_EQ(readFile(appDir / "data.rar"), "new data");
    EXPECT_FALSE(fs::exists(appDir / "qarvia-toolbox.uTMP"));
}

TEST(StubProcess, ExternalSetupRunsBeforeTheRestart) {
    TempDir dir;
    const fs::path program = dir.path() / "qarvia-toolbox";
    writeProgram(program, markingScript("old"));
    writeFile(dir.path() / "setup.exe.uTMP",
              "#!/bin/sh\nsleep 0.2\necho \"setup:$1\" > \"$(dirname \"$0\")/setup-ran\"\n");
    EXPECT_EQ(runShell("\"" QARVIA_STUB_PROGRAM "\" \"" + program.string() + "\" +/afterupgrade1"), 0);
    EXPECT_EQ(readFile(dir.path() / "setup-ran"), "setup:/afterupgrade\n");
    EXPECT_EQ(waitForFile(dir.path() / "mark"), "old:/afterupgrade\n");
    EXPECT_FALSE(fs::exists(dir.path() / "setup.exe"));
}

TEST(StubProcess, FailedInstallKeepsTheOldProgramAndStartsIt) {
    TempDir dir;
    const fs::path program = dir.path() / "qarvia-toolbox";
    writeProgram(program, markingScript("old"));
    writeFile(dir.path() / "a.txt", "old a");
    writeFile(dir.path() / "a.txt.uTMP", "new a");
    writeFile(dir.path() / "new.exe.uTMP", markingScript("new"));
    writeFile(dir.path() / "zz" / "keep", "folder");
    writeFile(dir.path() / "zz.uTMP", "cannot replace a folder");
    EXPECT_EQ(runShell("\"" QARVIA_STUB_PROGRAM "\" \"" + program.string() + "\" +/afterupgrade0 2>/dev/null"), 2);
    EXPECT_EQ(waitForFile(dir.path() / "mark"), "old:\n");
    EXPECT_EQ(readFile(program), markingScript("old"));
    EXPECT_EQ(readFile(dir.path() / "a.txt"), "old a");
    EXPECT_TRUE(fs::exists(dir.path() / "new.exe.uTMP"));
    EXPECT_TRUE(fs::exists(dir.path() / "a.txt.uTMP"));
}

TEST(StubProcess, WaitForProcessExit) {
    const pid_t child = startProgram("/bin/sleep", {"0.2"});
    ASSERT_GT(child, 0);
    EXPECT_FALSE(waitForProcessExit(child, std::chrono::milliseconds(20)));
    EXPECT_TRUE(waitForProcessExit(child, std::chrono::seconds(10)));
    waitpid(child, nullptr, 0);
    std::string error;
    EXPECT_LT(startProgram("/nonexistent/program", {}, &error), 0);
    EXPECT_NE(error.find("/nonexistent/program"), std::string::npos);
}
