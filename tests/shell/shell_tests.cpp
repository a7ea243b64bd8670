// What the shell runs for each request, and a real start through a stand-in program.
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "platform/files.h"
#include "platform/shell.h"
#include "platform/temp.h"

namespace nimbrel::platform {
namespace {

TEST(ShellRecording, RecordsInsteadOfRunning) {
    SetShellRecording(true);
    ClearRecordedShellCalls();
    ShellCall test{std::nullopt, "/saves/Lake.scr", std::string("/s"), std::nullopt};
    ShellCall help{std::string(), "/opt/nimbrel/nimbrel.chm", std::string(), std::string()};
    ExecuteShell(test);
    ExecuteShell(help);
    ASSERT_EQ(RecordedShellCalls().size(), 2u);
    EXPECT_EQ(RecordedShellCalls()[0], test);
    EXPECT_EQ(RecordedShellCalls()[1], help);
    // A null argument and an empty one are different requests.
    EXPECT_FALSE(RecordedShellCalls()[0].directory.has_value());
    EXPECT_EQ(RecordedShellCalls()[1].directory, "");
    ClearRecordedShellCalls();
    EXPECT_TRUE(RecordedShellCalls().empty());
    SetShellRecording(false);
}

#ifndef _WIN32
class ShellCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* path = std::getenv("PATH");
        savedPath_ = path ? path : "";
    }
    void TearDown() override { setenv("PATH", savedPath_.c_str(), 1); }

    // A stand-in program on a PATH of its own that writes its arguments into `log`.
    void InstallProgram(const std::string& name, const std::string& log) {
        std::string program = dir_.File(name);
        std::ofstream(program) << "#!/bin/sh\nprintf '%s|' \"$@\" > '" << log << ".part'\nmv '" << log
                               << ".part' '" << log << "'\n";
        chmod(program.c_str(), 0755);
        setenv("PATH", (dir_.Path() + ":/usr/bin:/bin").c_str(), 1);
    }

    TempDirectory dir_;
    std::string savedPath_;
};

TEST_F(ShellCommandTest, WindowsProgramsRunUnderWineWhenItIsThere) {
    ShellCall test{std::nullopt, "/saves/My Lake.scr", std::string("/s"), std::nullopt};
    EXPECT_EQ(ShellCommandLine(test, "/usr/bin/wine"),
              (std::vector<std::string>{"/usr/bin/wine", "/saves/My Lake.scr", "/s"}));
    EXPECT_TRUE(ShellCommandLine(test, "").empty());  // no wine: nothing runs
    ShellCall program{std::nullopt, "/tools/SETUP.EXE", std::string("  -a   -b "), std::nullopt};
    EXPECT_EQ(ShellCommandLine(program, "wine"),
              (std::vector<std::string>{"wine", "/tools/SETUP.EXE", "-a", "-b"}));

    // The display control panel has no counterpart here.
    ShellCall install{std::nullopt, "rundll32.exe",
                      std::string("desk.cpl,InstallScreenSaver /saves/Lake.scr"), std::nullopt};
    ShellCall panel{std::nullopt, "RunDll32.exe", std::string("shell32.dll,Control_RunDLL desk.cpl,,1"),
                    std::nullopt};
    EXPECT_TRUE(ShellCommandLine(install, "wine").empty());
    EXPECT_TRUE(ShellCommandLine(panel, "wine").empty());
    EXPECT_TRUE(ShellCommandLine({std::nullopt, "", std::nullopt, std::nullopt}, "wine").empty());
}

TEST_F(ShellCommandTest, DocumentsAndAddressesOpenWithTheDesktop) {
    InstallProgram("xdg-open", dir_.File("log"));
    ShellCall site{std::string(), "https://www.tarnwick.example/", std::string(), std::string()};
    EXPECT_EQ(ShellCommandLine(site, ""), (std::vector<std::string>{dir_.File("xdg-open"), site.file}));
    setenv("PATH", "/nonexistent", 1);
    EXPECT_TRUE(ShellCommandLine(site, "").empty());  // no opener: nothing runs
}

TEST_F(ShellCommandTest, ExecuteStartsTheProgramWithItsArguments) {
    const std::string log = dir_.File("log");
    InstallProgram("xdg-open", log);
    SetShellRecording(false);
    ExecuteShell({std::string(), "/docs/help file.chm", std::string(), std::string()});
    // The program runs on its own; wait for its report.
    for (int i = 0; i < 500 && !FileExists(log); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(FileExists(log));
    EXPECT_EQ(ReadWholeFile(log), "/docs/help file.chm|");
}
#endif

}  // namespace
}  // namespace nimbrel::platform
