#include "setup_harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

namespace nimbrel::testing {

namespace {

namespace fs = std::filesystem;

// A Windows path as `reg export` writes it: every backslash doubled.
std::string Exported(const std::string& path) {
    std::string text;
    for (char c : path) text += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return text;
}

constexpr const char* kDesktop = "HKCU\\Control Panel\\Desktop";

std::string EntryKey(const std::string& name) {
    return "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Nimbrel Screensaver " + name;
}

}  // namespace

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

int SetupHarness::RunToEnd(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& errors) {
    pid_t process = session_.Start(program, arguments, errors);
    std::optional<int> code = session_.Wait(process, 90);
    // Wine is ended only when the program hangs: the uninstaller leaves a process behind that
    // removes its folder once it has ended.
    if (!code) session_.Stop(process);
    return code.value_or(-1);
}

std::string SetupHarness::ExportKey(const std::string& key) {
    const std::string file = work_ + "/export.reg";
    fs::remove(file);
    RunToEnd("reg", {"export", key, "Z:" + file, "/y"});
    std::string text;
    for (char c : ReadFile(file))
        if (c != '\0') text += c;
    return text;
}

void SetupHarness::SetPreviousScreenSaver(const std::string& value) {
    RunToEnd("reg", {"add", kDesktop, "/v", "SCRNSAVE.EXE", "/d", value, "/f"});
}

std::string SetupHarness::InstallFolder(const std::string& name) {
    for (const auto& user : fs::directory_iterator(session_.Prefix() + "/drive_c/users")) {
        const fs::path folder = user.path() / "AppData/Local/Programs" / name;
        if (fs::exists(user.path() / "AppData/Local")) return folder.string();
    }
    return {};
}

void SetupHarness::ExpectInstalled(const std::string& name, const std::string& screensaver,
                                   const std::string& publisher, const std::string& previous) {
    const std::string folder = InstallFolder(name);
    ASSERT_FALSE(folder.empty());
    const std::string file = fs::path(screensaver).filename().string();
    EXPECT_EQ(ReadFile(folder + "/" + file), ReadFile(screensaver)) << file << " was not installed";
    EXPECT_TRUE(fs::exists(folder + "/uninstall.exe"));
    const std::string desktop = ExportKey(kDesktop);
    EXPECT_NE(desktop.find("\"SCRNSAVE.EXE\"=\"C:\\\\users\\\\"), std::string::npos) << desktop;
    EXPECT_NE(desktop.find(Exported("\\AppData\\Local\\Programs\\" + name + "\\" + file + "\"")),
              std::string::npos)
        << desktop;
    EXPECT_NE(desktop.find("\"ScreenSaveActive\"=\"1\""), std::string::npos) << desktop;
    const std::string entry = ExportKey(EntryKey(name));
    EXPECT_NE(entry.find("\"DisplayName\"=\"" + name + "\""), std::string::npos) << entry;
    EXPECT_NE(entry.find("\"Publisher\"=\"" + publisher + "\""), std::string::npos) << entry;
    EXPECT_NE(entry.find("\"DisplayIcon\"="), std::string::npos) << entry;
    EXPECT_NE(entry.find("\"EstimatedSize\"=dword:"), std::string::npos) << entry;
    EXPECT_NE(entry.find("uninstall.exe\\\" /uninstall\""), std::string::npos) << entry;
    EXPECT_NE(entry.find(Exported(previous)), std::string::npos)
        << "the previous screensaver was not remembered";
}

void SetupHarness::UninstallAndExpectNoTrace(const std::string& name, const std::string& previous) {
    const std::string folder = InstallFolder(name);
    ASSERT_FALSE(folder.empty());
    ASSERT_EQ(RunToEnd(folder + "/uninstall.exe", {"/uninstall", "/S"}, work_ + "/uninstall.err"), 0)
        << ReadFile(work_ + "/uninstall.err");
    // The uninstaller's own file goes last.
    for (int i = 0; i < 100 && fs::exists(folder); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(fs::exists(folder)) << "the install folder is left";
    EXPECT_EQ(ExportKey(EntryKey(name)).find("DisplayName"), std::string::npos)
        << "the uninstall entry is left";
    const std::string desktop = ExportKey(kDesktop);
    EXPECT_NE(desktop.find("\"SCRNSAVE.EXE\"=\"" + Exported(previous) + "\""), std::string::npos) << desktop;
}

}  // namespace nimbrel::testing
