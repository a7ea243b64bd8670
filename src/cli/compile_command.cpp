// nimbrel-cli compile: the editor's Compile command without a window.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <ostream>
#include <vector>

#include "pipeline/build_pipeline.h"
#include "pipeline/installer_package.h"
#include "pipeline/picture_conversion.h"
#include "pipeline/project_state.h"
#include "cli/cli.h"
#include "cli/progress_display.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/temp.h"
#include "project/project_file.h"
#include "signing/authenticode.h"

namespace nimbrel::cli {

namespace {

// Ctrl+C during a build: the build stops at its next look (a Flash recording at once, its
// browser and profile removed) instead of the process dying with the browser left behind.
std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int) { interrupted = true; }

class InterruptibleDisplay : public ProgressDisplay {
public:
    using ProgressDisplay::ProgressDisplay;
    bool Cancelled() override { return interrupted.load(); }
};

// Catches SIGINT and SIGTERM while it lives.
class InterruptGuard {
public:
    InterruptGuard() {
        interrupted = false;
        oldInt_ = std::signal(SIGINT, OnInterrupt);
        oldTerm_ = std::signal(SIGTERM, OnInterrupt);
    }
    ~InterruptGuard() {
        std::signal(SIGINT, oldInt_);
        std::signal(SIGTERM, oldTerm_);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    void (*oldInt_)(int);
    void (*oldTerm_)(int);
};


ProgressDisplay::Style ChooseStyle(const Arguments& args, const Console& console) {
    if (args.Has("--quiet")) return ProgressDisplay::Style::None;
    if (console.errIsTerminal) return ProgressDisplay::Style::Bar;
    return args.Has("--progress") ? ProgressDisplay::Style::Lines : ProgressDisplay::Style::None;
}

// Why the file a build error names cannot be used, as far as the system says; "" when nothing
// more is known. The build names media as the project lists them, relative to its folder, and
// the output and the players as paths of their own (already joined to the project's folder).
std::string WhyNot(const std::string& message, const std::string& projectFolder,
                   const std::vector<std::string>& ownPaths) {
    namespace fs = std::filesystem;
    static const std::string kOpen = "Cannot open file ", kCreate = "Cannot create file ";
    const bool open = message.rfind(kOpen, 0) == 0;
    if (!open && message.rfind(kCreate, 0) != 0) return {};
    std::string path = message.substr(open ? kOpen.size() : kCreate.size());
    const bool own = !open || std::find(ownPaths.begin(), ownPaths.end(), path) != ownPaths.end();
    if (!own && !platform::NativePath(path).is_absolute()) path = platform::JoinPath(projectFolder, path);
    std::error_code ec;
    if (open) {
        fs::file_status status = fs::status(platform::NativePath(path), ec);
        if (!fs::exists(status)) return "no such file";
        if (fs::is_directory(status)) return "it is a folder";
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (!file) return std::strerror(errno);
        std::fclose(file);
        return {};
    }
    if (fs::is_directory(platform::NativePath(path), ec)) return "a folder of that name is in the way";
    const std::string directory = platform::DirectoryPart(path);
    const std::string folder = directory.empty() ? std::string(".") : directory;
    if (!fs::exists(platform::NativePath(folder), ec)) return "the folder " + folder + " does not exist";
    if (!fs::is_directory(platform::NativePath(folder), ec)) return folder + " is no folder";
    try {
        platform::TempFile probe(platform::MakeUniqueTempFile(folder, platform::LeftoverPrefix("~nb")));
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

// "3840x2160" into its two sides, each within the bounds the build accepts.
bool ParseFit(const std::string& text, int& width, int& height) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos) return false;
    auto side = [](const std::string& digits, int& value) {
        if (digits.empty() || digits.size() > 5 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        value = std::stoi(digits);
        return value >= pipeline::kMinFitSide && value <= pipeline::kMaxFitSide;
    };
    return side(text.substr(0, x), width) && side(text.substr(x + 1), height);
}

// The signing options, read and the certificate opened before anything is built. Returns -1
// to go on, or the exit code.
int PrepareSigning(const Arguments& args, Console& console, const std::string& me,
                   std::optional<signing::SigningRequest>& request) {
    if (!args.Has("--sign")) {
        for (const char* option : {"--sign-password-file", "--timestamp"})
            if (args.Has(option)) {
                console.err << me << option << " needs --sign\n";
                return kExitUsage;
            }
        return -1;
    }
    if (!signing::SigningAvailable()) {
        console.err << me << "this build of nimbrel-cli cannot sign (it was built without OpenSSL); "
                    << "build without --sign and sign the file with another tool\n";
        return kExitUsage;
    }
    signing::SigningRequest r;
    r.certificatePath = args.Value("--sign");
    if (args.Has("--sign-password-file")) r.password = signing::ReadPasswordFile(args.Value("--sign-password-file"));
    r.timestampUrl = args.Value("--timestamp");
    signing::CertificateSigner(r.certificatePath, r.password);  // a wrong password fails here, early
    request = std::move(r);
    return -1;
}

// Signs a file the command made; false (with the message written) when it could not.
bool SignOutput(const std::string& path, const signing::SigningRequest& request, Console& console,
                const std::string& me, bool quiet, std::string& signer) {
    try {
        signing::SignResult signed_ = signing::SignFile(path, request);
        signer = signed_.signer;
        if (!quiet)
            console.out << "Signed: " << path << " by " << signed_.signer
                        << (signed_.timestamped ? " (time-stamped)" : "") << "\n";
        return true;
    } catch (const Error& e) {
        console.err << me << e.what() << "\n" << me << path << " is not signed\n";
        return false;
    }
}

int RunBuild(const Arguments& args, Console& console, bool installer) {
    const std::string& projectPath = args.operands[0];
    const std::string me = installer ? "nimbrel-cli installer: " : "nimbrel-cli compile: ";
    std::optional<signing::SigningRequest> signRequest;
    if (int code = PrepareSigning(args, console, me, signRequest); code >= 0) return code;
    const bool quiet = args.Has("--quiet");
    if (quiet && args.Has("--progress")) {
        console.err << me << "--quiet and --progress cannot be used together\n";
        return kExitUsage;
    }
    int fitWidth = 0, fitHeight = 0;
    if (args.Has("--fit") && !ParseFit(args.Value("--fit"), fitWidth, fitHeight)) {
        console.err << me << "--fit wants WIDTHxHEIGHT, each " << pipeline::kMinFitSide << " to "
                    << pipeline::kMaxFitSide << " (e.g. 3840x2160)\n";
        return kExitUsage;
    }
    const bool ownStubDir = args.Has("--stub-dir");
    const std::string stubDir = ownStubDir ? args.Value("--stub-dir") : platform::ExecutableDirectory();

    if (!platform::FileExists(projectPath)) throw Error("Project file not found: " + projectPath);
    pipeline::BuildRequest request;
    request.projectFileName = projectPath;
    request.values = pipeline::ProjectValuesFromFile(project::LoadProject(projectPath));
    request.stubPath = platform::JoinPath(stubDir, "stub.bin");
    request.flashStubPath = platform::JoinPath(stubDir, "flash.bin");
    request.strict = args.Has("--strict");
    if (args.Has("--fit")) {
        // For this build only: the screensaver is what the editor builds with the box ticked,
        // and the project file keeps the user's own choice.
        request.fitOverride = true;
        request.fitWidth = fitWidth;
        request.fitHeight = fitHeight;
    }
    request.storeCompressedOverride = args.Has("--store-compressed");
    const std::string setupPath = platform::JoinPath(stubDir, "setup.bin");
    if (installer && !platform::FileExists(setupPath)) {
        console.err << me << "the setup program " << setupPath << " is missing"
                    << (ownStubDir ? "\n" : "; --stub-dir DIR takes it (and the players) from DIR\n");
        return kExitFailure;
    }
    if (args.Has("--output") && !installer) {
        // A relative name means the current folder here, as on any command line, while the
        // project's own Output is relative to the project.
        std::error_code ec;
        std::filesystem::path output =
            std::filesystem::absolute(platform::NativePath(args.Value("--output")), ec);
        std::string& box = request.values.kind == project::kFlash ? request.values.flash.output
                                                                  : request.values.slideShow.output;
        box = ec ? args.Value("--output") : platform::NarrowPath(output);
        request.saveProject = false;
    }

    pipeline::BuildResult result;
    {
        InterruptGuard interruptGuard;
        InterruptibleDisplay display(console.err, ChooseStyle(args, console), console.columns);
        try {
            result = pipeline::CompileProject(request, display);
        } catch (const Error& e) {
            display.Finish();
            const std::string& stub =
                request.values.kind == project::kFlash ? request.flashStubPath : request.stubPath;
            std::string why = WhyNot(e.what(), platform::DirectoryPart(projectPath),
                                     {request.stubPath, request.flashStubPath});
            console.err << me << e.what() << (why.empty() ? "" : ": " + why) << "\n";
            if (!ownStubDir && e.what() == Format("Cannot open file %s", stub))
                console.err << "The players stub.bin and flash.bin are looked for beside nimbrel-cli; "
                               "--stub-dir DIR takes them from DIR.\n";
            return kExitFailure;
        }
    }
    if (!result.built) {
        console.err << me << "the project has no pictures: "
                    << (request.saveProject ? "it was saved, and " : "") << "no screensaver was built\n";
        return kExitFailure;
    }
    if (!result.leftOutFiles.empty()) {
        console.err << me << "warning: " << result.leftOutFiles.size()
                    << (result.leftOutFiles.size() == 1 ? " file was" : " files were")
                    << " left out of the screensaver:\n";
        // One line a file, where scripts look for trouble.
        for (const auto& file : result.leftOutFiles)
            console.err << me << "left out: "
                        << (file.path.empty() ? "(an entry without a file name)" : file.path) << " "
                        << file.reason << "\n";
    }
    if (!result.notRecordedNotice.empty())
        console.err << "nimbrel-cli compile: warning: " << result.notRecordedNotice << "\n";
    if (!result.notShownFiles.empty()) {
        console.err << "nimbrel-cli compile: warning: " << result.notShownFiles.size()
                    << (result.notShownFiles.size() == 1 ? " file was packed that the screensaver will not show:\n"
                                                         : " files were packed that the screensaver will not show:\n");
        for (const auto& file : result.notShownFiles)
            console.err << "nimbrel-cli compile: will not be shown: " << file.path << " " << file.reason << "\n";
    }
    if (!quiet) {
        if (request.saveProject) console.out << "Project saved: " << projectPath << "\n";
        console.out << "Screensaver: " << result.outputPath << " (" << result.outputSize << " bytes)\n";
    }
    std::string signer;
    if (signRequest && !SignOutput(result.outputPath, *signRequest, console, me, quiet, signer)) return kExitFailure;
    if (!installer) return kExitOk;

    pipeline::InstallerContent content = pipeline::InstallerContentOf(request.values, projectPath);
    content.publisher = signer;
    std::string setupOut = pipeline::DefaultInstallerPath(result.outputPath, content.showName);
    if (args.Has("--output")) {
        std::error_code ec;
        std::filesystem::path output = std::filesystem::absolute(platform::NativePath(args.Value("--output")), ec);
        setupOut = ec ? args.Value("--output") : platform::NarrowPath(output);
    }
    if (platform::SameFile(setupOut, result.outputPath)) {
        console.err << me << "the installer cannot replace the screensaver " << result.outputPath << "\n";
        return kExitFailure;
    }
    try {
        pipeline::WriteInstaller(setupPath, result.outputPath, content, setupOut);
    } catch (const Error& e) {
        console.err << me << e.what() << "\n";
        return kExitFailure;
    }
    if (signRequest && !SignOutput(setupOut, *signRequest, console, me, quiet, signer)) return kExitFailure;
    if (!quiet) console.out << "Installer: " << setupOut << " (" << platform::FileSize(setupOut) << " bytes)\n";
    return kExitOk;
}

int RunCompile(const Arguments& args, Console& console) {
    return RunBuild(args, console, false);
}

int RunInstaller(const Arguments& args, Console& console) {
    return RunBuild(args, console, true);
}

std::vector<Option> SigningOptions() {
    return {
        {"--sign", "", "CERT.pfx", "--sign needs a certificate file (.pfx)",
         "sign the result (Authenticode, SHA-256) with the key and certificate in CERT.pfx"},
        {"--sign-password-file", "", "FILE", "--sign-password-file needs a file",
         "read the certificate's password from FILE's first line (default: no password)"},
        {"--timestamp", "", "URL", "--timestamp needs the address of a time-stamping service",
         "have the signature time-stamped by the RFC 3161 service at URL (http)"},
    };
}

}  // namespace

Command CompileCommandEntry() {
    Command c;
    c.name = "compile";
    c.operands = "PROJECT.nssp";
    c.minOperands = c.maxOperands = 1;
    c.summary = "build the project's screensaver, as the editor's Compile command does";
    c.description =
        "Builds the screensaver of a project (.nssp), byte for byte as the editor's Compile\n"
        "command does: the project is saved (its Output filled in when it was empty) and the\n"
        "screensaver written to its Output, or beside the project with the extension .scr.\n"
        "The player, the output folder and the pictures are checked before any work starts.\n"
        "On a terminal a progress bar shows on standard error; through a pipe only the result\n"
        "is printed, on standard output.\n"
        "Pictures that cannot be packed are left out and named on standard error, as are\n"
        "pictures packed that the screensaver will not show (empty, damaged, or in no format\n"
        "it reads); the build still succeeds unless --strict is given.\n";
    c.options = {
        {"--output", "-o", "FILE", "--output needs a file name",
         "write the screensaver to FILE; the project file is left as it is"},
        {"--stub-dir", "", "DIR", "--stub-dir needs a folder",
         "take stub.bin and flash.bin from DIR (default: beside nimbrel-cli)"},
        {"--strict", "", "", "",
         "fail (exit code 1) when a picture or movie would be left out (missing, unreadable, not a "
         "regular file, or a picture that cannot be converted) or would not be shown"},
        {"--fit", "", "WxH", "--fit needs a screen size such as 3840x2160",
         "fit pictures to a W x H screen: larger ones are shrunk, as \"Fit pictures to the screen\" does; "
         "the project file is left as it is"},
        {"--store-compressed", "", "", "",
         "store JPEG, PNG, GIF, WebP, HEIF and AVIF pictures as they are, without deflating them again "
         "(much faster, slightly larger), as \"Store pictures that are already compressed\" does; the "
         "project file is left as it is"},
        {"--progress", "", "", "", "print progress as plain lines when standard error is no terminal"},
        {"--quiet", "-q", "", "", "print nothing but warnings and errors"},
    };
    for (Option& o : SigningOptions()) c.options.push_back(o);
    c.examples = {
        "nimbrel-cli compile holiday.nssp",
        "nimbrel-cli compile --strict -o /tmp/holiday.scr holiday.nssp",
        "nimbrel-cli compile --fit 3840x2160 holiday.nssp",
        "nimbrel-cli compile --progress --stub-dir build/bin holiday.nssp 2>progress.log",
        "nimbrel-cli compile --sign me.pfx --sign-password-file pass.txt holiday.nssp",
    };
    c.run = RunCompile;
    return c;
}

Command InstallerCommandEntry() {
    Command c = CompileCommandEntry();
    c.name = "installer";
    c.summary = "build the screensaver and a Windows installer for it";
    c.description =
        "Builds the project's screensaver as compile does, then an installer program that\n"
        "installs it for the current user without administrator rights, makes it the active\n"
        "screen saver and registers its uninstaller. The installer is written beside the\n"
        "screensaver as \"NAME Setup.exe\" unless --output names it. setup.bin is taken from\n"
        "where the players are (beside nimbrel-cli, or --stub-dir). With --sign both the\n"
        "screensaver and the installer are signed.\n";
    for (Option& o : c.options)
        if (o.name == "--output") o.help = "write the installer to FILE (default: \"NAME Setup.exe\" beside the screensaver)";
    c.examples = {
        "nimbrel-cli installer holiday.nssp",
        "nimbrel-cli installer --sign me.pfx --sign-password-file pass.txt -o setup.exe holiday.nssp",
    };
    c.run = RunInstaller;
    return c;
}

}  // namespace nimbrel::cli
