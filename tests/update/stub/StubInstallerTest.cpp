#include "update/stub/StubInstaller.h"

#include "update/stub/InstallJournal.h"

#include "StubTestSupport.h"

#include <gtest/gtest.h>

using namespace qarvia::stub;
using namespace qarvia::stub::test;
namespace fs = std::filesystem;

TEST(StubArguments, ReadsBothForms) {
    struct Case {
        std::vector<std::string> args;
        std::string program;
        std::string params;
        bool external;
    };
    const Case cases[] = {
        {{"/opt/q/qarvia-toolbox", "+/afterupgrade0"}, "/opt/q/qarvia-toolbox", "/afterupgrade", false},
        {{"/opt/q/qarvia-toolbox", "+/afterupgrade1"}, "/opt/q/qarvia-toolbox", "/afterupgrade", true},
        // The application's form keeps "+" and runs of blanks inside the path.
        {{"/opt/a+b/my  app", "+/afterupgrade0"}, "/opt/a+b/my  app", "/afterupgrade", false},
        // A hand-typed line split at blanks is joined again with single blanks.
        {{"/opt/My", "Games/app", "+/afterupgrade1"}, "/opt/My Games/app", "/afterupgrade", true},
        {{"/opt/q/app", "+", "/x0"}, "/opt/q/app", " /x", false},
        {{"/opt/q/app"}, "/opt/q/app", "", false},
        {{"/opt/q/app", "+"}, "/opt/q/app", "", false},
        {{"/opt/q/app", "+ 0"}, "/opt/q/app", " ", false},
    };
    for (const auto& c : cases) {
        const auto request = parseStubArguments(c.args);
        ASSERT_TRUE(request) << c.program;
        EXPECT_EQ(request->program, c.program);
        EXPECT_EQ(request->params, c.params) << c.program;
        EXPECT_EQ(request->external, c.external) << c.program;
    }
    EXPECT_FALSE(parseStubArguments({}));
    EXPECT_FALSE(parseStubArguments({"+/afterupgrade0"}));
}

TEST(StubArguments, ApplicationFormRoundTrips) {
    const auto request = parseStubArguments(stubArguments("/home/u/My Games/q+t/app", " 1"));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->program, "/home/u/My Games/q+t/app");
    EXPECT_EQ(request->params, " ");
    EXPECT_TRUE(request->external);
}

struct InstallFixture : ::testing::Test {
    TempDir dir;
    fs::path program() const { return dir.path() / "qarvia-toolbox"; }
    StubRequest request(bool external = false) const { return {program().string(), "/afterupgrade", external, {}}; }
    void SetUp() override {
        writeFile(program(), "old program");
        fs::permissions(program(), fs::perms::owner_all);
        writeFile(dir.path() / "data.rar", "old data");
    }
};

TEST_F(InstallFixture, MovesEveryDownloadAndLeavesTheProgramWhenNoneIsAProgram) {
    writeFile(dir.path() / "data.rar.uTMP", "new data");
    writeFile(dir.path() / "readme.txt.UTMP", "readme");
    const auto result = installDownloads(request());
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(readFile(dir.path() / "data.rar"), "new data");
    EXPECT_EQ(readFile(dir.path() / "readme.txt"), "readme");
    EXPECT_EQ(readFile(program()), "old program");
    EXPECT_EQ(result.installed.size(), 2u);
    EXPECT_FALSE(result.setupProgram);
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().string().find(".u"), std::string::npos) << entry.path();
}

TEST_F(InstallFixture, ProgramImageRules) {
    struct Case {
        std::vector<std::pair<std::string, std::string>> downloads;
        bool external;
        std::string programAfter;
        std::string setupName; // empty: none
        std::vector<std::pair<std::string, std::string>> placed;
    };
    const Case cases[] = {
        // A downloaded "...exe" replaces the running program whatever its name, and only the first does.
        {{{"new-build.exe.uTMP", "v2"}, {"tool.exe.uTMP", "tool"}}, false, "v2", "", {{"tool.exe", "tool"}}},
        // A download under the program's own name wins; an "exe" file is then an ordinary file.
        {{{"qarvia-toolbox.uTMP", "v3"}, {"helper.exe.uTMP", "h"}}, false, "v3", "", {{"helper.exe", "h"}}},
        // The external method keeps the program and marks the setup program to run.
        {{{"setup.exe.uTMP", "setup"}}, true, "old program", "setup.exe", {{"setup.exe", "setup"}}},
        // "EXE" in capitals is not the program image.
        {{{"SETUP.EXE.uTMP", "s"}}, false, "old program", "", {{"SETUP.EXE", "s"}}},
    };
    for (const auto& c : cases) {
        SetUp();
        for (const auto& [name, content] : c.downloads)
            writeFile(dir.path() / name, content);
        const auto result = installDownloads(request(c.external));
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(readFile(program()), c.programAfter);
        EXPECT_TRUE(isExecutable(program()));
        if (c.setupName.empty()) {
            EXPECT_FALSE(result.setupProgram);
        } else {
            ASSERT_TRUE(result.setupProgram);
            EXPECT_EQ(*result.setupProgram, dir.path() / c.setupName);
            EXPECT_TRUE(isExecutable(*result.setupProgram));
        }
        for (const auto& [name, content] : c.placed)
            EXPECT_EQ(readFile(dir.path() / name), content) << name;
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            EXPECT_EQ(entry.path().string().find(".uTMP"), std::string::npos) << entry.path();
            fs::remove(entry.path());
        }
    }
}

TEST_F(InstallFixture, FailedReplacementPutsEverythingBack) {
    writeFile(dir.path() / "a.txt", "old a");
    writeFile(dir.path() / "a.txt.uTMP", "new a");
    writeFile(dir.path() / "data.rar.uTMP", "new data");
    writeFile(dir.path() / "z.exe.uTMP", "new program");

    // The third rename (the program) fails after two files were already in place.
    FileOps ops = FileOps::system();
    int renames = 0;
    auto realRename = ops.rename;
    ops.rename = [&](const fs::path& from, const fs::path& to, std::error_code& ec) {
        if (++renames == 3) {
            ec = std::make_error_code(std::errc::device_or_resource_busy);
            return false;
        }
        return realRename(from, to, ec);
    };
    const auto result = installDownloads(request(), ops);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("qarvia-toolbox"), std::string::npos) << result.error;
    EXPECT_EQ(readFile(dir.path() / "a.txt"), "old a");
    EXPECT_EQ(readFile(dir.path() / "data.rar"), "old data");
    EXPECT_EQ(readFile(program()), "old program");
    EXPECT_EQ(readFile(dir.path() / "a.txt.uTMP"), "new a");
    EXPECT_EQ(readFile(dir.path() / "data.rar.uTMP"), "new data");
    EXPECT_EQ(readFile(dir.path() / "z.exe.uTMP"), "new program");
    EXPECT_FALSE(fs::exists(dir.path() / "a.txt.uOLD"));
    EXPECT_FALSE(fs::exists(dir.path() / "qarvia-toolbox.uOLD"));
    // The journal stays, so the program started next tells the user; there is nothing left to undo.
    EXPECT_EQ(recoverInstall(program()).outcome, RecoveryOutcome::RolledBack);
    EXPECT_EQ(readFile(dir.path() / "a.txt"), "old a");
    EXPECT_FALSE(fs::exists(journalPathFor(program())));
}

TEST_F(InstallFixture, TargetThatIsNotAFileIsRefusedAndRolledBack) {
    writeFile(dir.path() / "data.rar.uTMP", "new data");
    writeFile(dir.path() / "plugins" / "inside", "x");
    writeFile(dir.path() / "plugins.uTMP", "a file where a folder is");
    const auto result = installDownloads(request());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(readFile(dir.path() / "data.rar"), "old data");
    EXPECT_EQ(readFile(dir.path() / "data.rar.uTMP"), "new data");
    EXPECT_EQ(readFile(dir.path() / "plugins" / "inside"), "x");
    EXPECT_TRUE(fs::exists(dir.path() / "plugins.uTMP"));
}

TEST(StubArguments, ProgramOptionsTravelBehindTheParameterText) {
    const std::vector<std::string> options = {"--update-url", "http://127.0.0.1:8000/upt.inf", "--rank-url", "a b+c"};
    const auto args = stubArguments("/opt/q/app", "/afterupgrade0", options);
    const auto request = parseStubArguments(args);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->program, "/opt/q/app");
    EXPECT_EQ(request->params, "/afterupgrade");
    EXPECT_EQ(request->passOn, options);
    // Without options the application's form is the two arguments it always was.
    EXPECT_EQ(stubArguments("/opt/q/app", "/afterupgrade0").size(), 2u);
}

TEST(InstallJournalText, RoundTripsAnyPathAndRefusesAPartialOne) {
    JournalContent content;
    content.entries = {{"/a/b\tc.uTMP", "/a/b\tc", fs::path("/a/b\tc.uOLD")},
                       {"/a/50%\nnew.uTMP", "/a/50%\nnew", std::nullopt}};
    for (const bool committed : {false, true}) {
        content.committed = committed;
        const std::string text = formatJournal(content);
        const auto back = parseJournal(text);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->entries, content.entries);
        EXPECT_EQ(back->committed, committed);
        // A plan cut anywhere before its end is no plan; a commit line cut short is no commit.
        for (std::size_t cut = 0; cut < text.find("\nend\n") + 5; ++cut)
            EXPECT_FALSE(parseJournal(text.substr(0, cut))) << cut;
        if (committed) {
            EXPECT_FALSE(parseJournal(text.substr(0, text.size() - 3))->committed);
        }
    }
    EXPECT_FALSE(parseJournal("qarvia-install-journal 1\n/a.uTMP\t/a\nend\n"));
    EXPECT_FALSE(parseJournal("qarvia-install-journal 1\n/a%4.uTMP\t/a\t\nend\n"));
}

namespace {

struct Stopped {};

// Three files: one replacing an old file, one new, and the program itself.
struct InterruptedInstall : InstallFixture {
    void SetUp() override {
        InstallFixture::SetUp();
        writeFile(dir.path() / "data.rar.uTMP", "new data");
        writeFile(dir.path() / "new.txt.uTMP", "new text");
        writeFile(dir.path() / "qarvia-toolbox.uTMP", "new program");
    }
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            const std::string name = entry.path().filename().string();
            if (name.find(".uOLD") != std::string::npos || name.find(".uJOURNAL") != std::string::npos)
                names.push_back(name);
        }
        return names;
    }
    void expectOld() const {
        EXPECT_EQ(readFile(program()), "old program");
        EXPECT_EQ(readFile(dir.path() / "data.rar"), "old data");
        EXPECT_FALSE(fs::exists(dir.path() / "new.txt"));
        EXPECT_EQ(readFile(dir.path() / "data.rar.uTMP"), "new data");
        EXPECT_EQ(readFile(dir.path() / "new.txt.uTMP"), "new text");
        EXPECT_EQ(readFile(dir.path() / "qarvia-toolbox.uTMP"), "new program");
    }
    void expectNew() const {
        EXPECT_EQ(readFile(program()), "new program");
        EXPECT_EQ(readFile(dir.path() / "data.rar"), "new data");
        EXPECT_EQ(readFile(dir.path() / "new.txt"), "new text");
        EXPECT_FALSE(fs::exists(dir.path() / "data.rar.uTMP"));
    }
};

} // namespace

// An installation killed between any two steps used to leave new and old files mixed and ".uOLD" copies
// that nothing put back; the next start now finishes it one way or the other.
TEST_F(InterruptedInstall, StoppedAfterEveryStepIsFinishedByTheNextStart) {
    // journal, data kept, data placed, new.txt placed, program kept, program placed, commit, 2 kept removed,
    // journal removed
    constexpr int Steps = 10;
    constexpr int Commit = 7;
    for (int stopAfter = 1; stopAfter <= Steps; ++stopAfter) {
        SCOPED_TRACE(stopAfter);
        if (stopAfter > 1) {
            for (const auto& entry : fs::directory_iterator(dir.path()))
                fs::remove(entry.path());
            SetUp();
        }
        FileOps ops = FileOps::system();
        int steps = 0;
        ops.stepDone = [&] {
            if (++steps == stopAfter)
                throw Stopped{};
        };
        EXPECT_THROW(installDownloads(request(), ops), Stopped);
        const Recovery recovery = recoverInstall(program());
        EXPECT_TRUE(recovery.error.empty()) << recovery.error;
        if (stopAfter < Commit) {
            EXPECT_EQ(recovery.outcome, RecoveryOutcome::RolledBack);
            expectOld();
        } else {
            EXPECT_EQ(recovery.outcome, stopAfter == Steps ? RecoveryOutcome::NoJournal : RecoveryOutcome::Completed);
            expectNew();
        }
        EXPECT_TRUE(leftovers().empty());
        EXPECT_EQ(recoverInstall(program()).outcome, RecoveryOutcome::NoJournal); // told once
    }
}

TEST_F(InterruptedInstall, StoppedDuringTheCopyOfAnOldFile) {
    FileOps ops = FileOps::system();
    ops.backup = [](const fs::path& from, const fs::path& to, std::error_code&) -> bool {
        const std::string content = readFile(from);
        writeFile(to, content.substr(0, content.size() / 2));
        throw Stopped{};
    };
    EXPECT_THROW(installDownloads(request(), ops), Stopped);
    EXPECT_TRUE(fs::exists(dir.path() / "data.rar.uOLD"));
    EXPECT_EQ(recoverInstall(program()).outcome, RecoveryOutcome::RolledBack);
    expectOld();
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(InterruptedInstall, RunningInstallationIsLeftAlone) {
    std::string error;
    auto journal = InstallJournal::begin(program(), {{dir.path() / "data.rar.uTMP", dir.path() / "data.rar", {}}}, error);
    ASSERT_TRUE(journal) << error;
    EXPECT_EQ(recoverInstall(program()).outcome, RecoveryOutcome::InProgress);
    EXPECT_TRUE(fs::exists(journalPathFor(program())));
    journal.reset(); // the stub died: its lock went with it
    EXPECT_EQ(recoverInstall(program()).outcome, RecoveryOutcome::RolledBack);
    expectOld();
    // Killed while writing its plan: nothing was touched, and the unfinished plan goes.
    writeFile(journalPathFor(program()).string() + ".new", "qarvia-install-journal 1\n");
    EXPECT_EQ(recoverInstall(program()).outcome, RecoveryOutcome::NoJournal);
    EXPECT_TRUE(leftovers().empty());
}
