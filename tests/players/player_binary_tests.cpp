// The built players and setup programs as the build uses them, 32-bit (PE32) and 64-bit (PE32+):
// images whose default icon group "1" (language 2057) the resource editor replaces, leaving
// exactly the user's icon, with the show still found behind the rewritten program.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "package.h"
#include "package_writer.h"
#include "resedit/resource_edit.h"

namespace nimbrel::player {
namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

class BuiltStub : public ::testing::TestWithParam<const char*> {};

TEST_P(BuiltStub, IconReplacementLeavesOneIconAndTheShowIsStillFound) {
    std::string stub = Read(std::string(NIMBREL_BIN_DIR) + "/" + GetParam());
    if (stub.empty()) GTEST_SKIP() << GetParam() << " was not built";
    ASSERT_EQ(stub.substr(0, 2), "MZ");
    std::string name = GetParam();
    for (char& c : name)
        if (c == '/') c = '_';
    std::string path = ::testing::TempDir() + "/icon_" + name + ".scr";
    std::ofstream(path, std::ios::binary).write(stub.data(), static_cast<std::streamsize>(stub.size()));

    auto* edit = resedit::BeginResourceEdit(Wide(path), false);
    ASSERT_NE(edit, nullptr) << "the resource editor does not accept the stub";
    EXPECT_TRUE(resedit::FindIconGroup(edit, u"1", 2057)) << "no default icon group \"1\" in language 2057";
    EXPECT_FALSE(resedit::FindIconGroup(edit, 1u, 2057)) << "the default group must be named, not numbered";
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    EXPECT_TRUE(resedit::QueryResourceEntry(edit, 16u, 1u, 2057, &data, &size)) << "no version resource";
    ASSERT_TRUE(resedit::RemoveIconGroup(edit, u"1", 2057));
    ASSERT_TRUE(resedit::ImportIconGroup(edit, u"0", 2057, Wide(NIMBREL_TEST_ICON)));
    ASSERT_TRUE(resedit::EndResourceEdit(edit, false));

    edit = resedit::BeginResourceEdit(Wide(path), false);
    ASSERT_NE(edit, nullptr);
    EXPECT_FALSE(resedit::FindIconGroup(edit, u"1", 2057));
    EXPECT_TRUE(resedit::FindIconGroup(edit, u"0", 2057));
    resedit::EndResourceEdit(edit, true);

    std::string edited = Read(path);
    std::string file =
        edited + testing::MakeTestArchive({{"Options.ini", testing::MakeSlideShowProject({"a.bmp"}, {})},
                                           {"About.cfg", testing::MakeAboutFile("Lake", "Hello")},
                                           {"a.bmp", "BM"}});
    Package package(reinterpret_cast<const unsigned char*>(file.data()), file.size());
    EXPECT_EQ(package.About().name, "Lake");
    EXPECT_EQ(package.SlideOrder(), (std::vector<std::size_t>{2}));
}

INSTANTIATE_TEST_SUITE_P(Players, BuiltStub,
                         ::testing::Values("stub.bin", "flash.bin", "setup.bin", "win64/stub.bin",
                                           "win64/flash.bin", "win64/setup.bin"),
                         [](const auto& info) {
                             std::string name;
                             for (const char* c = info.param; *c && *c != '.'; ++c)
                                 if (*c != '/') name += *c;
                             return name;
                         });

}  // namespace
}  // namespace nimbrel::player
