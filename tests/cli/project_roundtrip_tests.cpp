// A compile of a project that nobody changed leaves the project file's bytes as they were.
// Random hand-written project files (numbers spelt every way, keys in any case, values the
// editor clamps, texts with line feeds, unknown sections, LF-only files, ...) go through
// `nimbrel-cli compile`: all of them in this process through the command's own entry point, and
// a few hundred through the real program.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "pipeline/build_pipeline.h"
#include "pipeline/project_state.h"
#include "cli/cli.h"
#include "platform/files.h"
#include "platform/temp.h"
#include "project/project_file.h"

namespace fs = std::filesystem;
using namespace nimbrel;

namespace {

class Writer {
public:
    Writer(unsigned seed, std::string folder) : random_(seed), folder_(std::move(folder)) {}

    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    bool Chance(int percent) { return Pick(1, 100) <= percent; }
    template <class T>
    const T& OneOf(const std::vector<T>& items) {
        return items[static_cast<std::size_t>(Pick(0, static_cast<int>(items.size()) - 1))];
    }

    // A key as someone might type it: any letter case.
    std::string Key(const std::string& key) {
        std::string result = key;
        if (Chance(70)) return result;
        for (char& c : result)
            if (std::isalpha(static_cast<unsigned char>(c)) && Chance(50))
                c = static_cast<char>(std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c)
                                                                                  : std::toupper(c));
        return result;
    }

    // An integer as the text layer reads it, in one of its spellings.
    std::string Integer(long long value) {
        char text[40];
        unsigned long long magnitude = value < 0 ? static_cast<unsigned long long>(-value) : value;
        const char* sign = value < 0 ? "-" : (Chance(10) ? "+" : "");
        switch (Pick(0, 5)) {
            case 0: std::snprintf(text, sizeof text, "%s$%llX", sign, magnitude); break;
            case 1:
                if (value < 0) return std::to_string(value);
                std::snprintf(text, sizeof text, "0x%llx", magnitude);
                break;
            case 2: std::snprintf(text, sizeof text, "  %s%llu", sign, magnitude); break;
            case 3: std::snprintf(text, sizeof text, "%sx%llX", sign, magnitude); break;
            default: std::snprintf(text, sizeof text, "%s%llu", sign, magnitude); break;
        }
        return text;
    }

    std::string Boolean() {
        return OneOf<std::string>({"0", "1", "2", "-1", "yes", "true", "", " 1", "$0", "0x1", "off"});
    }

    std::string Text(int maxLength, bool lineFeeds) {
        static const std::string kPieces[] = {"Lake",  " ",   "<b>", "</b>",     "=",
                                              "Hello", "[x]", ";",   "\xC3\xA9", "a"};
        std::string text;
        int length = Pick(0, maxLength);
        while (static_cast<int>(text.size()) < length) {
            text += kPieces[Pick(0, 9)];
            if (lineFeeds && Chance(5)) text += '\n';
        }
        return text;
    }

    std::string Picture() {
        return OneOf<std::string>(
            {"a.jpg", "b.png", "pics/c.jpg", folder_ + "a.jpg", "missing.jpg", "with space.jpg", "pics", ""});
    }

    std::string Output() {
        return OneOf<std::string>({"out.scr", "pics/out.scr", folder_ + "abs.scr", "Show.nssp", "a.jpg",
                                   "o" + std::to_string(Pick(0, 9)) + ".scr"});
    }

private:
    std::mt19937 random_;
    std::string folder_;
};

struct Section {
    std::string name;
    std::vector<std::string> lines;
};

// A project file holding every key a save writes (so that an unchanged compile has nothing to
// add), with much that a person might also put there.
std::string HandWrittenProject(Writer& w, bool lfOnly) {
    const int kind = w.Chance(5) ? 2 : (w.Chance(40) ? 1 : 0);
    const int number = kind == 0 ? w.Pick(0, 4) : w.Pick(0, 3);
    const bool lineFeedsInValues = !lfOnly;
    std::vector<Section> sections;

    Section header{w.OneOf<std::string>({"Header", "header", "HEADER"}), {}};
    header.lines.push_back(w.Key("Number") + "=" + w.Integer(number));
    header.lines.push_back(w.Key("Type") + "=" + w.Integer(kind));
    sections.push_back(header);

    Section files{"Files", {}};
    for (int i = 0; i < number; ++i) files.lines.push_back(std::to_string(i) + "=" + w.Picture());
    if (w.Chance(30)) files.lines.push_back(std::to_string(number + w.Pick(0, 3)) + "=beyond.jpg");
    if (kind == 0 || w.Chance(30)) sections.push_back(files);

    Section options{w.OneOf<std::string>({"Options", "options"}), {}};
    options.lines.push_back(w.Key("Output") + "=" + w.Output());
    for (const char* key : {"Center", "AutoSize", "Stretch", "KeepAspect", "Random", "ChangeIcon"})
        options.lines.push_back(w.Key(key) + "=" + w.Boolean());
    options.lines.push_back(w.Key("ShowSpeed") + "=" + (w.Chance(10) ? "fast" : w.Integer(w.Pick(-5, 600))));
    options.lines.push_back(w.Key("Transition") + "=" + (w.Chance(10) ? "none" : w.Integer(w.Pick(-3, 200))));
    options.lines.push_back(w.Key("BGColor") + "=" + w.Integer(w.Pick(-100, 16777215)));
    for (const char* key : {"ColorR", "ColorG", "ColorB"})
        options.lines.push_back(w.Key(key) + "=" + w.Integer(w.Pick(-300, 300)));
    options.lines.push_back(w.Key("IconFile") + "=" + w.OneOf<std::string>({"", "icon.ico", "missing.ico"}));
    options.lines.push_back(w.Key("FlashFile") + "=" + w.OneOf<std::string>({"", "movie.swf", "gone.swf"}));
    if (w.Chance(20)) options.lines.push_back("no equals sign here");
    if (w.Chance(20)) options.lines.push_back(w.Key("Center") + "=0");  // a later duplicate never counts
    sections.push_back(options);

    Section about{"About", {}};
    about.lines.push_back(w.Key("ShowName") + "=" + w.Text(w.Chance(10) ? 300 : 40, lineFeedsInValues));
    about.lines.push_back(w.Key("ShowText") + "=" + w.Text(w.Chance(10) ? 300 : 120, lineFeedsInValues));
    sections.push_back(about);

    if (w.Chance(30))
        sections.push_back({"Custom Stuff", {"; a comment=1", "x=" + std::string(300, 'x'), "y"}});
    std::shuffle(sections.begin() + 1, sections.end(),
                 std::mt19937(static_cast<unsigned>(w.Pick(0, 1 << 30))));
    for (Section& section : sections)
        if (section.lines.size() > 1 && w.Chance(30))
            std::shuffle(section.lines.begin(), section.lines.end(),
                         std::mt19937(static_cast<unsigned>(w.Pick(0, 99))));

    const std::string eol = lfOnly ? "\n" : "\r\n";
    std::string text;
    if (w.Chance(15)) text += "junk before any section" + eol;
    for (const Section& section : sections) {
        text += "[" + section.name + "]" + eol;
        for (const std::string& line : section.lines) {
            text += line + eol;
            if (w.Chance(5)) text += eol;
        }
        if (w.Chance(80)) text += eol;
    }
    if (w.Chance(10)) text += std::string("\x1A") + "after the end" + eol;
    return text;
}

// Something a person might do to the file above: lose lines, repeat a section, add blanks.
std::string Damaged(Writer& w, std::string text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size() - 1;
        lines.push_back(text.substr(start, end + 1 - start));
        start = end + 1;
    }
    std::string result;
    for (const std::string& line : lines)
        if (!w.Chance(15)) result += line;
    if (w.Chance(30)) result += "[options]\r\nCenter=1\r\n";
    return result;
}

// Everything the build reads from a project file, as text, to compare two readings.
std::string Describe(const project::ProjectValues& v) {
    std::ostringstream out;
    out << v.kind << '|';
    for (const auto& f : v.files) out << f << ';';
    const auto& s = v.slideShow;
    out << '|' << s.output << '|' << s.center << s.autoSize << s.stretch << s.keepAspect << s.random << '|'
        << s.showSpeed << '|' << s.transition << '|' << s.backgroundColor << '|' << s.changeIcon << '|'
        << s.iconFile << '|' << s.showName << '|' << s.showText;
    const auto& f = v.flash;
    out << '|' << f.title << '|' << f.showText << '|' << f.flashFile << '|' << f.changeIcon << '|'
        << f.iconFile << '|' << f.output;
    return out.str();
}

project::ProjectValues Reading(const std::string& bytes) {
    project::LoadedProject loaded = project::ReadProjectText(bytes);
    project::ProjectValues values = pipeline::ProjectValuesFromFile(loaded);
    values.kind = loaded.type;
    return values;
}

class ProjectRoundTrip : public ::testing::Test {
protected:
    void SetUp() override {
        folder = dir.Path();
        std::ofstream(dir.File("stub.bin"), std::ios::binary) << "MZ stand-in player";
        std::ofstream(dir.File("flash.bin"), std::ios::binary) << "MZ stand-in Flash player";
        fs::create_directory(folder + "pics");
        for (const char* name : {"a.jpg", "b.png", "pics/c.jpg", "with space.jpg", "movie.swf", "icon.ico"})
            std::ofstream(folder + name, std::ios::binary) << "picture " << name;
        project = folder + "Show.nssp";
    }

    int Compile(bool realProgram) {
#ifdef _WIN32
        realProgram = false;  // through a POSIX shell only; the in-process run is the same code
#endif
        if (realProgram) {
#ifndef _WIN32
            std::string command = "'" NIMBREL_CLI_PATH "' compile '" + project + "' --stub-dir '" + folder +
                                  "' >/dev/null 2>&1";
            int status = std::system(command.c_str());
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
        }
        std::ostringstream out, err;
        return cli::RunCli({"compile", project, "--stub-dir", folder}, out, err);
    }

    void Write(const std::string& bytes) {
        std::ofstream(project, std::ios::binary | std::ios::trunc) << bytes;
    }

    platform::TempDirectory dir{"nbroundtrip"};
    std::string folder, project;
};

unsigned Seed() {
    const char* text = std::getenv("NIMBREL_PROPERTY_SEED");
    return text ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : 20261209u;
}

}  // namespace

TEST_F(ProjectRoundTrip, AnUnchangedProjectKeepsItsBytesThroughCompile) {
    const unsigned seed = Seed();
    Writer w(seed, folder);
    constexpr int kFiles = 2000;
    constexpr int kThroughTheProgram = 200;
    int built = 0, refused = 0;
    for (int i = 0; i < kFiles; ++i) {
        const bool lfOnly = w.Chance(15);
        const std::string original = HandWrittenProject(w, lfOnly);
        Write(original);
        const int code = Compile(i < kThroughTheProgram);
        (code == 0 ? built : refused) += 1;
        const std::string after = platform::ReadWholeFile(project);
        ASSERT_EQ(after, original) << "file " << i << " of seed " << seed << ", exit code " << code;
        for (const char* name : {"out.scr", "pics/out.scr", "abs.scr", "Show.scr"}) fs::remove(folder + name);
    }
    // The files cover both ends: screensavers built, and builds that stopped or were refused.
    EXPECT_GT(built, kFiles / 4);
    EXPECT_GT(refused, kFiles / 20);
}

TEST_F(ProjectRoundTrip, AnyProjectSettlesAfterOneCompileAndKeepsWhatItMeant) {
    const unsigned seed = Seed() + 1;
    Writer w(seed, folder);
    for (int i = 0; i < 400; ++i) {
        const std::string original = Damaged(w, HandWrittenProject(w, w.Chance(15)));
        Write(original);
        Compile(false);
        const std::string once = platform::ReadWholeFile(project);
        Compile(false);
        ASSERT_EQ(platform::ReadWholeFile(project), once) << "file " << i << " of seed " << seed;

        // What the file means is what it meant, apart from the output path that a build fills in.
        project::ProjectValues expected = Reading(original);
        const std::string meant = Describe(expected);
        std::string& box =
            expected.kind == project::kFlash ? expected.flash.output : expected.slideShow.output;
        box = pipeline::ChooseOutputPath(box, project);
        const std::string now = Describe(Reading(once));
        ASSERT_TRUE(now == meant || now == Describe(expected))
            << "file " << i << " of seed " << seed << "\n"
            << original << "\nnow: " << now << "\nwas: " << meant;
    }
}
