// Replacing the icon of a 64 MiB executable, against copying the same file with cp.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "platform/file_mapping.h"
#include "platform/files.h"
#include "platform/temp.h"
#include "resedit/resource_edit.h"

namespace {

void Put16(std::string& out, unsigned v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}
void Put32(std::string& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

std::string MakeIco() {
    const std::uint32_t sizes[] = {1128, 4264, 9640, 16936};  // 16, 32, 48, 64 pixel images
    std::string out;
    Put16(out, 0);
    Put16(out, 1);
    Put16(out, 4);
    std::uint32_t offset = 6 + 16 * 4;
    for (std::uint32_t size : sizes) {
        out += std::string("\x20\x20\0\0", 4);
        Put16(out, 1);
        Put16(out, 32);
        Put32(out, size);
        Put32(out, offset);
        offset += size;
    }
    for (std::uint32_t size : sizes) out += std::string(size, '\x42');
    return out;
}

long MaxRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double Seconds(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
}  // namespace

int main() {
    using namespace nimbrel;
    std::string fixture = std::string(NIMBREL_RESEDIT_FIXTURES) + "/basic.exe";
    if (!platform::FileExists(fixture)) {
        std::printf("resedit_bench: %s was not built (mingw-w64 missing); nothing measured\n",
                    fixture.c_str());
        return 0;
    }
    platform::TempDirectory dir("reseditbench");
    std::string source = dir.File("big.exe");
    std::string work = dir.File("edit.exe");
    std::string copy = dir.File("copy.exe");
    std::string ico = dir.File("icon.ico");
    {
        std::string stub = platform::ReadWholeFile(fixture);
        std::ofstream out(source, std::ios::binary);
        out.write(stub.data(), static_cast<std::streamsize>(stub.size()));
        std::string block(1 << 20, '\x33');
        while (static_cast<std::size_t>(out.tellp()) < (64u << 20))
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        std::string icon = MakeIco();
        std::ofstream(ico, std::ios::binary).write(icon.data(), static_cast<std::streamsize>(icon.size()));
    }
    std::int64_t size = platform::FileSize(source);
    const int rounds = 5;
    double bestCopy = 1e9, bestEdit = 1e9;
    long rssBefore = MaxRssKiB();
    for (int i = 0; i < rounds; ++i) {
        std::string command = "cp '" + source + "' '" + copy + "'";
        bestCopy = std::min(bestCopy, Seconds([&] {
                                if (std::system(command.c_str()) != 0) std::abort();
                            }));
        platform::RemoveFile(copy);
        if (!platform::CopyFileBytes(source, work)) std::abort();
        bool ok = false;
        bestEdit = std::min(bestEdit, Seconds([&] {
                                auto* h = resedit::BeginResourceEdit(platform::Utf16FromNarrow(work), false);
                                resedit::RemoveIconGroup(h, u"1", 2057);
                                ok = resedit::ImportIconGroup(h, u"0", 2057, platform::Utf16FromNarrow(ico));
                                ok = resedit::EndResourceEdit(h, false) && ok;
                            }));
        if (!ok) {
            std::printf("resedit_bench: the icon replacement failed\n");
            return 1;
        }
    }
    long rssAfter = MaxRssKiB();
    std::printf("file size               %lld bytes (%.1f MiB)\n", static_cast<long long>(size),
                size / 1048576.0);
    std::printf("cp of the file          %.4f s (best of %d)\n", bestCopy, rounds);
    std::printf("icon replacement        %.4f s (best of %d; file grows, 64 MiB tail moved)\n", bestEdit,
                rounds);
    std::printf("ratio replacement / cp  %.2f (target: at most 3)\n", bestEdit / bestCopy);
    std::printf("peak memory             %ld KiB before, %ld KiB after the edits (file %lld KiB)\n",
                rssBefore, rssAfter, static_cast<long long>(size / 1024));
    return 0;
}
