#include "pipeline/working_paths.h"

#include "platform/paths.h"

namespace nimbrel::pipeline {

WorkingPaths ComputeWorkingPaths(const std::string& tempDirectory, const std::string& executableDirectory) {
    WorkingPaths paths;
    // The temporary directory already ends in a separator; nothing is added or tested.
    paths.tempArchivePath = tempDirectory + "temp.cab";
    paths.stubPath = executableDirectory + "stub.bin";
    paths.flashStubPath = executableDirectory + "flash.bin";
    return paths;
}

namespace {

WorkingPaths& ProcessPaths() {
    static WorkingPaths paths =
        ComputeWorkingPaths(platform::GetTempDirectory(), platform::ExecutableDirectory());
    return paths;
}

}  // namespace

void InitWorkingPaths() {
    ProcessPaths();
}

const std::string& TempArchivePath() {
    return ProcessPaths().tempArchivePath;
}
const std::string& StubPath() {
    return ProcessPaths().stubPath;
}
const std::string& FlashStubPath() {
    return ProcessPaths().flashStubPath;
}
const std::string& OutputPath() {
    return ProcessPaths().outputPath;
}
void SetOutputPath(const std::string& path) {
    ProcessPaths().outputPath = path;
}

}  // namespace nimbrel::pipeline
