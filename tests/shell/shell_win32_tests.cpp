// The shell's execute operation on Windows, for real: a batch file (a type every Windows and
// wine runs) started with parameters and a working folder, in a folder named beyond ASCII.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/file_mapping.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/temp.h"

namespace nimbrel::platform {
namespace {

// Waits for the file the started program writes when it is done.
bool WaitForFile(const std::string& path) {
    for (int i = 0; i < 600 && !FileExists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return FileExists(path);
}

std::string WithoutLineEnds(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

TEST(WindowsShell, HandsTheRequestToTheShellAsItStands) {
    // No command line of our own: the shell chooses the program.
    EXPECT_TRUE(
        ShellCommandLine({std::nullopt, "C:\\Saves\\Lake.scr", std::string("/s"), std::nullopt}, "").empty());
    EXPECT_TRUE(ShellCommandLine({std::nullopt, "rundll32.exe",
                                  std::string("desk.cpl,InstallScreenSaver C:\\a b.scr"), std::nullopt},
                                 "wine")
                    .empty());
}

TEST(WindowsShell, RunsABatchFileWithItsParametersInTheGivenFolder) {
    SetShellRecording(false);
    TempDirectory dir;
    // "Fotos Müller" holds the program; "Arbeit" is the folder it is started in.
    std::string folder = dir.File(GetACP() == 1252 ? "Fotos M\xFCller" : "Fotos Mueller");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    std::string work = dir.File("Arbeit");
    ASSERT_TRUE(CreateDirectoryA(work.c_str(), nullptr));
    std::string batch = folder + "\\record.bat";
    std::ofstream(batch, std::ios::binary) << "@echo off\r\n"
                                              "echo %~1>\"%~dp0args.part\"\r\n"
                                              "cd>>\"%~dp0args.part\"\r\n"
                                              "move \"%~dp0args.part\" \"%~dp0args.txt\" >nul\r\n";
    ExecuteShell({std::nullopt, batch, std::string("\"/s\""), work});
    ASSERT_TRUE(WaitForFile(folder + "\\args.txt")) << "the batch file did not run";
    std::string report = ReadWholeFile(folder + "\\args.txt");
    std::size_t split = report.find('\n');
    ASSERT_NE(split, std::string::npos) << report;
    EXPECT_EQ(WithoutLineEnds(report.substr(0, split)), "/s");
    // The working folder, as the batch file's "cd" prints it.
    std::string shownFolder = WithoutLineEnds(report.substr(split + 1));
    EXPECT_EQ(CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, shownFolder.c_str(), -1, work.c_str(), -1),
              CSTR_EQUAL)
        << shownFolder << " / " << work;
}

TEST(WindowsShell, RecordingRunsNothing) {
    TempDirectory dir;
    std::string batch = dir.File("record.bat");
    std::ofstream(batch, std::ios::binary) << "@echo ran>\"%~dp0ran.txt\"\r\n";
    SetShellRecording(true);
    ClearRecordedShellCalls();
    ExecuteShell({std::nullopt, batch, std::nullopt, std::nullopt});
    SetShellRecording(false);
    ASSERT_EQ(RecordedShellCalls().size(), 1u);
    EXPECT_EQ(RecordedShellCalls()[0].file, batch);
    ClearRecordedShellCalls();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(FileExists(dir.File("ran.txt")));
}

}  // namespace
}  // namespace nimbrel::platform
