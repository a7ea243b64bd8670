// The build from project to screensaver in one place: its checks, its steps and the one rollback
// that keeps the old screensaver until the new one is whole read best together, so this file
// stays whole at a little over 700 lines.
#include "pipeline/build_pipeline.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>

#include "archive/file_stream.h"
#include "archive/zlb_archive.h"
#include "flash/flash_recorder.h"
#include "flash/frame_index.h"
#include "pipeline/picture_conversion.h"
#include "platform/error.h"
#include "platform/file_mapping.h"
#include "platform/files.h"
#include "platform/interrupt.h"
#include "platform/paths.h"
#include "platform/temp.h"
#include "project/project_paths.h"
#include "resedit/resource_edit.h"
#include "show/captions.h"
#ifdef NIMBREL_HAVE_CAPTIONS
#include "captions/caption_text.h"
#endif

namespace nimbrel::pipeline {

namespace {

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

FilePtr OpenFile(const std::string& path, const char* mode) {
    return FilePtr(std::fopen(path.c_str(), mode), &std::fclose);
}

bool IsReadable(const std::string& path) {
    if (path.empty() || platform::DirectoryExists(path)) return false;
    return OpenFile(path, "rb") != nullptr;
}

// A message about the screensaver's temporary name, told with the screensaver's own name.
std::string NamedAsOutput(std::string text, const std::string& temporary, const std::string& output) {
    if (const auto at = text.find(temporary); at != std::string::npos) text.replace(at, temporary.size(), output);
    return text;
}

// Why `stub` cannot be the screensaver's player, or "" when it can: it must be a regular file
// (a pipe would hang the build, a link to a device fill the disk) holding a Windows program.
std::string StubProblem(const std::string& stub) {
    if (platform::DirectoryExists(stub)) return Format("Cannot open file %s", stub);
    const std::string what = platform::DescribeNonRegular(stub);
    if (!what.empty()) return "The player " + stub + " is " + what + ", not a Windows program; nothing was built";
    if (!IsReadable(stub)) return Format("Cannot open file %s", stub);
    char magic[2] = {};
    FilePtr in = OpenFile(stub, "rb");
    const std::size_t got = in ? std::fread(magic, 1, sizeof magic, in.get()) : 0;
    if (got == 0)
        return "The player " + stub + " is empty: it holds no Windows program; nothing was built";
    if (got < 2 || magic[0] != 'M' || magic[1] != 'Z')
        return "The player " + stub + " is not a Windows program (it does not start with \"MZ\"); nothing was built";
    return {};
}

// Writes a fresh copy of the stub over `path`, a file that exists.
void CopyStub(const std::string& stub, const std::string& path) {
    if (const std::string problem = StubProblem(stub); !problem.empty()) throw Error(problem);
    FilePtr in = OpenFile(stub, "rb");
    if (!in) throw Error(Format("Cannot open file %s", stub));
    // The empty file made for this build, opened and never made again: once an interrupt has
    // removed it, the build cannot bring it back by name.
    FilePtr out = OpenFile(path, "r+b");
    if (!out) throw Error(Format("Cannot create file %s", path));
    const std::int64_t size = platform::FileSize(stub);
    std::vector<char> buffer(1 << 20);
    std::int64_t copied = 0;
    std::size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0) {
        errno = 0;
        if (std::fwrite(buffer.data(), 1, got, out.get()) != got)
            throw Error(platform::WriteFailureMessage(path, errno, size, copied));
        copied += static_cast<std::int64_t>(got);
    }
    if (std::ferror(in.get())) throw Error(Format("Cannot open file %s", stub));
    errno = 0;
    // A second copy over a half-rewritten one leaves nothing of it past the stub's end.
    if (platform::TruncateFile(out.get(), copied) != 0)
        throw Error(platform::WriteFailureMessage(path, errno, size, copied));
    if (std::fclose(out.release()) != 0) throw Error(platform::WriteFailureMessage(path, errno, size, copied));
}

// Gives the copied stub the project's icon. Any failure leaves the stub's own icon in place.
void ChangeIcon(const std::string& stub, const std::string& path, const std::string& iconFile,
                BuildReporter& reporter) {
    using namespace nimbrel::resedit;
    ResourceEditHandle* handle = BeginResourceEdit(platform::Utf16FromNarrow(path), false);
    RemoveIconGroup(handle, u"1", 2057);
    bool imported = false;
    try {
        imported = ImportIconGroup(handle, u"0", 2057, platform::Utf16FromNarrow(iconFile));
    } catch (const std::exception&) {
        // Without a handle (the stub is no executable the editor accepts) the import raises;
        // the screensaver then simply keeps the stub's icon.
    }
    if (!handle) return;
    if (!imported) {
        // Committing now would keep the removal of the stub's icon without a new one.
        EndResourceEdit(handle, true);
        reporter.Notice("Unable to Change Icon");
        return;
    }
    if (!EndResourceEdit(handle, false)) {
        // The rewrite may have stopped halfway: start again from an unmodified stub.
        reporter.Notice("Unable to Change Icon");
        CopyStub(stub, path);
    }
}


// The captions member: the masks of the entries' captions, by entry. An entry without a file
// has none.
void WriteCaptionsMember(const project::SlideShowValues& values, const std::vector<std::string>& resolvedMedia,
                         const std::vector<std::string>& listedMedia, const std::string& path,
                         BuildReporter& reporter) {
#ifdef NIMBREL_HAVE_CAPTIONS
    std::vector<std::string> paths(resolvedMedia.size());
    for (std::size_t i = 0; i < paths.size(); ++i)
        if (!listedMedia[i].empty()) paths[i] = resolvedMedia[i];
    const std::string bytes = show::WriteCaptionMasks(
        captions::ProjectCaptionMasks(values, paths, [&](std::size_t, std::size_t) { reporter.ProcessEvents(); }));
    FilePtr out = OpenFile(path, "wb");
    if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out.get()) != bytes.size() ||
        std::fclose(out.release()) != 0)
        throw Error(Format("Cannot create file %s", path));
#else
    (void)values, (void)resolvedMedia, (void)listedMedia, (void)path, (void)reporter;
    throw Error("This build of Nimbrel cannot draw captions: turn them off on the Show tab to compile the show");
#endif
}

}  // namespace

std::string ChooseOutputPath(const std::string& outputBoxText, const std::string& projectFileName) {
    if (!outputBoxText.empty()) return outputBoxText;
    // The box's text is read relative to the project: a project given as "sub/x.nssp" gets
    // "x.scr", which names sub/x.scr, as it would from inside sub/.
    if (!project::IsAbsolutePath(projectFileName))
        return platform::ChangeExtension(platform::FileNamePart(projectFileName), ".scr");
    return platform::ChangeExtension(projectFileName, ".scr");
}

std::string AboutFileBytes(const std::string& name, const std::string& aboutText) {
    return name + "\r\n" + aboutText + "\r\n";
}

std::string CompletionText(const std::string& outputPath, std::int64_t size,
                           const std::vector<LeftOutFile>& leftOutFiles,
                           const std::vector<LeftOutFile>& notShownFiles) {
    std::string text = "The project was saved during compile.";
    text += "\n\r";
    text += "File: " + platform::FileNamePart(outputPath) + " Output";
    text += "\n\r";
    text += std::to_string(size) + " bytes output";
    if (!leftOutFiles.empty()) {
        text += "\n\r\n\r";
        text += leftOutFiles.size() == 1 ? "This file was left out of the screensaver:"
                                         : "These files were left out of the screensaver:";
        for (const auto& file : leftOutFiles)
            text += "\n\r" + (file.path.empty() ? std::string("(an entry without a file name)") : file.path) +
                    " " + file.reason;
    }
    if (!notShownFiles.empty()) {
        text += "\n\r\n\r";
        text += notShownFiles.size() == 1 ? "This file was packed, but the screensaver will not show it:"
                                          : "These files were packed, but the screensaver will not show them:";
        for (const auto& file : notShownFiles) text += "\n\r" + file.path + " " + file.reason;
    }
    return text;
}

namespace {

// The build refuses to write its screensaver over a file the user needs for it.
void CheckOutputPath(const std::string& output, const std::string& projectFileName,
                     const std::vector<std::string>& media, const std::string& iconFile,
                     const BuildRequest& request) {
    if (platform::DirectoryExists(output))
        throw Error("The output path " + output + " is a folder; choose a file name for the screensaver");
    auto refuse = [&](const std::string& what, const std::string& path) {
        throw Error("The output file " + output + " is " + what + " (" + path +
                    "); choose another output file, nothing was changed");
    };
    if (platform::SameFile(output, projectFileName)) refuse("the project file itself", projectFileName);
    for (const std::string& file : media)
        if (platform::SameFile(output, file)) refuse("one of the project's media files", file);
    if (platform::SameFile(output, iconFile)) refuse("the project's icon file", iconFile);
    if (platform::SameFile(output, request.stubPath)) refuse("a player stub", request.stubPath);
    if (platform::SameFile(output, request.flashStubPath)) refuse("a player stub", request.flashStubPath);
}

// Which folder on the path to `file` keeps it from being looked at: the folder above the first
// entry on the path whose status is refused.
std::string LockedFolderOf(const std::string& file) {
    namespace fs = std::filesystem;
    std::error_code absolute;
    const fs::path path = fs::absolute(platform::NativePath(file), absolute);
    fs::path reached;
    for (const fs::path& part : path) {
        const fs::path next = reached / part;
        std::error_code ec;
        (void)fs::status(next, ec);
        if (ec == std::errc::permission_denied && !reached.empty())
            return "the folder " + platform::NarrowPath(reached) + " cannot be opened (permission denied)";
        reached = next;
    }
    return "a folder on its path cannot be opened (permission denied)";
}

// Why a media file cannot go into the archive, or "" when it can be read. A file beyond the
// format's limit for one member ends the build.
std::string ReasonLeftOut(const std::string& listed, const std::string& resolved) {
    (void)listed;
    switch (platform::KindOfFile(resolved)) {
        case platform::FileKind::Missing: {
            // A file that is there but cannot be reached is not "missing".
            std::error_code ec;
            (void)std::filesystem::status(platform::NativePath(resolved), ec);
            if (ec == std::errc::too_many_symbolic_link_levels)
                return "cannot be reached: its path runs into a loop of symbolic links";
            if (ec == std::errc::permission_denied) return "cannot be found: " + LockedFolderOf(resolved);
            return "cannot be found";
        }
        case platform::FileKind::Directory: return "is a folder, not a file";
        case platform::FileKind::Other: return "is not a regular file (a device or a pipe cannot be packed)";
        case platform::FileKind::Regular: break;
    }
    std::int64_t size = platform::FileSize(resolved);
    if (size > archive::kMaxArchiveSize)
        return "is " + std::to_string(size) + " bytes, more than the " + std::to_string(archive::kMaxArchiveSize) +
               " bytes a file in a screensaver can hold";
    if (!IsReadable(resolved)) return "cannot be read";
    return {};
}

// A strict build's error for a media file left out for `reason` (none when the reason is empty).
void ThrowIfLeftOut(const std::string& path, const std::string& reason) {
    if (reason.empty()) return;
    if (reason == "cannot be found" || reason == "cannot be read")
        throw Error(Format("Cannot open file %s",
                           path.empty() ? std::string("(an entry without a file name)") : path));
    throw Error((path.empty() ? std::string("An entry without a file name") : path) + " " + reason);
}

// Turns the build's steps and the archive's reports on each file into one progress over the
// whole build that only moves forward. Packing the files is the long part: it spans kPackStart
// to kPackEnd in proportion to their bytes.
class OverallProgress {
public:
    static constexpr double kSaved = 0.02;
    static constexpr double kPackStart = 0.05;
    static constexpr double kPackEnd = 0.95;
    static constexpr double kStubCopied = 0.97;
    static constexpr double kRecordEnd = 0.60;

    explicit OverallProgress(BuildReporter& reporter) : reporter_(reporter) {}

    void Step(double fraction) { Report(fraction); }

    // A Flash movie being recorded: it takes the span before packing, which then starts later.
    void Recording(int done, int total, const std::string& movie) {
        packStart_ = kRecordEnd;
        file_ = movie + " (recording frame " + std::to_string(done) + " of " + std::to_string(total) + ")";
        Report(kSaved + (kRecordEnd - kSaved) * (total > 0 ? static_cast<double>(done) / total : 1.0));
    }

    // The files to pack in archive order, and the name to show for each (empty for side files).
    void Plan(const std::vector<std::string>& paths, const std::vector<std::string>& shown) {
        paths_ = paths;
        shown_ = shown;
        before_.clear();
        for (const auto& path : paths) {
            before_.push_back(total_);
            std::int64_t size = platform::FileSize(path);
            sizes_.push_back(size > 0 ? size : 0);
            total_ += sizes_.back();
        }
    }

    // The archive has come to the file at `path` (done false) or finished it (done true).
    // Files come in the planned order; the same file may be listed more than once.
    void Member(const std::string& path, bool done) {
        if (!done) {
            std::size_t next = current_ < paths_.size() ? current_ + 1 : 0;
            while (next < paths_.size() && paths_[next] != path) ++next;
            if (next == paths_.size()) return;
            current_ = next;
            file_ = shown_[current_];
            Packed(before_[current_]);
        } else if (current_ < paths_.size() && paths_[current_] == path) {
            Packed(before_[current_] + sizes_[current_]);
        }
    }

    // Work within the current file that the archive does not report (a picture converted).
    void Within(int percent) {
        if (current_ >= paths_.size()) return;
        Packed(before_[current_] + sizes_[current_] * std::clamp(percent, 0, 100) / 100);
    }

    // A report of the archive within the current file: "Updating <path>" and its percentage.
    void ArchiveReport(const std::string& message, int percent) {
        if (current_ >= paths_.size() || message != "Updating " + paths_[current_]) return;
        Packed(before_[current_] + sizes_[current_] * std::clamp(percent, 0, 100) / 100);
    }

private:
    void Packed(std::int64_t bytes) {
        done_ = std::max(done_, bytes);
        double packed = total_ > 0 ? static_cast<double>(done_) / static_cast<double>(total_) : 1.0;
        Report(packStart_ + (kPackEnd - packStart_) * packed);
    }

    void Report(double fraction) {
        fraction_ = std::max(fraction_, std::clamp(fraction, 0.0, 1.0));
        if (fraction_ >= kPackEnd) {
            file_.clear();
            done_ = total_;
        }
        reporter_.Overall(BuildProgress{fraction_, file_, done_, total_});
    }

    BuildReporter& reporter_;
    std::vector<std::string> paths_, shown_;
    std::vector<std::int64_t> sizes_, before_;
    std::int64_t total_ = 0;
    std::int64_t done_ = 0;
    std::size_t current_ = static_cast<std::size_t>(-1);
    std::string file_;
    double fraction_ = 0;
    double packStart_ = kPackStart;
};

// Records the Flash movie for the players that have no Flash control, and adds its frames and
// their index to the members. Without the recorder, or for a movie it cannot record, the members
// stay as they are and the notice says why; a strict build fails instead.
void AddRecordedMovie(const BuildRequest& request, const std::string& listed, const std::string& movie,
                      const std::string& optionsPath, const platform::TempDirectory& work,
                      std::vector<std::string>& members, std::vector<std::string>& memberListed,
                      OverallProgress& overall, BuildReporter& reporter, BuildResult& result) {
    const flash::RecorderSetup setup = flash::FindRecorder(platform::DirectoryPart(request.flashStubPath));
    std::string why;
    if (!setup.Available()) {
        why = setup.missing;
    } else {
        const std::string frameDir = work.File("frames");
        std::filesystem::create_directories(frameDir);
        try {
            const auto progress = [&](int done, int total) {
                overall.Recording(done, total, listed);
                reporter.Progress(total > 0 ? done * 100 / total : 100);
                reporter.ProcessEvents();
                return !reporter.Cancelled();
            };
            const MovieRecording recording = RecordProjectMovie(movie, optionsPath, frameDir, setup, progress);
            const flash::FrameIndex& index = recording.index;
            const std::vector<std::string>& files = recording.files;
            const std::string indexPath = work.File(flash::kFrameIndexName);
            const std::string text = flash::WriteFrameIndex(index);
            FilePtr out = OpenFile(indexPath, "wb");
            if (!out || std::fwrite(text.data(), 1, text.size(), out.get()) != text.size() ||
                std::fclose(out.release()) != 0)
                throw Error(Format("Cannot create file %s", indexPath));
            members.push_back(indexPath);
            memberListed.push_back(indexPath);
            for (const auto& file : files) {
                members.push_back(file);
                memberListed.push_back(file);
            }
            result.recordedFrames = static_cast<int>(index.frames.size());
            if (!files.empty()) result.posterFrame = platform::ReadWholeFile(files.front());
            return;
        } catch (const flash::RecordingCancelled&) {
            throw;
        } catch (const flash::RecordingError& e) {
            why = e.what();
        }
    }
    result.notRecordedNotice = flash::NotRecordedNotice(why);
    if (request.strict) throw Error(result.notRecordedNotice);
}

}  // namespace

MovieRecording RecordProjectMovie(const std::string& movie, const std::string& projectFile,
                                  const std::string& frameDir, const flash::RecorderSetup& setup,
                                  const std::function<bool(int, int)>& progress) {
    flash::RecordOptions options;
    options.fixedSeconds = flash::ProjectRecordSeconds(projectFile);
    options.progress = progress;
    // A browser that dies fails the recording, never the program that records.
    const platform::BrokenPipesFail brokenPipesFail;
    const flash::Recording recording = flash::RecordMovie(movie, frameDir, setup, options);
    MovieRecording out;
    out.index.width = recording.width;
    out.index.height = recording.height;
    out.index.frameRate = recording.frameRate;
    out.index.background = recording.info.background;
    for (const auto& file : recording.frameFiles) {
        out.index.frames.push_back(platform::FileNamePart(file));
        if (out.files.empty() || out.files.back() != file) out.files.push_back(file);
    }
    return out;
}

std::string UnknownKindMessage(const std::string& projectFileName, int kind) {
    return projectFileName +
           " is a project of a kind this program does not know (Type=" + std::to_string(kind) +
           "; it knows 0, a slideshow, and 1, a Flash show); nothing was built or saved";
}

void CheckBuildInputs(const BuildRequest& request) {
    const project::ProjectValues& values = request.values;
    const bool flash = values.kind == project::kFlash;
    if (request.projectFileName.empty()) throw Error("No project is open");
    if (!flash && values.files.empty()) return;

    const std::string& stub = flash ? request.flashStubPath : request.stubPath;
    if (const std::string problem = StubProblem(stub); !problem.empty()) throw Error(problem);

    auto resolve = [&](const std::string& path) {
        return project::ResolveProjectPath(path, request.projectFileName);
    };
    const std::string output = resolve(
        ChooseOutputPath(flash ? values.flash.output : values.slideShow.output, request.projectFileName));
    if (!platform::DirectoryExists(output)) platform::RequireRegularOrNew(output, "The output file");
    const bool changeIcon = flash ? values.flash.changeIcon : values.slideShow.changeIcon;
    const std::string iconFile = resolve(flash ? values.flash.iconFile : values.slideShow.iconFile);
    if (changeIcon && !iconFile.empty()) {
        // A missing icon leaves the player's own; anything but a file would hang or never end.
        const std::string what = platform::DescribeNonRegular(iconFile);
        if (!what.empty())
            throw Error("The icon file " + iconFile + " is " + what + ", not an icon; nothing was built");
    }
    const std::string outputFolder = platform::DirectoryPart(output);
    try {
        if (platform::DirectoryExists(output)) throw Error(output);
        platform::TempFile probe(platform::MakeUniqueTempFile(outputFolder.empty() ? "." : outputFolder,
                                                              platform::LeftoverPrefix("~nb")));
    } catch (const Error&) {
        throw Error(Format("Cannot create file %s", output));
    }

    if (!request.strict) return;
    auto check = [&](const std::string& path) {
        if (!path.empty()) ThrowIfLeftOut(path, ReasonLeftOut(path, resolve(path)));
    };
    if (flash) {
        check(values.flash.flashFile);
        const flash::RecorderSetup setup = flash::FindRecorder(platform::DirectoryPart(request.flashStubPath));
        if (!values.flash.flashFile.empty() && !setup.Available())
            throw Error(flash::NotRecordedNotice(setup.missing));
    } else {
        for (const auto& file : values.files) check(file);
    }
}

BuildResult CompileProject(const BuildRequest& request, BuildReporter& reporter) {
    const project::ProjectValues& values = request.values;
    const bool flash = values.kind == project::kFlash;
    if (request.projectFileName.empty()) throw Error("No project is open");
    if (values.kind != project::kSlideShow && values.kind != project::kFlash)
        throw Error(UnknownKindMessage(request.projectFileName, values.kind));

    BuildResult result;
    project::ProjectValues saved = values;
    std::string& outputBox = flash ? saved.flash.output : saved.slideShow.output;
    // The box shows the path as chosen; a relative one names a file beside the project.
    outputBox = ChooseOutputPath(outputBox, request.projectFileName);
    auto resolve = [&](const std::string& path) {
        return project::ResolveProjectPath(path, request.projectFileName);
    };
    result.outputPath = resolve(outputBox);
    result.outputBoxText = outputBox;

    std::vector<std::string> listedMedia;
    if (flash) {
        if (!saved.flash.flashFile.empty()) listedMedia.push_back(saved.flash.flashFile);
    } else {
        listedMedia = saved.files;
    }
    std::vector<std::string> resolvedMedia;
    for (const auto& path : listedMedia) resolvedMedia.push_back(resolve(path));
    const bool changeIcon = flash ? saved.flash.changeIcon : saved.slideShow.changeIcon;
    const std::string iconFile = resolve(flash ? saved.flash.iconFile : saved.slideShow.iconFile);
    CheckOutputPath(result.outputPath, request.projectFileName, resolvedMedia, iconFile, request);
    CheckBuildInputs(request);

    OverallProgress overall(reporter);
    auto step = [&](int percent, double fraction) {
        reporter.Progress(percent);
        overall.Step(fraction);
    };
    step(0, 0.0);

    // What builds killed before they could clean up left behind (their names carry the id of
    // a process that is gone): the half-made screensavers beside the output, the work folders.
    {
        const std::string outputFolder = platform::DirectoryPart(result.outputPath);
        platform::RemoveLeftoversOfGoneProcesses(outputFolder.empty() ? "." : outputFolder, "~nb");
        const std::string temp = platform::GetTempDirectory();
        if (!temp.empty()) {
            platform::RemoveLeftoversOfGoneProcesses(temp, "nimbrel-build");
            platform::RemoveLeftoversOfGoneProcesses(temp, "nimbrel");
        }
    }

    // The side files live in a directory of this build alone: nothing in the project folder is
    // touched, and two builds at once never share a file.
    platform::TempDirectory work("nimbrel-build");
    const std::string aboutPath = work.File("About.cfg");
    const std::string optionsPath = work.File("Options.ini");

    {
        const std::string& name = flash ? saved.flash.title : saved.slideShow.showName;
        const std::string& text = flash ? saved.flash.showText : saved.slideShow.showText;
        std::string bytes = AboutFileBytes(name, text);
        FilePtr about = OpenFile(aboutPath, "wb");
        if (!about) throw Error(Format("Cannot create file %s", aboutPath));
        errno = 0;
        const bool written = std::fwrite(bytes.data(), 1, bytes.size(), about.get()) == bytes.size() &&
                             std::fflush(about.get()) == 0;
        const int err = errno;
        if (std::fclose(about.release()) != 0 || !written)
            throw Error(platform::WriteFailureMessage(aboutPath, written ? errno : err));
    }

    // A failure to write the build's own copy of the project names that copy.
    auto saveOptions = [&](const project::ProjectValues& values) {
        try {
            project::SaveProject(optionsPath, values);
        } catch (const Error& e) {
            if (e.what() == platform::IoErrorMessage(ENOSPC))
                throw Error(platform::WriteFailureMessage(optionsPath, ENOSPC));
            throw Error("Cannot write " + optionsPath + ": " + e.what());
        }
    };
    if (request.saveProject) {
        try {
            project::SaveProject(request.projectFileName, saved);
        } catch (const Error& e) {
            throw Error("Cannot save the project " + request.projectFileName + ": " + e.what());
        }
        if (!platform::CopyFileBytes(request.projectFileName, optionsPath))
            throw Error(Format("Cannot open file %s", request.projectFileName));
    } else {
        // The same bytes as saving and copying, with the project file left as it is.
        if (!platform::CopyFileBytes(request.projectFileName, optionsPath))
            throw Error(Format("Cannot open file %s", request.projectFileName));
        saveOptions(saved);
    }
    if (request.fitOverride && !flash) {
        project::ProjectValues fitted = saved;
        fitted.slideShow.fitPictures = true;
        fitted.slideShow.fitWidth = request.fitWidth;
        fitted.slideShow.fitHeight = request.fitHeight;
        saveOptions(fitted);
    }
    step(25, OverallProgress::kSaved);

    // Without pictures nothing is built, and the screensaver built before stays as it was.
    if (!flash && saved.files.empty()) {
        overall.Step(1.0);
        return result;
    }

    std::vector<std::string> members{optionsPath, aboutPath};
    std::vector<std::string> memberListed{request.projectFileName, aboutPath};
    for (std::size_t i = 0; i < listedMedia.size(); ++i) {
        const std::string& path = listedMedia[i];
        std::string reason =
            path.empty() ? std::string("names no file") : ReasonLeftOut(path, resolvedMedia[i]);
        if (reason.empty()) {
            members.push_back(resolvedMedia[i]);
            memberListed.push_back(path);
        } else {
            if (request.strict) ThrowIfLeftOut(path, reason);
            result.leftOutFiles.push_back({path, reason});
        }
        if (!flash) reporter.ProcessEvents();
    }
    if (flash && members.size() == 3)
        AddRecordedMovie(request, memberListed[2], members[2], optionsPath, work, members, memberListed, overall,
                         reporter, result);
    // Pictures the players cannot decode, and with "Fit" those larger than the screen, become
    // upright sRGB copies as the archive's workers come to them; one that cannot be converted is
    // left out and named.
    std::optional<ShowPictureConverter> pictures;
    if (!flash) {
        FitOptions fit{saved.slideShow.fitPictures, saved.slideShow.fitWidth, saved.slideShow.fitHeight};
        if (request.fitOverride) fit = {true, request.fitWidth, request.fitHeight};
        if (fit.width < kMinFitSide || fit.width > kMaxFitSide) fit.width = kDefaultFitWidth;
        if (fit.height < kMinFitSide || fit.height > kMaxFitSide) fit.height = kDefaultFitHeight;
        pictures.emplace(memberListed, 2, fit, work.File("pictures"), request.strict);
        pictures->storeCompressed = saved.slideShow.storeCompressed || request.storeCompressedOverride;
    }
    // The captions are drawn here, into masks that the players only compose; they follow the media.
    const std::size_t mediaEnd = members.size();
    if (!flash && saved.slideShow.show.caption != project::kCaptionNone) {
        const std::string captionsPath = work.File(show::kCaptionsMemberName);
        WriteCaptionsMember(saved.slideShow, resolvedMedia, listedMedia, captionsPath, reporter);
        members.push_back(captionsPath);
        memberListed.push_back(captionsPath);
    }
    // The names the progress shows: the media as listed, nothing for the side files.
    std::vector<std::string> shownNames(memberListed);
    shownNames[0].clear();
    shownNames[1].clear();
    for (std::size_t i = mediaEnd; i < shownNames.size(); ++i) shownNames[i].clear();

    // A recorded movie's frames show as the movie.
    for (std::size_t i = 3; flash && i < shownNames.size(); ++i) shownNames[i] = shownNames[2];
    overall.Plan(members, shownNames);
    step(40, OverallProgress::kPackStart);

    // The screensaver is put together under a temporary name beside its final place, the player
    // first and the archive written once straight after it, and takes that place only when
    // complete: until then the previous screensaver stays as it was, and a failure (or an
    // interrupt) leaves no half-written file behind. A link at the output path is written through.
    std::string finalOutput = result.outputPath;
    {
        std::error_code ec;
        if (std::filesystem::is_symlink(std::filesystem::symlink_status(finalOutput, ec)) &&
            platform::FileExists(finalOutput))
            finalOutput = std::filesystem::canonical(finalOutput, ec).string();
        if (ec) finalOutput = result.outputPath;
    }
    std::string outputFolder = platform::DirectoryPart(finalOutput);
    platform::TempFile part;
    try {
        part = platform::TempFile(platform::MakeUniqueTempFile(outputFolder.empty() ? "." : outputFolder,
                                                               platform::LeftoverPrefix("~nb")));
    } catch (const Error&) {
        throw Error(Format("Cannot create file %s", result.outputPath));
    }
    const std::string& stub = flash ? request.flashStubPath : request.stubPath;
    try {
        CopyStub(stub, part.Path());
        if (changeIcon && platform::FileExists(iconFile)) ChangeIcon(stub, part.Path(), iconFile, reporter);
    } catch (const Error& e) {
        throw Error(NamedAsOutput(e.what(), part.Path(), result.outputPath));
    }
    archive::FileStream screensaver;
    try {
        screensaver = archive::FileStream(part.Path(), archive::FileStream::Mode::ReadWrite);
        screensaver.SeekEnd();
    } catch (const Error&) {
        throw Error(Format("Cannot create file %s", result.outputPath));
    }

    std::vector<archive::RegistryEntry> packed;
    {
        archive::TZLBArchive cab;
        cab.CompressionLevel = archive::fcMaximum;
        cab.OnProgress = [&](const std::string& message, int percent) {
            reporter.Progress(percent);
            overall.ArchiveReport(message, percent);
        };
        // Members come to OnMember in list order; `current` is the one being waited for.
        std::size_t current = 0;
        int shownPercent = -1;
        // A picture being converted makes no archive report: its rows read so far move the bar.
        auto showConversion = [&] {
            const int percent = pictures ? pictures->PercentDone(current) : -1;
            if (percent >= 0 && percent != shownPercent) {
                shownPercent = percent;
                reporter.Progress(percent);
                overall.Within(percent);
            }
            reporter.ProcessEvents();
        };
        cab.OnMember = [&](const std::string& path, bool done) {
            overall.Member(path, done);
            if (!done) return;
            if (pictures && current >= 2 && current < mediaEnd) {
                if (pictures->PercentDone(current) >= 0) showConversion();
                pictures->Release(current);
                reporter.PictureProgress(path, static_cast<int>(current - 1),
                                         static_cast<int>(mediaEnd - 2));
            }
            ++current;
            shownPercent = -1;
        };
        cab.OnWaiting = showConversion;
        if (pictures) {
            cab.OnMemberSource = [&](const std::string& path, std::size_t index) {
                return pictures->Source(path, index);
            };
            pictures->OnProgressHere = showConversion;
        }
        std::vector<std::string> adding = members;
        try {
            cab.WriteArchive(screensaver, adding);
        } catch (const archive::ArchiveLimitError& e) {
            cab.CloseArchive();
            throw Error(std::string(e.what()) + "; nothing was built");
        } catch (const Error& e) {
            // A failure to write names the screensaver, not the name it has while it is made.
            cab.CloseArchive();
            throw Error(NamedAsOutput(e.what(), part.Path(), result.outputPath));
        } catch (...) {
            cab.CloseArchive();
            throw;
        }
        packed = cab.Entries();
        cab.CloseArchive();
    }
    step(60, OverallProgress::kPackEnd);
    try {
        result.outputSize = screensaver.Position();
        screensaver.Close();
    } catch (const archive::FileStream::IoFailure& e) {
        throw Error(platform::WriteFailureMessage(result.outputPath, e.code, result.outputSize,
                                                  platform::FileSize(part.Path())));
    }

    // A file that passed the checks above but failed while it was packed (it changed or could no
    // longer be read) is missing from the archive: name it too. The members are added in order.
    {
        std::size_t next = 0;
        for (std::size_t i = 0; i < members.size(); ++i) {
            std::string name = platform::FileNamePart(members[i]).substr(0, archive::kMaxNameLength);
            if (next < packed.size() && packed[next].FileName == name) {
                ++next;
                if (const std::string why = pictures && i >= 2 ? pictures->NotShownReason(i) : std::string();
                    !why.empty())
                    result.notShownFiles.push_back({memberListed[i], why});
                continue;
            }
            if (i < 2 || i >= mediaEnd) throw Error(Format("Cannot open file %s", memberListed[i]));
            const std::string reason = pictures ? pictures->LeftOutReason(i) : std::string();
            if (!reason.empty()) {
                result.leftOutFiles.push_back({memberListed[i], reason});
                continue;
            }
            if (request.strict) throw Error(Format("Cannot open file %s", memberListed[i]));
            result.leftOutFiles.push_back({memberListed[i], "could not be read while it was packed"});
        }
    }

    step(80, OverallProgress::kStubCopied);
    {
        // The new screensaver gets the permissions of the one it replaces, or those of a new file.
        std::error_code ec;
        auto old = std::filesystem::status(finalOutput, ec);
        auto perms = !ec && std::filesystem::exists(old)
                         ? old.permissions()
                         : std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                               std::filesystem::perms::group_read | std::filesystem::perms::others_read;
        std::filesystem::permissions(part.Path(), perms, ec);
    }
    // The output may have become something else while the build ran.
    platform::RequireRegularOrNew(finalOutput, "The output file");
    if (!platform::RenameFile(part.Path(), finalOutput))
        throw Error(Format("Cannot create file %s", result.outputPath));
    part.Release();
    step(100, 1.0);

    result.built = true;
    result.completionText =
        CompletionText(result.outputPath, result.outputSize, result.leftOutFiles, result.notShownFiles);
    if (!result.notRecordedNotice.empty()) result.completionText += "\n\r\n\r" + result.notRecordedNotice;
    return result;
}

}  // namespace nimbrel::pipeline
