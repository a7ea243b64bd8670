// nimbrel-cli list, verify and extract: the archive at the end of a screensaver or on its own.
#include <cstdio>
#include <optional>
#include <filesystem>
#include <ostream>
#include <set>
#include <system_error>

#include "archive/archive_reader.h"
#include "archive/file_stream.h"
#include "archive/pe_layout.h"
#include "cli/cli.h"
#include "cli/extract_names.h"
#include "cli/json.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/safe_create.h"
#include "signing/authenticode.h"

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
        // The reader's messages may quote member names: shown escaped, as every name is.
        throw Error(path + ": " + PrintableText(e.what()));
    }
}

// The member as --json shows it; `result` is verify's verdict, empty for list.
JsonObject MemberJson(const ArchiveReader& reader, std::size_t index) {
    const ArchiveMember& m = reader.Members()[index];
    JsonObject o;
    o.Add("index", static_cast<std::int64_t>(index + 1))
        .Add("name", m.name)
        .Add("path", m.path)
        .Add("originalSize", m.originalSize)
        .Add("storedSize", m.storedSize)
        .Add("method", m.stored ? "stored" : "compressed")
        .Add("level", m.level)
        .Add("crc", Hex(m.crc))
        .Add("offset", m.dataOffset)
        .Add("fileOffset", static_cast<std::int64_t>(reader.ArchiveStart()) + m.dataOffset);
    return o;
}

JsonObject ArchiveJson(const ArchiveReader& reader, const std::string& file) {
    const auto& t = reader.Trailer();
    JsonObject o;
    o.Add("file", file)
        .Add("archiveStart", static_cast<std::int64_t>(reader.ArchiveStart()))
        .Add("archiveLength", static_cast<std::int64_t>(reader.ArchiveLength()))
        .Add("memberCount", static_cast<std::int64_t>(reader.Members().size()))
        .Add("registryCompressed", t.RegistryCompressed != 0)
        .Add("registrySize", static_cast<std::int64_t>(t.RegistrySize))
        .Add("archiveCrc", Hex(t.ArchiveCrc));
    return o;
}

int RunList(const Arguments& args, Console& console) {
    std::ostream& out = console.out;
    const std::string& file = args.operands[0];
    ArchiveReader reader = OpenArchive(file);
    if (args.Has("--json")) {
        std::vector<std::string> members;
        for (std::size_t i = 0; i < reader.Members().size(); ++i)
            members.push_back(MemberJson(reader, i).Text());
        out << ArchiveJson(reader, file).AddRaw("members", JsonArray(members, 0)).Text() << "\n";
        return kExitOk;
    }
    out << Describe(reader, file) << "\n";
    out << Column("#", 5, true) << "  " << Column("Stored", 11, true) << "  " << Column("Original", 11, true)
        << "  " << Column("Method", 10) << "  Level  CRC       " << Column("Offset", 11, true) << "  Name\n";
    std::size_t index = 0;
    for (const ArchiveMember& m : reader.Members()) {
        out << Column(std::to_string(++index), 5, true) << "  "
            << Column(std::to_string(m.storedSize), 11, true) << "  "
            << Column(std::to_string(m.originalSize), 11, true) << "  "
            << Column(m.stored ? "stored" : "compressed", 10) << "  "
            << Column(std::to_string(m.level), 5, true) << "  " << Hex(m.crc) << "  "
            << Column(std::to_string(m.dataOffset), 11, true) << "  " << PrintableText(m.path + m.name) << "\n";
    }
    return kExitOk;
}

int RunVerify(const Arguments& args, Console& console) {
    std::ostream& out = console.out;
    std::ostream& err = console.err;
    const std::string& file = args.operands[0];
    const bool json = args.Has("--json");
    ArchiveReader reader = OpenArchive(file);
    const bool archiveCrcOk = reader.VerifyArchiveCrc();
    std::vector<std::string> errors(reader.Members().size());
    std::size_t bad = 0;
    for (std::size_t i = 0; i < reader.Members().size(); ++i) {
        try {
            reader.Extract(i, [](const char*, std::size_t) {});
        } catch (const Error& e) {
            errors[i] = e.what();
            ++bad;
        }
    }
    // A signed program: its signature must still cover these very bytes.
    std::optional<signing::SignatureReport> signature;
    std::string signatureNote;
    if (signing::SigningAvailable()) {
        signing::SignatureReport report = signing::CheckSignature(file);
        if (report.present) signature = report;
    } else if (auto pe = archive::ReadPeLayout(*archive::FileByteSource(file)); pe && pe->HasCertTable()) {
        signatureNote = "signature not checked: this build of nimbrel-cli cannot check signatures";
    }
    const bool signatureOk = !signature || signature->matches;
    const bool ok = archiveCrcOk && bad == 0 && signatureOk;

    if (json) {
        std::vector<std::string> members;
        for (std::size_t i = 0; i < reader.Members().size(); ++i) {
            JsonObject member = MemberJson(reader, i);
            member.Add("ok", errors[i].empty());
            if (!errors[i].empty()) member.Add("error", errors[i]);
            members.push_back(member.Text());
        }
        JsonObject result = ArchiveJson(reader, file);
        if (signature) {
            JsonObject sig;
            sig.Add("signer", signature->signer).Add("digest", signature->digest).Add("ok", signature->matches);
            if (!signature->matches) sig.Add("error", signature->problem);
            result.AddRaw("signature", sig.Text());
        }
        out << result.Add("archiveCrcOk", archiveCrcOk)
                   .Add("ok", ok)
                   .AddRaw("members", JsonArray(members, 0))
                   .Text()
            << "\n";
        return ok ? kExitOk : kExitFailure;
    }

    out << Describe(reader, file) << "\n";
    if (archiveCrcOk) {
        out << "archive CRC " << Hex(reader.Trailer().ArchiveCrc) << " OK\n";
    } else {
        err << "archive CRC mismatch: the trailer says " << Hex(reader.Trailer().ArchiveCrc)
            << " but the archive's bytes differ\n";
    }
    if (signature && signature->matches) {
        out << "signature OK: signed by " << (signature->signer.empty() ? "(no name)" : signature->signer) << ", "
            << signature->digest << "\n";
    } else if (signature) {
        err << "signature FAILED" << (signature->signer.empty() ? "" : " (signed by " + signature->signer + ")")
            << ": " << signature->problem << "\n";
    } else if (!signatureNote.empty()) {
        err << "warning: " << signatureNote << "\n";
    }
    for (std::size_t i = 0; i < errors.size(); ++i)
        if (!errors[i].empty())
            err << "member " << i + 1 << " (" << PrintableText(reader.Members()[i].name)
                << "): " << PrintableText(errors[i]) << "\n";
    if (ok) {
        out << "OK: " << reader.Members().size() << " member(s) checked\n";
        return kExitOk;
    }
    err << "FAILED: " << bad << " of " << reader.Members().size() << " member(s) damaged"
        << (archiveCrcOk ? "" : ", archive CRC wrong") << (signatureOk ? "" : ", signature does not match")
        << "\n";
    return kExitFailure;
}

int RunExtract(const Arguments& args, Console& console) {
    std::ostream& out = console.out;
    std::ostream& err = console.err;
    ArchiveReader reader = OpenArchive(args.operands[0]);
    const std::string& dir = args.operands[1];
    if (const std::string what = platform::DescribeNonRegular(dir); !what.empty() && what.find("folder") == std::string::npos) {
        err << "cannot extract into " << dir << ": it is " << what << ", not a folder; nothing was written\n";
        return kExitFailure;
    }
    std::error_code ec;
    std::filesystem::create_directories(platform::NativePath(dir), ec);
    if (!platform::DirectoryExists(dir)) {
        err << "cannot create the folder " << dir << (ec ? ": " + ec.message() : std::string()) << "\n";
        return kExitFailure;
    }
    if (platform::IsRedirectedFolder(dir)) {
        err << "the folder " << dir
            << " is a link to another place (a reparse point): choose a plain folder\n";
        return kExitFailure;
    }
    bool ok = true;
    if (!reader.VerifyArchiveCrc()) {
        err << "warning: archive CRC mismatch; members are extracted with their own CRCs checked\n";
        ok = false;
    }
    std::set<std::string> taken;
    std::size_t written = 0;
    for (std::size_t i = 0; i < reader.Members().size(); ++i) {
        const ArchiveMember& m = reader.Members()[i];
        std::string label = "member " + std::to_string(i + 1) + " \"" + PrintableText(m.name) + "\"";
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
            err << label << " (" << path << "): " << PrintableText(e.what()) << "\n";
            ok = false;
        }
    }
    out << written << " of " << reader.Members().size() << " member(s) written to " << dir << "\n";
    return ok ? kExitOk : kExitFailure;
}

}  // namespace

Command ListCommandEntry() {
    Command c;
    c.name = "list";
    c.operands = "FILE";
    c.minOperands = c.maxOperands = 1;
    c.summary = "list the members of an archive or screensaver";
    c.description =
        "Lists the members of the archive in FILE, which may be an archive of its own or a\n"
        "screensaver (.scr) that ends with one: sizes, stored or compressed, level, CRC and\n"
        "offset (from the archive's start; the file offset adds the archive's start).\n";
    c.options = {{"--json", "", "", "", "print one JSON object with one object per member"}};
    c.examples = {"nimbrel-cli list holiday.scr", "nimbrel-cli list --json holiday.scr"};
    c.run = RunList;
    return c;
}

Command VerifyCommandEntry() {
    Command c;
    c.name = "verify";
    c.operands = "FILE";
    c.minOperands = c.maxOperands = 1;
    c.summary = "check the archive CRC and every member's CRC";
    c.description =
        "Checks the archive in FILE: the CRC over the archive and every member's data and CRC.\n"
        "A signed screensaver's signature is checked too: the signer's name and digest are\n"
        "shown, and a file changed after signing fails.\n"
        "Exits with 1 when anything is damaged.\n";
    c.options = {{"--json", "", "", "", "print one JSON object with the result for every member"}};
    c.examples = {"nimbrel-cli verify holiday.scr", "nimbrel-cli verify --json holiday.scr"};
    c.run = RunVerify;
    return c;
}

Command ExtractCommandEntry() {
    Command c;
    c.name = "extract";
    c.operands = "FILE DIR";
    c.minOperands = c.maxOperands = 2;
    c.summary = "write every member into DIR under its bare name";
    c.description =
        "Writes every member of the archive in FILE into the folder DIR (made when missing).\n"
        "Names that are no plain file names are made safe; names already taken get \" (2)\",\n"
        "\" (3)\" ... so nothing is overwritten. Damaged members are reported and not kept.\n";
    c.examples = {"nimbrel-cli extract holiday.scr holiday-files"};
    c.run = RunExtract;
    return c;
}

}  // namespace nimbrel::cli
