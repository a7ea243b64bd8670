#include "pipeline/installer_package.h"

#include <vector>

#include "archive/file_stream.h"
#include "archive/zlb_archive.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/temp.h"
#include "platform/file_mapping.h"
#include "project/project_paths.h"
#include "resedit/resource_edit.h"

namespace nimbrel::pipeline {

namespace {

// Characters Windows refuses in a file name, and control characters, become '_'; trailing dots
// and blanks go.
std::string SafeFileName(const std::string& name) {
    std::string safe;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        safe += (u < 32 || std::string("<>:\"/\\|?*").find(c) != std::string::npos) ? '_' : c;
    }
    while (!safe.empty() && (safe.back() == '.' || safe.back() == ' ')) safe.pop_back();
    while (!safe.empty() && safe.front() == ' ') safe.erase(0, 1);
    return safe;
}

std::string OneLine(const std::string& text) {
    std::string line;
    for (char c : text) line += (c == '\r' || c == '\n') ? ' ' : c;
    return line;
}

void Append(archive::FileStream& to, const std::string& fromPath) {
    archive::FileStream from(fromPath, archive::FileStream::Mode::Read);
    std::vector<char> buffer(1 << 20);
    for (;;) {
        std::size_t got = from.Read(buffer.data(), buffer.size());
        if (got == 0) break;
        to.Write(buffer.data(), got);
    }
}

// setup.bin with the show's icon in place of its own, the way the build gives a player the
// project's icon; false when the icon cannot be put in (the caller then keeps setup's own).
bool ChangeSetupIcon(const std::string& path, const std::string& iconFile) {
    using namespace nimbrel::resedit;
    ResourceEditHandle* handle = nullptr;
    try {
        handle = BeginResourceEdit(platform::Utf16FromNarrow(path), false);
        if (!handle) return false;
        RemoveIconGroup(handle, u"1", 2057);
        if (!ImportIconGroup(handle, u"0", 2057, platform::Utf16FromNarrow(iconFile))) {
            EndResourceEdit(handle, true);
            return false;
        }
    } catch (const std::exception&) {
        if (handle) EndResourceEdit(handle, true);
        return false;
    }
    return EndResourceEdit(handle, false);
}

}  // namespace

InstallerContent InstallerContentOf(const project::ProjectValues& values, const std::string& projectFileName) {
    const bool flash = values.kind == project::kFlash;
    InstallerContent content;
    content.showName = flash ? values.flash.title : values.slideShow.showName;
    content.aboutText = flash ? values.flash.showText : values.slideShow.showText;
    const bool changeIcon = flash ? values.flash.changeIcon : values.slideShow.changeIcon;
    const std::string& icon = flash ? values.flash.iconFile : values.slideShow.iconFile;
    if (changeIcon && !icon.empty()) {
        const std::string path = project::ResolveProjectPath(icon, projectFileName);
        if (platform::FileExists(path)) content.iconFile = path;
    }
    return content;
}

std::string DefaultInstallerPath(const std::string& screensaverPath, const std::string& showName) {
    std::string name = SafeFileName(showName);
    if (name.empty()) {
        name = platform::FileNamePart(screensaverPath);
        const std::string extension = platform::ExtensionPart(name);
        name.resize(name.size() - extension.size());
    }
    return platform::JoinPath(platform::DirectoryPart(screensaverPath), name + " Setup.exe");
}

std::string SetupIniText(const InstallerContent& content, const std::string& screensaverFileName) {
    return "Name=" + OneLine(content.showName) + "\r\nPublisher=" + OneLine(content.publisher) +
           "\r\nFile=" + OneLine(screensaverFileName) + "\r\n";
}

void WriteInstaller(const std::string& setupPath, const std::string& screensaverPath,
                    const InstallerContent& content, const std::string& outputPath) {
    if (!platform::FileExists(setupPath)) throw Error(Format("Cannot open file %s", setupPath));
    if (!platform::FileExists(screensaverPath)) throw Error(Format("Cannot open file %s", screensaverPath));
    platform::TempDirectory work("nimbrel-setup");
    const std::string ini = work.File(kSetupIniMember);
    const std::string about = work.File(kSetupAboutMember);
    platform::WriteFileAtomically(ini, SetupIniText(content, platform::FileNamePart(screensaverPath)));
    platform::WriteFileAtomically(about, OneLine(content.showName) + "\r\n" + content.aboutText + "\r\n");

    // The screensaver is stored as it is: its pictures are compressed already.
    const std::string archivePath = work.File("setup.zlb");
    {
        archive::TZLBArchive archive;
        archive.CompressionLevel = archive::fcNone;
        std::string failure;
        archive.OnErrorLogged = [&failure](const std::string& message) {
            if (failure.empty()) failure = message;
        };
        archive.CreateArchive(archivePath);
        std::vector<std::string> files = {ini, about, screensaverPath};
        archive.AddFiles(files);
        if (!failure.empty() || !files.empty() || archive.Count() != 3)
            throw Error("Cannot pack " + screensaverPath + " into the installer" +
                        (failure.empty() ? std::string() : ": " + failure));
        archive.CloseArchive();
    }

    // The show's icon on setup.bin where it can be put in; else setup's own.
    std::string setup = setupPath;
    if (!content.iconFile.empty()) {
        const std::string withIcon = work.File("setup.bin");
        if (platform::CopyFileBytes(setupPath, withIcon) && ChangeSetupIcon(withIcon, content.iconFile))
            setup = withIcon;
    }

    const std::string folder = platform::DirectoryPart(outputPath);
    platform::TempFile partial(
        platform::MakeUniqueTempFile(folder.empty() ? "." : folder, platform::LeftoverPrefix("~nb")));
    try {
        // The empty file just made, opened and not made again: an interrupt's clean-up stays done.
        archive::FileStream out(partial.Path(), archive::FileStream::Mode::ReadWrite);
        Append(out, setup);
        Append(out, archivePath);
        out.Close();
    } catch (const Error& e) {
        throw Error(Format("Cannot create file %s", outputPath) + ": " + e.what());
    }
    if (!platform::RenameFile(partial.Path(), outputPath)) throw Error(Format("Cannot create file %s", outputPath));
    partial.Release();
}

}  // namespace nimbrel::pipeline
