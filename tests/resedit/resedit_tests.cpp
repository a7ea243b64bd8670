// Tests of the executable resource editor on PE32 files built by the mingw-w64 toolchain.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "fixture_payloads.h"
#include "pe_check.h"
#include "platform/error.h"
#include "platform/file_mapping.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/paths.h"
#include "platform/temp.h"
#include "resedit/resource_edit.h"
#include "resedit/resource_tree.h"
#include "support/test_system.h"

// windows.h names the resource types as macros; the editor's own constants are meant here.
#ifdef _WIN32
#undef RT_ICON
#undef RT_GROUP_ICON
#endif

using namespace nimbrel;
using namespace nimbrel::resedit;
namespace fs = std::filesystem;

namespace {

constexpr std::uint16_t kUk = 2057;
constexpr std::uint16_t kUs = 1033;

std::string Slurp(const std::string& path) {
    return platform::ReadWholeFile(path);
}
void Spit(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
std::u16string U16(const std::string& path) {
    return platform::Utf16FromNarrow(path);
}

// An .ico file with one image per size; image bytes are Payload(seed + i, size).
std::string MakeIco(const std::vector<std::size_t>& sizes, std::uint32_t seed = 500) {
    std::string out;
    fixture::Put16(out, 0);
    fixture::Put16(out, 1);
    fixture::Put16(out, static_cast<unsigned>(sizes.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        out += static_cast<char>(16 * (i + 1));
        out += static_cast<char>(16 * (i + 1));
        out += static_cast<char>(0);
        out += static_cast<char>(0);
        fixture::Put16(out, 1);
        fixture::Put16(out, 32);
        fixture::Put32(out, static_cast<std::uint32_t>(sizes[i]));
        fixture::Put32(out, offset);
        offset += static_cast<std::uint32_t>(sizes[i]);
    }
    for (std::size_t i = 0; i < sizes.size(); ++i)
        out += fixture::Payload(seed + static_cast<std::uint32_t>(i), sizes[i]);
    return out;
}

// The group record an import of MakeIco(sizes) must give, with these icon IDs.
std::string ExpectedGroup(const std::vector<std::size_t>& sizes, const std::vector<unsigned>& ids) {
    std::string ico = MakeIco(sizes);
    std::string out = ico.substr(0, 6);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        out += ico.substr(6 + 16 * i, 12);
        fixture::Put16(out, ids[i]);
    }
    return out;
}

// A text picture of the tree: every node with its counts and data source.
void Describe(const TResItem& node, std::string& out, int depth) {
    out += std::string(static_cast<std::size_t>(depth), ' ');
    if (node.IsNamed())
        out += "'" + platform::NarrowFromUtf16(node.Name) + "'";
    else
        out += std::to_string(node.Id);
    if (node.IsDir)
        out += " n" + std::to_string(node.NamedCount) + " i" + std::to_string(node.IdCount);
    else
        out += " size" + std::to_string(node.Size) +
               (node.FileData >= 0 ? " file"
                : node.TempFile    ? " temp"
                                   : " mem");
    out += "\n";
    for (const TResItem* c = node.FirstChild.get(); c; c = c->Next.get()) Describe(*c, out, depth + 1);
}
std::string Describe(ResourceEditHandle* h) {
    std::string out;
    if (h && h->Root) Describe(*h->Root, out, 0);
    return out;
}

// What a leaf's temporary file holds. The edit keeps the file to itself; on Windows that means
// nobody else can even read it meanwhile (share mode 0), so there its size is all a test sees (its
// bytes show in the executable after the write-back).
void ExpectTempFileHolds(const std::string& path, const std::string& expected) {
#ifdef _WIN32
    EXPECT_EQ(platform::FileSize(path), static_cast<std::int64_t>(expected.size()));
    EXPECT_THROW(platform::ReadWholeFile(path), Error);
#else
    EXPECT_EQ(Slurp(path), expected);
#endif
}

class ResEdit : public ::testing::Test {
protected:
    void SetUp() override {
        // A private temporary directory, so the editor's temporary files can be counted.
        tempDir_ = work_.Path() + "tmp";
        fs::create_directory(tempDir_);
        const char* old = std::getenv(nimbrel::testing::kTempDirectoryVariable);
        oldTmp_ = old ? old : "";
        nimbrel::testing::SetEnvironment(nimbrel::testing::kTempDirectoryVariable, tempDir_);
    }
    void TearDown() override {
        if (oldTmp_.empty())
            nimbrel::testing::UnsetEnvironment(nimbrel::testing::kTempDirectoryVariable);
        else
            nimbrel::testing::SetEnvironment(nimbrel::testing::kTempDirectoryVariable, oldTmp_);
        SetCommitFailureForTesting(0);
    }

    // A private copy of a fixture; skips the test when the toolchain could not build them.
    std::string Copy(const std::string& fixture, const std::string& as = "") {
        std::string from = std::string(NIMBREL_RESEDIT_FIXTURES) + "/" + fixture;
        if (!NIMBREL_HAVE_FIXTURES || !platform::FileExists(from)) return "";
        std::string to = work_.File(as.empty() ? fixture : as);
        EXPECT_TRUE(platform::CopyFileBytes(from, to));
        return to;
    }
    std::string Ico(const std::vector<std::size_t>& sizes, const std::string& name = "icon.ico") {
        std::string path = work_.File(name);
        Spit(path, MakeIco(sizes));
        return path;
    }
    int TempFileCount() const {
        int n = 0;
        for (const auto& e : fs::recursive_directory_iterator(tempDir_))
            if (e.path().filename().string().rfind("$zel$res$", 0) == 0) ++n;
        return n;
    }
    std::string Leaf(const std::string& file, const std::string& key) {
        auto dump = pecheck::DumpResources(Slurp(file));
        auto it = dump.find(key);
        return it == dump.end() ? std::string("<missing>") : it->second.substr(it->second.find(':') + 1);
    }
    void ExpectSound(const std::string& file) {
        std::string bytes = Slurp(file);
        EXPECT_EQ(pecheck::ValidateStructure(bytes), "");
        EXPECT_EQ(pecheck::Parse(bytes).checkSum, pecheck::StandardChecksum(bytes));
    }

    platform::TempDirectory work_{"resedit"};
    std::string tempDir_;
    std::string oldTmp_;
};

#define FIXTURE(var, name)                                                          \
    std::string var = Copy(name);                                                   \
    if (var.empty()) GTEST_SKIP() << "the mingw-w64 toolchain did not build " name; \
    (void)0

// ---------------------------------------------------------------- opening and reading

TEST_F(ResEdit, OpensAnExecutableAndReadsItsTreeAsStored) {
    FIXTURE(exe, "basic.exe");
    ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Describe(h).substr(0, 10), "0 n0 i3\n 3");  // root: RT_ICON, RCDATA, RT_GROUP_ICON
    TResLink* groups = FindDirectoryChild(*h->Root, RT_GROUP_ICON);
    ASSERT_TRUE(*groups);
    EXPECT_EQ((*groups)->NamedCount, 2u);  // "1" and "MAINICON"
    EXPECT_EQ((*groups)->IdCount, 1u);

    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    ASSERT_TRUE(QueryResourceEntry(h, RT_GROUP_ICON, 1, kUs, &data, &size));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size), fixture::GroupRecord({1, 2}));
    ASSERT_TRUE(QueryResourceEntry(h, RT_GROUP_ICON, u"1", kUk, &data, &size));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size), fixture::GroupRecord({50, 51}));
    std::string group;
    ASSERT_TRUE(FindIconGroup(h, u"MAINICON", kUs, &group));
    EXPECT_EQ(group, fixture::GroupRecord({53}));

    // A name never matches an ID, and names match case and all.
    EXPECT_FALSE(QueryResourceEntry(h, RT_GROUP_ICON, u"1", kUs, &data, &size));
    EXPECT_FALSE(QueryResourceEntry(h, RT_GROUP_ICON, 1, kUk, &data, &size));
    EXPECT_FALSE(QueryResourceEntry(h, RT_GROUP_ICON, u"MainIcon", kUs, &data, &size));
    EXPECT_FALSE(QueryResourceEntry(nullptr, RT_GROUP_ICON, 1, kUs, &data, &size));
    EXPECT_TRUE(EndResourceEdit(h, true));
}

TEST_F(ResEdit, RefusesFilesThatAreNoEditableExecutable) {
    FIXTURE(nores, "nores.exe");
    std::string text = work_.File("notes.txt");
    Spit(text, "These are not the bytes of a program.\r\n");
    EXPECT_EQ(BeginResourceEdit(U16(text), false), nullptr);
    platform::SetLastErrorCode(0);
    EXPECT_EQ(BeginResourceEdit(U16(nores), false), nullptr);
    EXPECT_EQ(platform::LastErrorCode(), platform::kErrorFileNotFound);
    EXPECT_EQ(BeginResourceEdit(U16(work_.File("missing.exe")), false), nullptr);
    EXPECT_EQ(platform::LastErrorCode(), platform::kErrorFileNotFound);
    std::string empty = work_.File("empty.exe");
    Spit(empty, "");
    EXPECT_EQ(BeginResourceEdit(U16(empty), false), nullptr);
}

TEST_F(ResEdit, AFileHeldByAnotherEditorIsRefusedAndUnchanged) {
    FIXTURE(exe, "basic.exe");
    std::string before = Slurp(exe);
    platform::MappedFile other;
    ASSERT_TRUE(other.Open(U16(exe), platform::MappedFile::Mode::OpenExisting));
    EXPECT_EQ(BeginResourceEdit(U16(exe), false), nullptr);
    EXPECT_EQ(platform::LastErrorCode(), platform::kErrorSharingViolation);
    other.Close();
    EXPECT_EQ(Slurp(exe), before);
    ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
    EXPECT_NE(h, nullptr);
    EndResourceEdit(h, true);
}

TEST_F(ResEdit, DeleteExistingStartsEmptyAndDropsEveryResource) {
    FIXTURE(exe, "basic.exe");
    ResourceEditHandle* h = BeginResourceEdit(U16(exe), true);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Describe(h), "0 n0 i0\n");
    EXPECT_FALSE(QueryResourceEntry(h, RT_GROUP_ICON, 1, kUs, nullptr, nullptr));
    ASSERT_TRUE(EndResourceEdit(h, false));
    EXPECT_TRUE(pecheck::DumpResources(Slurp(exe)).empty());
    ExpectSound(exe);
}

// Damaged copies of basic.exe, each refused at BeginResourceEdit.
TEST_F(ResEdit, RefusesMalformedHeadersAndResourceTrees) {
    FIXTURE(exe, "basic.exe");
    const std::string good = Slurp(exe);
    pecheck::Image img = pecheck::Parse(good);
    const pecheck::Section& rsrc = img.sections[static_cast<std::size_t>(img.Find(".rsrc"))];
    const std::uint32_t root = rsrc.rawPointer;
    const std::uint32_t opt = img.nt + 24;
    // root -> first type (RT_ICON) -> first name (1) -> first language: its data entry.
    std::uint32_t type = root + (pecheck::Get32(good, root + 20) & 0x7FFFFFFF);
    std::uint32_t name = root + (pecheck::Get32(good, type + 20) & 0x7FFFFFFF);
    std::uint32_t leafEntry = root + pecheck::Get32(good, name + 20);
    std::uint32_t groups = root + (pecheck::Get32(good, root + 36) & 0x7FFFFFFF);

    std::vector<std::pair<std::string, std::function<void(std::string&)>>> damages = {
        {"PE32+ magic on a PE32 optional header", [&](std::string& f) { pecheck::Set16(f, opt, 0x20B); }},
        {"FileAlignment 0", [&](std::string& f) { pecheck::Set32(f, opt + 36, 0); }},
        {"FileAlignment 3", [&](std::string& f) { pecheck::Set32(f, opt + 36, 3); }},
        {"SectionAlignment 0x1800", [&](std::string& f) { pecheck::Set32(f, opt + 32, 0x1800); }},
        {"e_lfanew beyond the file", [&](std::string& f) { pecheck::Set32(f, 60, 0x7FFFFFF0); }},
        {"section table beyond the file", [&](std::string& f) { pecheck::Set16(f, img.nt + 6, 0xFFFF); }},
        {"section raw data beyond the file",
         [&](std::string& f) { pecheck::Set32(f, rsrc.header + 16, 0x10000000); }},
        {"root with too many entries", [&](std::string& f) { pecheck::Set16(f, root + 14, 0xFFFF); }},
        {"directory outside the section", [&](std::string& f) { pecheck::Set32(f, root + 20, 0x80FFFFF0); }},
        {"loop back to the root", [&](std::string& f) { pecheck::Set32(f, type + 20, 0x80000000); }},
        {"name outside the section", [&](std::string& f) { pecheck::Set32(f, groups + 16, 0xFFFFFF00); }},
        {"named count covering an ID entry",
         [&](std::string& f) {
             pecheck::Set16(f, groups + 12, 3);
             pecheck::Set16(f, groups + 14, 0);
         }},
        {"data entry outside the section", [&](std::string& f) { pecheck::Set32(f, name + 20, 0x7FFFFFF0); }},
        {"data before the section",
         [&](std::string& f) { pecheck::Set32(f, leafEntry, rsrc.virtualAddress - 4); }},
        {"data past the section", [&](std::string& f) { pecheck::Set32(f, leafEntry + 4, rsrc.rawSize); }},
        {"section raw data over the headers",
         [&](std::string& f) { pecheck::Set32(f, rsrc.header + 20, 0x100); }},
        {"a chain of 40 directories",
         [&](std::string& f) {
             for (std::uint32_t level = 0; level < 40; ++level) {
                 std::uint32_t at = root + 24 * level;
                 f.replace(at, 24, std::string(24, '\0'));
                 pecheck::Set16(f, at + 14, 1);
                 pecheck::Set32(f, at + 16, 1);
                 pecheck::Set32(f, at + 20, 0x80000000u | (24 * (level + 1)));
             }
             f.replace(root + 24 * 40, 16, std::string(16, '\0'));
         }},
        {"a file cut inside the section", [&](std::string& f) { f.resize(rsrc.rawPointer + 64); }},
    };
    for (auto& [what, damage] : damages) {
        std::string bad = good;
        damage(bad);
        Spit(exe, bad);
        ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
        EXPECT_EQ(h, nullptr) << what;
        if (h) EndResourceEdit(h, true);
        EXPECT_EQ(Slurp(exe), bad) << what;
    }
    EXPECT_EQ(TempFileCount(), 0);
}

TEST_F(ResEdit, TempFilesLieInAPrivateFolderAndAreMadeExclusively) {
    int owner = 0;
    std::u16string name = ResourceTempFileName(&owner);
    char expected[80];
    std::snprintf(expected, sizeof expected, "$zel$res$%08x$%llx$",
                  static_cast<unsigned>(platform::CurrentProcessId()),
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&owner)));
    fs::path path(platform::NarrowFromUtf16(name));
    EXPECT_EQ(path.filename().string(), expected);
    EXPECT_EQ(ResourceTempFileName(&owner), name);
    // The folder is not the shared temporary folder itself but one of this process, its owner's alone.
    fs::path folder = path.parent_path();
    EXPECT_EQ(folder.parent_path(), fs::path(tempDir_));
#ifndef _WIN32
    struct stat info {};
    ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    // A link planted where a leaf's data would go is neither followed nor replaced.
    TResItem leaf;
    std::string victim = work_.File("victim.txt");
    Spit(victim, "the user's own");
    fs::create_symlink(victim, platform::NarrowFromUtf16(ResourceTempFileName(&leaf)));
    std::string big = fixture::Payload(3, 40000);
    EXPECT_THROW(SetLeafData(leaf, kUk, big.data(), 40000), Error);
    EXPECT_EQ(Slurp(victim), "the user's own");
    EXPECT_EQ(leaf.Size, 0u);
    fs::remove(platform::NarrowFromUtf16(ResourceTempFileName(&leaf)));
#endif
}

// ---------------------------------------------------------------- icon groups

TEST_F(ResEdit, ImportTakesIconIdsFromFiftyAndBuildsTheGroup) {
    FIXTURE(exe, "plain.exe");
    std::vector<std::size_t> sizes = {744, 2216, 4264};
    std::string ico = Ico(sizes);
    ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(RemoveIconGroup(h, u"1", kUk));
    ASSERT_TRUE(ImportIconGroup(h, u"0", kUk, U16(ico)));
    std::string group;
    ASSERT_TRUE(FindIconGroup(h, u"0", kUk, &group));
    EXPECT_EQ(group.size(), 48u);
    EXPECT_EQ(group, ExpectedGroup(sizes, {50, 51, 52}));
    ASSERT_TRUE(EndResourceEdit(h, false));
    for (unsigned i = 0; i < 3; ++i)
        EXPECT_EQ(Leaf(exe, "3/" + std::to_string(50 + i) + "/2057"), fixture::Payload(500 + i, sizes[i]));
    EXPECT_EQ(Leaf(exe, "14/\"0\"/2057"), ExpectedGroup(sizes, {50, 51, 52}));
    EXPECT_EQ(Leaf(exe, "14/1/1033"), fixture::GroupRecord({1, 2}));  // the ID group is not "1"
    ExpectSound(exe);
}

TEST_F(ResEdit, ImportSkipsIdsUsedUnderAnyLanguage) {
    FIXTURE(exe, "plain.exe");
    std::string ico = Ico({100, 200, 300});
    ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(UpdateResourceEntry(h, RT_ICON, 51, kUs, "x", 1));
    ASSERT_TRUE(ImportIconGroup(h, u"0", kUk, U16(ico)));
    std::string group;
    ASSERT_TRUE(FindIconGroup(h, u"0", kUk, &group));
    EXPECT_EQ(group, ExpectedGroup({100, 200, 300}, {50, 52, 53}));
    std::uint32_t candidate = 50;
    EXPECT_EQ(NextFreeIconId(h, candidate), 54u);
    EXPECT_EQ(candidate, 54u);
    EndResourceEdit(h, true);
}

TEST_F(ResEdit, ReimportReusesTheGroupsIdsAndDropsTheRest) {
    FIXTURE(exe, "basic.exe");  // group "1" (2057) lists 50 and 51; 53 is taken (1033)
    ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
    ASSERT_NE(h, nullptr);
    std::vector<std::size_t> four = {10, 20, 30, 40};
    ASSERT_TRUE(ImportIconGroup(h, u"1", kUk, U16(Ico(four))));
    std::string group;
    ASSERT_TRUE(FindIconGroup(h, u"1", kUk, &group));  // taken from the edit's own data
    EXPECT_EQ(group, ExpectedGroup(four, {50, 51, 52, 54}));
    ASSERT_TRUE(ImportIconGroup(h, u"1", kUk, U16(Ico({10}, "one.ico"))));
    ASSERT_TRUE(FindIconGroup(h, u"1", kUk, &group));
    EXPECT_EQ(group, ExpectedGroup({10}, {50}));
    EXPECT_FALSE(QueryResourceEntry(h, RT_ICON, 51, kUk, nullptr, nullptr));
    EXPECT_FALSE(QueryResourceEntry(h, RT_ICON, 54, kUk, nullptr, nullptr));
    EXPECT_TRUE(QueryResourceEntry(h, RT_ICON, 53, kUs, nullptr, nullptr));
    ASSERT_TRUE(EndResourceEdit(h, false));
    auto dump = pecheck::DumpResources(Slurp(exe));
    EXPECT_EQ(dump.count("3/51/2057") + dump.count("3/52/2057") + dump.count("3/54/2057"), 0u);
    EXPECT_EQ(Leaf(exe, "3/50/2057"), fixture::Payload(500, 10));
    ExpectSound(exe);
}

TEST_F(ResEdit, RemoveByNameLeavesIdGroupsAndOtherLanguages) {
    FIXTURE(exe, "basic.exe");
    ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(RemoveIconGroup(h, u"1", kUs));  // no such group: nothing happens
    EXPECT_TRUE(RemoveIconGroup(h, 1, kUk));
    EXPECT_TRUE(FindIconGroup(h, u"1", kUk));
    EXPECT_TRUE(RemoveIconGroup(h, u"1", kUk));
    EXPECT_FALSE(FindIconGroup(h, u"1", kUk));
    EXPECT_FALSE(QueryResourceEntry(h, RT_ICON, 50, kUk, nullptr, nullptr));
    EXPECT_FALSE(QueryResourceEntry(h, RT_ICON, 51, kUk, nullptr, nullptr));
    EXPECT_TRUE(FindIconGroup(h, 1, kUs));
    EXPECT_TRUE(QueryResourceEntry(h, RT_ICON, 1, kUs, nullptr, nullptr));
    EndResourceEdit(h, true);
}

TEST_F(ResEdit, NamedEntriesSortBeforeIdsAndByBytes) {
    FIXTURE(exe, "basic.exe");
    ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(ImportIconGroup(h, u"0", kUk, U16(Ico({8}))));
    ASSERT_TRUE(UpdateResourceEntry(h, RT_GROUP_ICON, u"Zeta", kUk, "g", 1));
    ASSERT_TRUE(UpdateResourceEntry(h, RT_GROUP_ICON, u"MAIN", kUk, "g", 1));
    ASSERT_TRUE(UpdateResourceEntry(h, RT_GROUP_ICON, 0, kUk, "g", 1));
    ASSERT_TRUE(UpdateResourceEntry(h, RT_GROUP_ICON, 2, kUk, "g", 1));
    std::string order;
    TResItem* groups = FindDirectoryChild(*h->Root, RT_GROUP_ICON)->get();
    for (TResItem* c = groups->FirstChild.get(); c; c = c->Next.get())
        order += (c->IsNamed() ? platform::NarrowFromUtf16(c->Name) : "#" + std::to_string(c->Id)) + " ";
    EXPECT_EQ(order, "0 1 MAIN MAINICON Zeta #0 #1 #2 ");
    EXPECT_EQ(groups->NamedCount, 5u);
    EXPECT_EQ(groups->IdCount, 3u);
    EndResourceEdit(h, true);
}

TEST_F(ResEdit, MalformedIconFilesChangeNothing) {
    FIXTURE(exe, "basic.exe");
    ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
    ASSERT_NE(h, nullptr);
    const std::string before = Describe(h);
    std::string good = MakeIco({100, 200});
    std::string shortDir = good.substr(0, 6 + 16 + 8);
    std::string outside = good;
    pecheck::Set32(outside, 6 + 16 + 12,
                   static_cast<std::uint32_t>(good.size() - 10));  // image 2 runs past the end
    std::string huge = good;
    pecheck::Set32(huge, 6 + 8, 0xFFFFFFF0);
    for (const std::string& bad : {std::string(), std::string("\0\0\1\0", 4), shortDir, outside, huge}) {
        Spit(work_.File("bad.ico"), bad);
        EXPECT_FALSE(ImportIconGroup(h, u"1", kUk, U16(work_.File("bad.ico"))));
        EXPECT_EQ(Describe(h), before);
    }
    EXPECT_FALSE(ImportIconGroup(h, u"1", kUk, U16(work_.File("absent.ico"))));
    EXPECT_EQ(Describe(h), before);
    EndResourceEdit(h, true);
}

TEST_F(ResEdit, IconFilesThatWouldBlowUpTheExecutableAreRefused) {
    FIXTURE(exe, "plain.exe");
    ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
    ASSERT_NE(h, nullptr);
    const std::string before = Describe(h);
    auto refused = [&](const std::string& ico, const char* what) {
        Spit(work_.File("big.ico"), ico);
        EXPECT_FALSE(ImportIconGroup(h, u"0", kUk, U16(work_.File("big.ico")))) << what;
        EXPECT_EQ(Describe(h), before) << what;
    };
    // 4,000 entries over one 32 KB image, and two entries over the same bytes.
    std::string one = MakeIco({32768});
    std::string entry = one.substr(6, 16);
    pecheck::Set32(entry, 12, 6 + 16 * 4000);
    std::string many = one.substr(0, 4) + std::string("\xA0\x0F", 2);
    for (int i = 0; i < 4000; ++i) many += entry;
    refused(many + one.substr(22), "4000 entries over one image");
    std::string twice = MakeIco({300, 300});
    pecheck::Set32(twice, 6 + 16 + 12, pecheck::Get32(twice, 6 + 12));
    refused(twice, "two entries, one image");
    std::string overlapping = MakeIco({300, 300});
    pecheck::Set32(overlapping, 6 + 16 + 12, pecheck::Get32(overlapping, 6 + 12) + 299);
    refused(overlapping, "images that overlap by one byte");
    // 257 tiny images, and images that add up to one byte more than 16 MiB.
    refused(MakeIco(std::vector<std::size_t>(257, 8)), "257 images");
    refused(MakeIco({8u << 20, (8u << 20) + 1}), "16 MiB + 1");
    // The largest icon a user may bring: 256 images; images that merely touch.
    EXPECT_TRUE(ImportIconGroup(h, u"0", kUk, U16(Ico(std::vector<std::size_t>(256, 8)))));
    EXPECT_TRUE(ImportIconGroup(h, u"0", kUk, U16(Ico({40, 40, 40}))));
    ASSERT_TRUE(EndResourceEdit(h, false));
    ExpectSound(exe);
}

TEST_F(ResEdit, IconIdsStopAt65535) {
    FIXTURE(exe, "plain.exe");
    ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
    ASSERT_NE(h, nullptr);
    std::string group = fixture::GroupRecord({65535});
    ASSERT_TRUE(UpdateResourceEntry(h, RT_GROUP_ICON, u"0", kUk, group.data(),
                                    static_cast<std::uint32_t>(group.size())));
    ASSERT_TRUE(UpdateResourceEntry(h, RT_ICON, 65535, kUk, "i", 1));
    EXPECT_FALSE(ImportIconGroup(h, u"0", kUk, U16(Ico({4, 4}))));
    EXPECT_FALSE(FindIconGroup(h, u"0", kUk));  // no group with a wrapped ID
    ASSERT_TRUE(EndResourceEdit(h, false));
    ExpectSound(exe);
}

TEST_F(ResEdit, WithoutAHandleNothingHappens) {
    std::string ico = Ico({16});
    EXPECT_TRUE(UpdateResourceEntry(nullptr, RT_ICON, 1, kUk, "x", 1));
    EXPECT_FALSE(FindIconGroup(nullptr, u"0", kUk));
    EXPECT_TRUE(RemoveIconGroup(nullptr, u"1", kUk));
    EXPECT_THROW(ImportIconGroup(nullptr, u"0", kUk, U16(ico)), Error);
    Spit(work_.File("none.ico"), MakeIco({}));
    EXPECT_TRUE(ImportIconGroup(nullptr, u"0", kUk, U16(work_.File("none.ico"))));
    Spit(work_.File("bad.ico"), "\0\0");
    EXPECT_FALSE(ImportIconGroup(nullptr, u"0", kUk, U16(work_.File("bad.ico"))));
    EXPECT_TRUE(EndResourceEdit(nullptr, false));
}

// ---------------------------------------------------------------- entries and large data

TEST_F(ResEdit, DataUpTo32768BytesStaysInMemoryAndLargerGoesToATemporaryFile) {
    FIXTURE(exe, "plain.exe");
    ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
    ASSERT_NE(h, nullptr);
    std::vector<std::size_t> sizes = {32768, 32769};
    ASSERT_TRUE(ImportIconGroup(h, u"0", kUk, U16(Ico(sizes))));
    TResItem* icons = FindDirectoryChild(*h->Root, RT_ICON)->get();
    TResItem* at50 = FindLanguageLeaf(*FindDirectoryChild(*icons, 50)->get(), kUk)->get();
    TResItem* at51 = FindLanguageLeaf(*FindDirectoryChild(*icons, 51)->get(), kUk)->get();
    EXPECT_EQ(at50->Data.size(), 32768u);
    EXPECT_FALSE(at50->TempFile);
    EXPECT_TRUE(at51->Data.empty());
    ASSERT_TRUE(at51->TempFile);
    EXPECT_EQ(TempFileCount(), 1);
    ExpectTempFileHolds(platform::NarrowFromUtf16(ResourceTempFileName(at51)), fixture::Payload(501, 32769));

    // Large data replaced by large data: still one file, with the newest bytes.
    std::string newer = fixture::Payload(9, 40000);
    ASSERT_TRUE(UpdateResourceEntry(h, RT_ICON, 51, kUk, newer.data(), 40000));
    EXPECT_EQ(TempFileCount(), 1);
    ExpectTempFileHolds(platform::NarrowFromUtf16(ResourceTempFileName(at51)), newer);
    const std::uint8_t* data = reinterpret_cast<const std::uint8_t*>(1);
    std::uint32_t size = 0;
    ASSERT_TRUE(QueryResourceEntry(h, RT_ICON, 51, kUk, &data, &size));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 40000u);

    ASSERT_TRUE(EndResourceEdit(h, false));
    EXPECT_EQ(TempFileCount(), 0);
    EXPECT_EQ(Leaf(exe, "3/50/2057"), fixture::Payload(500, 32768));
    EXPECT_EQ(Leaf(exe, "3/51/2057"), newer);
    ExpectSound(exe);
}

TEST_F(ResEdit, DeletingTheLastLanguageNameAndTypeRemovesTheirDirectories) {
    FIXTURE(exe, "plain.exe");
    ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(UpdateResourceEntry(h, 16, 1, 1031, nullptr, 0));  // another language: nothing
    EXPECT_TRUE(UpdateResourceEntry(h, 16, 1, kUs, nullptr, 0));
    EXPECT_FALSE(*FindDirectoryChild(*h->Root, 16));
    EXPECT_TRUE(UpdateResourceEntry(h, RT_ICON, 1, kUs, nullptr, 0));
    TResItem* icons = FindDirectoryChild(*h->Root, RT_ICON)->get();
    EXPECT_FALSE(*FindDirectoryChild(*icons, 1));
    EXPECT_EQ(icons->IdCount, 1u);
    // Language 0 with no such leaf deletes the name with all its languages; name 0 and
    // language 0 delete the whole type.
    EXPECT_TRUE(UpdateResourceEntry(h, RT_GROUP_ICON, 1, 0, nullptr, 0));
    EXPECT_FALSE(*FindDirectoryChild(*h->Root, RT_GROUP_ICON));
    EXPECT_TRUE(UpdateResourceEntry(h, RT_ICON, 0, 0, nullptr, 0));
    EXPECT_EQ(Describe(h), "0 n0 i0\n");
    ASSERT_TRUE(EndResourceEdit(h, false));
    EXPECT_TRUE(pecheck::DumpResources(Slurp(exe)).empty());
    ExpectSound(exe);
}

// ---------------------------------------------------------------- write-back

TEST_F(ResEdit, GrowthWhenTheResourceSectionIsLast) {
    FIXTURE(exe, "plain.exe");
    const std::string before = Slurp(exe);
    pecheck::Image old = pecheck::Parse(before);
    ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(ImportIconGroup(h, u"0", kUk, U16(Ico({9000, 20000}))));
    ASSERT_TRUE(EndResourceEdit(h, false));
    const std::string after = Slurp(exe);
    pecheck::Image now = pecheck::Parse(after);
    const auto& o = old.sections.back();
    const auto& n = now.sections.back();
    EXPECT_GT(after.size(), before.size());
    EXPECT_EQ((after.size() - before.size()) % old.fileAlignment, 0u);
    EXPECT_EQ(n.rawSize - o.rawSize, after.size() - before.size());
    auto alignSa = [&](std::uint32_t v) {
        return (v + old.sectionAlignment - 1) / old.sectionAlignment * old.sectionAlignment;
    };
    EXPECT_EQ(now.sizeOfImage - old.sizeOfImage, alignSa(n.virtualSize) - alignSa(o.virtualSize));
    EXPECT_EQ(n.virtualSize, now.dirSize[2]);
    EXPECT_EQ(now.initializedData - old.initializedData, n.rawSize - o.rawSize);
    EXPECT_EQ(n.virtualSize % 4, 0u);
    ExpectSound(exe);
}

TEST_F(ResEdit, ShrinkMovesLaterSectionsAndKeepsAppendedBytes) {
    FIXTURE(exe, "basic.exe");
    std::string original = Slurp(exe);
    const std::string overlay = fixture::Payload(4242, 5001);
    // Relocation and line-number pointers of a later section: one behind .rsrc, one before it.
    pecheck::Image old = pecheck::Parse(original);
    int info = old.Find(".rsrc") + 2;  // the first DWARF section, behind .reloc
    ASSERT_LT(info, static_cast<int>(old.sections.size()));
    pecheck::Set32(original, old.sections[info].header + 24, old.sections[info].rawPointer + 4);
    pecheck::Set32(original, old.sections[info].header + 28, 0x400);
    Spit(exe, original + overlay);
    old = pecheck::Parse(original);

    ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(UpdateResourceEntry(h, 10, 7, kUs, nullptr, 0));  // the 9,000-byte entry
    ASSERT_TRUE(EndResourceEdit(h, false));
    const std::string after = Slurp(exe);
    pecheck::Image now = pecheck::Parse(after);
    int r = old.Find(".rsrc");
    std::int64_t rawDelta = std::int64_t{now.sections[r].rawSize} - old.sections[r].rawSize;
    std::int64_t virtDelta =
        std::int64_t{now.sections[r + 1].virtualAddress} - old.sections[r + 1].virtualAddress;
    EXPECT_LT(rawDelta, 0);
    EXPECT_EQ(rawDelta % old.fileAlignment, 0);
    EXPECT_EQ(static_cast<std::int64_t>(after.size()),
              static_cast<std::int64_t>(original.size() + overlay.size()) + rawDelta);
    EXPECT_EQ(virtDelta % old.sectionAlignment, 0);
    for (std::size_t j = r + 1; j < old.sections.size(); ++j) {
        const auto& o = old.sections[j];
        const auto& n = now.sections[j];
        EXPECT_EQ(n.rawPointer, o.rawPointer + rawDelta) << o.name;
        EXPECT_EQ(n.virtualAddress, o.virtualAddress + virtDelta) << o.name;
        EXPECT_EQ(after.substr(n.rawPointer, n.rawSize), original.substr(o.rawPointer, o.rawSize)) << o.name;
    }
    EXPECT_EQ(now.sections[info].relocations, old.sections[info].relocations + rawDelta);
    EXPECT_EQ(now.sections[info].linenumbers, 0x400u);
    EXPECT_EQ(now.dirAddress[5], old.dirAddress[5] + virtDelta);  // base relocations in .reloc
    EXPECT_EQ(now.dirAddress[6], old.dirAddress[6]);              // build id before .rsrc
    EXPECT_EQ(after.substr(after.size() - overlay.size()), overlay);
    EXPECT_EQ(Leaf(exe, "10/7/1031"), fixture::Payload(77, 13));
    EXPECT_EQ(pecheck::DumpResources(after).count("10/7/1033"), 0u);
    // The sections were edited by hand above, so only the layout and checksum are compared.
    EXPECT_EQ(pecheck::ValidateStructure(after), "");
    EXPECT_EQ(now.checkSum, pecheck::StandardChecksum(after));
}

// A debug directory of three entries in .buildid: one with data before .rsrc, one in a section
// behind it, one in the appended bytes without an image address.
TEST_F(ResEdit, DebugEntriesBehindTheSectionMove) {
    FIXTURE(exe, "basic.exe");
    std::string f = Slurp(exe);
    pecheck::Image img = pecheck::Parse(f);
    const auto& bid = img.sections[img.Find(".buildid")];
    const auto& info = img.sections.at(static_cast<std::size_t>(img.Find(".rsrc") + 2));
    std::uint32_t dir = bid.rawPointer + 0x40;
    std::string first = f.substr(bid.rawPointer + (img.dirAddress[6] - bid.virtualAddress), 28);
    f.replace(dir, 28, first);
    std::string second = first;
    pecheck::Set32(second, 20, info.virtualAddress + 8);
    pecheck::Set32(second, 24, info.rawPointer + 8);
    f.replace(dir + 28, 28, second);
    std::string third = first;
    pecheck::Set32(third, 20, 0);
    pecheck::Set32(third, 24, static_cast<std::uint32_t>(f.size()));
    f.replace(dir + 56, 28, third);
    f += "CODEVIEW-OVERLAY";
    pecheck::Set32(f, img.nt + 24 + 96 + 8 * 6, bid.virtualAddress + 0x40);

    for (std::uint32_t size : {56u, 3u}) {
        pecheck::Set32(f, img.nt + 24 + 96 + 8 * 6 + 4, size);
        Spit(exe, f);
        ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
        ASSERT_NE(h, nullptr);
        ASSERT_TRUE(ImportIconGroup(h, u"0", kUk, U16(Ico({30000, 9000}))));
        ASSERT_TRUE(EndResourceEdit(h, false));
        std::string after = Slurp(exe);
        pecheck::Image now = pecheck::Parse(after);
        int r = img.Find(".rsrc");
        std::int64_t rawDelta = std::int64_t{now.sections[r].rawSize} - img.sections[r].rawSize;
        std::int64_t virtDelta =
            std::int64_t{now.sections[r + 1].virtualAddress} - img.sections[r + 1].virtualAddress;
        ASSERT_GT(rawDelta, 0);
        EXPECT_EQ(after.substr(dir, 28), first) << size;
        EXPECT_EQ(pecheck::Get32(after, dir + 28 + 20), info.virtualAddress + 8 + virtDelta) << size;
        EXPECT_EQ(pecheck::Get32(after, dir + 28 + 24), info.rawPointer + 8 + rawDelta) << size;
        if (size == 3) {
            EXPECT_EQ(pecheck::Get32(after, dir + 56 + 20), 0u);
            EXPECT_EQ(pecheck::Get32(after, dir + 56 + 24), f.size() - 16 + rawDelta);
            EXPECT_EQ(after.substr(pecheck::Get32(after, dir + 56 + 24), 16), "CODEVIEW-OVERLAY");
        } else {
            EXPECT_EQ(pecheck::Get32(after, dir + 56 + 24), f.size() - 16);  // not an entry: unchanged
        }
        ExpectSound(exe);
    }
}

TEST_F(ResEdit, TheCertificateTableMovesAsAFilePosition) {
    FIXTURE(exe, "basic.exe");
    std::string f = Slurp(exe);
    pecheck::Image img = pecheck::Parse(f);
    std::uint32_t position = static_cast<std::uint32_t>(f.size());
    f += std::string(64, '\x5A');
    pecheck::Set32(f, img.nt + 24 + 96 + 8 * 4, position);
    pecheck::Set32(f, img.nt + 24 + 96 + 8 * 4 + 4, 64);
    Spit(exe, f);
    ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(ImportIconGroup(h, u"0", kUk, U16(Ico({30000}))));
    ASSERT_TRUE(EndResourceEdit(h, false));
    std::string after = Slurp(exe);
    pecheck::Image now = pecheck::Parse(after);
    EXPECT_EQ(now.dirAddress[4], position + (after.size() - f.size()));
    EXPECT_EQ(after.substr(now.dirAddress[4]), std::string(64, '\x5A'));
    ExpectSound(exe);
}

TEST_F(ResEdit, ACommitWithoutChangesKeepsEveryResource) {
    for (const char* name : {"basic.exe", "plain.exe"}) {
        std::string exe = Copy(name);
        if (exe.empty()) GTEST_SKIP() << "the mingw-w64 toolchain did not build " << name;
        Spit(exe, Slurp(exe) + "appended");
        auto before = pecheck::DumpResources(Slurp(exe));
        ASSERT_FALSE(before.empty());
        ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
        ASSERT_NE(h, nullptr);
        ASSERT_TRUE(EndResourceEdit(h, false));
        std::string after = Slurp(exe);
        EXPECT_EQ(pecheck::DumpResources(after), before) << name;
        EXPECT_EQ(after.substr(after.size() - 8), "appended");
        // The section now holds exactly the pre-order layout: VirtualSize is its content size.
        pecheck::Image now = pecheck::Parse(after);
        const auto& rsrc = now.sections[now.Find(".rsrc")];
        TreeMeasure m;
        ResourceEditHandle* again = BeginResourceEdit(U16(exe), false);
        ASSERT_NE(again, nullptr);
        MeasureResourceTree(*again->Root, m);
        EXPECT_EQ(rsrc.virtualSize, Align(m.dirBytes + m.nameBytes, 4) + m.dataBytes);
        // Names straight after the directories; the first data block at the next multiple of 4.
        std::string names;
        if (std::string(name) == "basic.exe") {
            for (const std::string text : {"BLOB", "1", "MAINICON"}) {  // in walk order
                fixture::Put16(names, static_cast<unsigned>(text.size()));
                for (char c : text) fixture::Put16(names, static_cast<unsigned char>(c));
            }
        }
        EXPECT_EQ(m.nameBytes, names.size());
        EXPECT_EQ(after.substr(rsrc.rawPointer + m.dirBytes, names.size()), names) << name;
        // The first leaf in pre-order (the first language of the first name of the first type)
        // has its data at the start of the data area.
        auto firstTarget = [&](std::uint32_t table) {
            return pecheck::Get32(after, rsrc.rawPointer + table + 20) & 0x7FFFFFFFu;
        };
        std::uint32_t entry = firstTarget(firstTarget(firstTarget(0)));
        EXPECT_EQ(pecheck::Get32(after, rsrc.rawPointer + entry),
                  rsrc.virtualAddress + Align(m.dirBytes + m.nameBytes, 4));
        EndResourceEdit(again, true);
        ExpectSound(exe);
    }
    EXPECT_EQ(TempFileCount(), 0);
}

TEST_F(ResEdit, ADiscardLeavesTheFileUntouched) {
    FIXTURE(exe, "basic.exe");
    const std::string before = Slurp(exe);
    ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(ImportIconGroup(h, u"0", kUk, U16(Ico({40000, 50000}))));
    EXPECT_EQ(TempFileCount(), 2);
    EXPECT_TRUE(EndResourceEdit(h, true));
    EXPECT_EQ(Slurp(exe), before);
    EXPECT_EQ(TempFileCount(), 0);
}

TEST_F(ResEdit, AFailedCommitRestoresTheFile) {
    FIXTURE(exe, "basic.exe");
    Spit(exe, Slurp(exe) + fixture::Payload(1, 777));
    const std::string before = Slurp(exe);
    std::string big = Ico({40000, 30000}, "big.ico");
    for (bool grow : {true, false}) {
        for (int step = 1; step <= 6; ++step) {
            ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
            ASSERT_NE(h, nullptr);
            if (grow)
                ASSERT_TRUE(ImportIconGroup(h, u"0", kUk, U16(big)));
            else
                ASSERT_TRUE(UpdateResourceEntry(h, 10, 7, kUs, nullptr, 0));
            SetCommitFailureForTesting(step);
            EXPECT_FALSE(EndResourceEdit(h, false)) << grow << step;
            EXPECT_TRUE(Slurp(exe) == before) << "grow " << grow << " step " << step;
            EXPECT_EQ(TempFileCount(), 0);
        }
    }
    ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);  // released: opens again
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(EndResourceEdit(h, false));
}

// The edited programs still start under wine, when a working wine is installed.
TEST_F(ResEdit, EditedExecutablesStillRunUnderWine) {
    FIXTURE(basic, "basic.exe");
    std::string plain = Copy("plain.exe");
#ifdef _WIN32
    // On Windows the edited programs are started directly.
    auto run = [](const std::string& exe) -> int {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        std::string commandLine = "\"" + exe + "\"";
        if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process))
            return -static_cast<int>(GetLastError());
        WaitForSingleObject(process.hProcess, 60000);
        DWORD code = 1;
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return static_cast<int>(code);
    };
#else
    std::string prefix = std::string(NIMBREL_TEST_WORK_DIR) + "/wineprefix";
    std::string env = "WINEDEBUG=-all WINEPREFIX='" + prefix + "' ";
    if (std::system((env + "timeout 60 wine cmd /c exit 0 >/dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << "wine is not installed or cannot run 32-bit programs here";
    auto run = [&env](const std::string& exe) {
        return std::system((env + "timeout 60 wine '" + exe + "' >/dev/null 2>&1").c_str());
    };
#endif
    // Where the system runs no 32-bit programs (a 64-bit-only wine), the unedited one fails too.
    if (int unedited = run(basic); unedited != 0)
        GTEST_SKIP() << "the unedited 32-bit test program does not run here (" << unedited
                     << "): this system runs no 32-bit programs";
    for (const std::string& exe : {basic, plain}) {
        ResourceEditHandle* h = BeginResourceEdit(U16(exe), false);
        ASSERT_NE(h, nullptr);
        ASSERT_TRUE(ImportIconGroup(h, u"0", kUk, U16(Ico({5000, 40000}))));
        ASSERT_TRUE(EndResourceEdit(h, false));
        EXPECT_EQ(run(exe), 0) << exe;
    }
}

}  // namespace
