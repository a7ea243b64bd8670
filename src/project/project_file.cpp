#include "project/project_file.h"

#include <algorithm>

#include "platform/ascii.h"
#include "platform/error.h"
#include "project/big_ini_file.h"

namespace nimbrel::project {

namespace {

// The program addresses IconFile through the lower-case name; it reaches [Options] only because
// section names match without regard to case. Keep it so, for the sake of files that hold an
// "options" section of their own spelling.
constexpr std::string_view kIconSection = "options";

void CheckPathLength(const std::string& path) {
    if (path.size() > TBigIniFile::kMaxLine)
        throw Error("The project path is too long (more than 255 characters): " + path);
}

// A memo's line break is CR LF on Windows but LF elsewhere; the file must hold CR LF so that a
// pasted second line becomes a line of its own (and loading returns only the first line).
std::string WithCrLf(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) result.push_back('\r');
        result.push_back(text[i]);
    }
    return result;
}

LoadedProject ReadProject(const TBigIniFile& ini) {
    LoadedProject loaded;
    loaded.number = ini.ReadInteger("Header", "Number", 0);
    loaded.type = ini.ReadInteger("Header", "Type", 0);

    if (loaded.number > 0 && loaded.type == kSlideShow) {
        loaded.slideShowRead = true;
        int count = std::min(loaded.number, kMaxLoadedFiles);
        loaded.files.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i)
            loaded.files.push_back(ini.ReadString("Files", std::to_string(i), ""));

        SlideShowValues& s = loaded.slideShow;
        s.output = ini.ReadString("Options", "Output", "");
        s.center = ini.ReadBool("Options", "Center", true);
        s.autoSize = ini.ReadBool("Options", "AutoSize", false);
        s.stretch = ini.ReadBool("Options", "Stretch", false);
        s.keepAspect = ini.ReadBool("Options", "KeepAspect", false);
        s.random = ini.ReadBool("Options", "Random", false);
        s.showSpeed = ini.ReadInteger("Options", "ShowSpeed", 10);
        s.transition = ini.ReadInteger("Options", "Transition", 0);
        std::int32_t r = ini.ReadInteger("Options", "ColorR", 0);
        std::int32_t g = ini.ReadInteger("Options", "ColorG", 0);
        std::int32_t b = ini.ReadInteger("Options", "ColorB", 0);
        s.backgroundColor = JoinColor(r, g, b);
        s.changeIcon = ini.ReadBool("Options", "ChangeIcon", false);
        s.iconFile = ini.ReadString(kIconSection, "IconFile", "");
        s.showName = ini.ReadString("About", "ShowName", "");
        s.showText = ini.ReadString("About", "ShowText", DefaultAboutText());
        s.fitPictures = ini.ReadBool("Pictures", "Fit", false);
        s.fitWidth = ini.ReadInteger("Pictures", "FitWidth", s.fitWidth);
        s.fitHeight = ini.ReadInteger("Pictures", "FitHeight", s.fitHeight);
    }

    if (loaded.type == kFlash) {
        loaded.flashRead = true;
        FlashValues& f = loaded.flash;
        f.title = ini.ReadString("About", "ShowName", "Untitled");
        f.showText = ini.ReadString("About", "ShowText", DefaultAboutText());
        f.flashFile = ini.ReadString("Options", "FlashFile", "");
        f.changeIcon = ini.ReadBool("Options", "ChangeIcon", false);
        f.iconFile = ini.ReadString(kIconSection, "IconFile", "");
        f.output = ini.ReadString("Options", "Output", "");
    }
    return loaded;
}

}  // namespace

const std::string& DefaultAboutText() {
    static const std::string text =
        "<B>This screen saver was created by <i>Nimbrel</i>, for more <BR> information.  Please visit "
        "<a href=\"https://www.tarnwick.example/\">Tarnwick</a>"
        "</b><br><BR><B><I>There are no configuration options for this screen saver</i></b><br>";
    return text;
}

ColorParts SplitColor(std::int32_t color) {
    ColorParts parts;
    if (color < 0) {
        parts.r = color;
        return parts;
    }
    parts.b = color / 65536;
    parts.g = color % 65536 / 256;
    parts.r = color % 256;
    return parts;
}

std::int32_t JoinColor(std::int32_t r, std::int32_t g, std::int32_t b) {
    // Stored parts may hold anything; the sum wraps in 32 bits.
    std::uint32_t sum = static_cast<std::uint32_t>(r) + 256u * static_cast<std::uint32_t>(g) +
                        65536u * static_cast<std::uint32_t>(b);
    return static_cast<std::int32_t>(sum);
}

LoadedProject LoadProject(const std::string& path) {
    CheckPathLength(path);
    TBigIniFile ini(path);
    LoadedProject loaded = ReadProject(ini);
    // The file changes on load only when it held repeated sections. The values are read by then,
    // so a failed rewrite is reported beside them rather than instead of them.
    try {
        ini.Flush();
    } catch (const Error& error) {
        loaded.rewriteError = error.what();
    }
    return loaded;
}

LoadedProject ReadProjectText(std::string_view bytes) {
    return ReadProject(TBigIniFile::FromBytes(bytes));
}

void SaveProject(const std::string& path, const ProjectValues& values) {
    CheckPathLength(path);
    TBigIniFile ini(path);
    ini.WriteString("Header", "Number", std::to_string(values.files.size()));
    ini.WriteInteger("Header", "Type", values.kind);

    if (values.kind == kSlideShow) {
        const SlideShowValues& s = values.slideShow;
        WriteSlideShowPictureKeys(ini, values.files, s);
        ini.WriteBool("Options", "ChangeIcon", s.changeIcon);
        ini.WriteString(kIconSection, "IconFile", s.iconFile);
        ini.WriteString("About", "ShowName", s.showName);
        ini.WriteString("About", "ShowText", WithCrLf(s.showText));
        WritePicturesSection(ini, s);
    } else if (values.kind == kFlash) {
        const FlashValues& f = values.flash;
        ini.WriteString("About", "ShowName", f.title);
        ini.WriteString("About", "ShowText", WithCrLf(f.showText));
        ini.WriteString("Options", "FlashFile", f.flashFile);
        ini.WriteBool("Options", "ChangeIcon", f.changeIcon);
        ini.WriteString(kIconSection, "IconFile", f.iconFile);
        ini.WriteString("Options", "Output", f.output);
    }
    ini.Flush();
}

void WriteSlideShowPictureKeys(TBigIniFile& ini, const std::vector<std::string>& files,
                               const SlideShowValues& values) {
    for (std::size_t i = 0; i < files.size(); ++i) ini.WriteString("Files", std::to_string(i), files[i]);
    ini.WriteString("Options", "Output", values.output);
    ini.WriteBool("Options", "Center", values.center);
    ini.WriteBool("Options", "AutoSize", values.autoSize);
    ini.WriteBool("Options", "Stretch", values.stretch);
    ini.WriteBool("Options", "KeepAspect", values.keepAspect);
    ini.WriteBool("Options", "Random", values.random);
    ini.WriteInteger("Options", "ShowSpeed", values.showSpeed);
    ini.WriteInteger("Options", "Transition", values.transition);
    ini.WriteInteger("Options", "BGColor", values.backgroundColor);
    const ColorParts parts = SplitColor(values.backgroundColor);
    ini.WriteInteger("Options", "ColorR", parts.r);
    ini.WriteInteger("Options", "ColorG", parts.g);
    ini.WriteInteger("Options", "ColorB", parts.b);
}

void WritePicturesSection(TBigIniFile& ini, const SlideShowValues& values) {
    const auto sections = ini.SectionNames();
    const bool present = std::any_of(sections.begin(), sections.end(), [](const std::string& name) {
        return platform::EqualIgnoringAsciiCase(name, "Pictures");
    });
    if (!values.fitPictures && !present) return;
    ini.WriteBool("Pictures", "Fit", values.fitPictures);
    ini.WriteInteger("Pictures", "FitWidth", values.fitWidth);
    ini.WriteInteger("Pictures", "FitHeight", values.fitHeight);
}

}  // namespace nimbrel::project
