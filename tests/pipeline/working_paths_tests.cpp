#include "pipeline/working_paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/paths.h"

namespace nimbrel::pipeline {
namespace {

TEST(WorkingPaths, ComputedFromTheReportedDirectories) {
    WorkingPaths paths = ComputeWorkingPaths("C:\\Temp\\", "D:\\Tools\\");
    EXPECT_EQ(paths.tempArchivePath, "C:\\Temp\\temp.cab");
    EXPECT_EQ(paths.stubPath, "D:\\Tools\\stub.bin");
    EXPECT_EQ(paths.flashStubPath, "D:\\Tools\\flash.bin");
    EXPECT_EQ(paths.outputPath, "");
}

TEST(WorkingPaths, UnknownTemporaryDirectoryGivesTheBareName) {
    EXPECT_EQ(ComputeWorkingPaths("", "/opt/nimbrel/").tempArchivePath, "temp.cab");
}

TEST(WorkingPaths, ProcessPathsFollowTheSystemAndStayFixed) {
    InitWorkingPaths();
    std::string exeDir = platform::ExecutableDirectory();
    EXPECT_EQ(StubPath(), exeDir + "stub.bin");
    EXPECT_EQ(FlashStubPath(), exeDir + "flash.bin");
    EXPECT_EQ(TempArchivePath(), platform::GetTempDirectory() + "temp.cab");
    EXPECT_EQ(OutputPath(), "");

    // Once fixed, a changed environment does not move them.
    std::string before = TempArchivePath();
#ifndef _WIN32
    ::setenv("TMPDIR", "/", 1);
#endif
    InitWorkingPaths();
    EXPECT_EQ(TempArchivePath(), before);

    SetOutputPath("/shows/holiday.scr");
    EXPECT_EQ(OutputPath(), "/shows/holiday.scr");
}

}  // namespace
}  // namespace nimbrel::pipeline
