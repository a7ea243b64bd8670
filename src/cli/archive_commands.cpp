// nimbrel-cli list, verify and extract: the archive at the end of a screensaver or on its own.
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <set>
#include <system_error>

#include "archive/archive_reader.h"
#include "archive/file_stream.h"
#include "cli/cli.h"
#include "cli/extract_names.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/safe_create.h"

namespace nimbrel::cli {

using archive::ArchiveMember;
using archive::ArchiveReader;

namespace {

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
    return text;
}

std::string Column(std::string text, std::size_t width, bool right = false) {
    if (text.size() < width) text.insert(right ? 0 : text.size(), width - text.size(), ' ');
    return text;
}

bool WrongArguments(const std::vector<std::string>& args, std::size_t count, const char* usage,
                    std::ostream& err) {
    if (args.size() == count) return false;
    err << "Usage: nimbrel-cli " << usage << " (see nimbrel-cli --help)\n";
    return true;
}

std::string Describe(const ArchiveReader& reader, const std::string& file) {
    const auto& t = reader.Trailer();
    std::string text = file + ": archive of " + std::to_string(reader.ArchiveLength()) + " bytes at offset " +
                       std::to_string(reader.ArchiveStart()) + ", " +
                       std::to_string(reader.Members().size()) + " member(s), registry ";
    text +=
        t.RegistryCompressed ? "compressed (" + std::to_string(t.RegistrySize) + " bytes)" : "stored plain";
    return text;
}

// The archive at the end of `path`. Every failure names the file: the reader's own messages
// ("No archive found ...", "The archive is damaged: ...") get the path in front.
ArchiveReader OpenArchive(const std::string& path) {
    std::shared_ptr<archive::ByteSource> source = archive::FileByteSource(path);  // names the file
    try {
        return ArchiveReader(source);
    } catch (const Error& e) {
        throw Error(path + ": " + e.what());
    }
}

}  // namespace

int ListCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (WrongArguments(args, 1, "list FILE", err)) return kExitUsage;
    ArchiveReader reader = OpenArchive(args[0]);
    out << Describe(reader, args[0]) << "\n";
    out << Column("#", 5, true) << "  " << Column("Stored", 11, true) << "  " << Column("Original", 11, true)
        << "  " << Column("Method", 10) << "  Level  CRC       " << Column("Offset", 11, true) << "  Name\n";
    std::size_t index = 0;
    for (const ArchiveMember& m : reader.Members()) {
        out << Column(std::to_string(++index), 5, true) << "  "
            << Column(std::to_string(m.storedSize), 11, true) << "  "
            << Column(std::to_string(m.originalSize), 11, true) << "  "
            << Column(m.stored ? "stored" : "compressed", 10) << "  "
            << Column(std::to_string(m.level), 5, true) << "  " << Hex(m.crc) << "  "
            << Column(std::to_string(m.dataOffset), 11, true) << "  " << m.path << m.name << "\n";
    }
    return kExitOk;
}

int VerifyCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (WrongArguments(args, 1, "verify FILE", err)) return kExitUsage;
    ArchiveReader reader = OpenArchive(args[0]);
    out << Describe(reader, args[0]) << "\n";
    bool ok = true;
    if (reader.VerifyArchiveCrc()) {
        out << "archive CRC " << Hex(reader.Trailer().ArchiveCrc) << " OK\n";
    } else {
        err << "archive CRC mismatch: the trailer says " << Hex(reader.Trailer().ArchiveCrc)
            << " but the archive's bytes differ\n";
        ok = false;
    }
    std::size_t bad = 0;
    for (std::size_t i = 0; i < reader.Members().size(); ++i) {
        try {
            reader.Extract(i, [](const char*, std::size_t) {});
        } catch (const Error& e) {
            err << "member " << i + 1 << " (" << reader.Members()[i].name << "): " << e.what() << "\n";
            ++bad;
            ok = false;
        }
    }
    if (ok) {
        out << "OK: " << reader.Members().size() << " member(s) checked\n";
        return kExitOk;
    }
    err << "FAILED: " << bad << " of " << reader.Members().size() << " member(s) damaged"
        << (reader.VerifyArchiveCrc() ? "" : ", archive CRC wrong") << "\n";
    return kExitFailure;
}

int ExtractCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (WrongArguments(args, 2, "extract FILE DIR", err)) return kExitUsage;
    ArchiveReader reader = OpenArchive(args[0]);
    const std::string& dir = args[1];
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(dir), ec);
    if (!platform::DirectoryExists(dir)) {
        err << "cannot create the folder " << dir << (ec ? ": " + ec.message() : std::string()) << "\n";
        return kExitFailure;
    }
#ifdef _WIN32
    // A junction or mount point would carry every member somewhere else.
    std::string folder = dir;
    while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    if (platform::IsLinkOrReparsePoint(folder)) {
        err << "the folder " << dir
            << " is a link to another place (a reparse point): choose a plain folder\n";
        return kExitFailure;
    }
#endif
    bool ok = true;
    if (!reader.VerifyArchiveCrc()) {
        err << "warning: archive CRC mismatch; members are extracted with their own CRCs checked\n";
        ok = false;
    }
    std::set<std::string> taken;
    std::size_t written = 0;
    for (std::size_t i = 0; i < reader.Members().size(); ++i) {
        const ArchiveMember& m = reader.Members()[i];
        std::string label = "member " + std::to_string(i + 1) + " \"" + m.name + "\"";
        std::string safe = SafeMemberName(m.name, "member_" + std::to_string(i + 1));
        if (safe != m.name) out << label << " is not a plain file name: written as \"" << safe << "\"\n";
        // Each file is created new, never over an existing entry and never through a link (even
        // a dangling one): a taken name moves on to the next " (N)".
        std::string target;
        std::string path;
        archive::FileStream file;
        std::string failure;
        for (;;) {
            target = UniqueName(safe, taken);
            taken.insert(LowerAscii(target));
            path = platform::JoinPath(dir, target);
            try {
                file = archive::FileStream(path, archive::FileStream::Mode::CreateNew);
                break;
            } catch (const archive::FileStream::Exists&) {
                continue;
            } catch (const Error& e) {
                failure = e.what();
                break;
            }
        }
        if (target != safe)
            out << label << ": \"" << safe << "\" is taken, written as \"" << target << "\"\n";
        if (!failure.empty()) {
            err << label << ": cannot create " << path << ": " << failure << "\n";
            ok = false;
            continue;
        }
        try {
            reader.Extract(i, [&file](const char* data, std::size_t size) { file.Write(data, size); });
            file.Close();
            out << "extracted " << target << " (" << m.originalSize << " bytes)\n";
            ++written;
        } catch (const Error& e) {
            file = archive::FileStream();
            platform::RemoveFile(path);
            err << label << " (" << path << "): " << e.what() << "\n";
            ok = false;
        }
    }
    out << written << " of " << reader.Members().size() << " member(s) written to " << dir << "\n";
    return ok ? kExitOk : kExitFailure;
}

}  // namespace nimbrel::cli
