#include "cli/compile_command.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#ifdef _WIN32
#include <io.h>
#define NIMBREL_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define NIMBREL_ISATTY(fd) isatty(fd)
#endif

#include "build/build_pipeline.h"
#include "build/picture_conversion.h"
#include "build/project_state.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "project/project_file.h"

namespace nimbrel::cli {

namespace {

constexpr const char* kUsage =
    "usage: nimbrel-cli compile PROJECT.nssp [--stub-dir DIR] [--strict] [--fit WxH]\n"
    "  Builds the project's screensaver as the editor's Compile command does.\n"
    "  --stub-dir DIR  take stub.bin and flash.bin from DIR (default: beside nimbrel-cli)\n"
    "  --strict        fail when a picture or movie cannot be read, instead of leaving it out\n"
    "  --fit WxH       fit pictures to a W x H screen (e.g. 3840x2160): larger ones are shrunk;\n"
    "                  turns the project's \"Fit pictures to the screen\" on and saves it\n";

// "3840x2160" into its two sides, each 16 to 16384.
bool ParseFit(const std::string& text, int& width, int& height) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos || x == 0 || x + 1 >= text.size()) return false;
    auto side = [](const std::string& digits, int& value) {
        if (digits.empty() || digits.size() > 5 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        value = std::stoi(digits);
        return value >= build::kMinFitSide && value <= build::kMaxFitSide;
    };
    return side(text.substr(0, x), width) && side(text.substr(x + 1), height);
}

// Progress as a bar that redraws itself on a terminal, or as one line per new value elsewhere.
class ConsoleReporter : public build::BuildReporter {
public:
    ConsoleReporter(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}
    ~ConsoleReporter() override { Finish(); }

    void Progress(int percent) override {
        percent = std::clamp(percent, 0, 100);
        if (percent == last_) return;
        last_ = percent;
        if (terminal_) {
            constexpr int kWidth = 40;
            int filled = percent * kWidth / 100;
            out_ << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] " << percent
                 << "%" << std::flush;
            open_ = true;
        } else {
            out_ << "progress " << percent << "%\n";
        }
    }

    void Notice(const std::string& text) override {
        Finish();
        out_ << text << "\n";
    }

    void Finish() {
        if (open_) out_ << "\n" << std::flush;
        open_ = false;
    }

private:
    std::ostream& out_;
    bool terminal_;
    bool open_ = false;
    int last_ = -1;
};

// The completion box's text, with its LF CR line breaks made the terminal's.
std::string ForTerminal(std::string text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] == '\r') {
            result += '\n';
            ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}

}  // namespace

int RunCompile(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               bool progressOnTerminal) {
    std::string projectPath, stubDir;
    bool strict = false;
    bool fit = false;
    int fitWidth = 0, fitHeight = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            out << kUsage;
            return 0;
        } else if (arg == "--strict") {
            strict = true;
        } else if (arg == "--stub-dir" && i + 1 < args.size()) {
            stubDir = args[++i];
        } else if (arg == "--fit" || arg.rfind("--fit=", 0) == 0) {
            std::string value = arg == "--fit" ? (i + 1 < args.size() ? args[++i] : "") : arg.substr(6);
            if (!ParseFit(value, fitWidth, fitHeight)) {
                err << "nimbrel-cli compile: --fit wants WIDTHxHEIGHT, each 16 to 16384 (e.g. 3840x2160)\n"
                    << kUsage;
                return 2;
            }
            fit = true;
        } else if (arg.rfind("--stub-dir=", 0) == 0) {
            stubDir = arg.substr(11);
        } else if (!arg.empty() && arg[0] == '-') {
            err << "nimbrel-cli compile: unknown option " << arg << "\n" << kUsage;
            return 2;
        } else if (projectPath.empty()) {
            projectPath = arg;
        } else {
            err << "nimbrel-cli compile: one project at a time\n" << kUsage;
            return 2;
        }
    }
    if (projectPath.empty()) {
        err << kUsage;
        return 2;
    }
    if (stubDir.empty()) stubDir = platform::ExecutableDirectory();

    try {
        if (!platform::FileExists(projectPath)) throw Error("Project file not found: " + projectPath);
        build::BuildRequest request;
        request.projectFileName = projectPath;
        request.values = build::NewProjectValues();
        build::ApplyLoadedProject(project::LoadProject(projectPath), request.values);
        request.stubPath = platform::JoinPath(stubDir, "stub.bin");
        request.flashStubPath = platform::JoinPath(stubDir, "flash.bin");
        request.strict = strict;
        if (fit) {
            request.values.slideShow.fitPictures = true;
            request.values.slideShow.fitWidth = fitWidth;
            request.values.slideShow.fitHeight = fitHeight;
        }

        ConsoleReporter reporter(out, progressOnTerminal);
        build::BuildResult result = build::CompileProject(request, reporter);
        reporter.Finish();
        if (!result.built) {
            out << "The project has no pictures: it was saved, and no screensaver was built.\n";
            return 1;
        }
        out << ForTerminal(result.completionText) << "\n";
        out << "Screensaver: " << result.outputPath << "\n";
        return 0;
    } catch (const std::exception& e) {
        err << "nimbrel-cli compile: " << e.what() << "\n";
        return 1;
    }
}

int CompileCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    bool terminal = &out == &std::cout && NIMBREL_ISATTY(1) != 0;
    return RunCompile(args, out, err, terminal);
}

}  // namespace nimbrel::cli
