#pragma once
// The process-wide paths the build works with: where the temporary archive is written, where
// the two players lie, and the screensaver the last build wrote.

#include <string>

namespace nimbrel::pipeline {

struct WorkingPaths {
    std::string tempArchivePath;  // the temporary directory followed directly by "temp.cab"
    std::string stubPath;         // the program's directory followed by "stub.bin"
    std::string flashStubPath;    // the program's directory followed by "flash.bin"
    std::string outputPath;       // empty until a build sets it
};

// The paths for a temporary directory and a program directory as the system reports them (both
// with their trailing separator). An empty temporary directory leaves the bare name "temp.cab",
// which then lies in the current directory.
WorkingPaths ComputeWorkingPaths(const std::string& tempDirectory, const std::string& executableDirectory);

// Fixes the process-wide paths from the running system. Only the first call computes them; later
// calls keep them, so they never change during a run.
void InitWorkingPaths();

// The process-wide paths (computed on first use when InitWorkingPaths has not run yet).
const std::string& TempArchivePath();
const std::string& StubPath();
const std::string& FlashStubPath();
const std::string& OutputPath();
// Each build names the screensaver it writes here.
void SetOutputPath(const std::string& path);

}  // namespace nimbrel::pipeline
