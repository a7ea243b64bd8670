#include "project/project_file.h"

#include <algorithm>
#include <optional>

#include "platform/ascii.h"
#include "platform/error.h"
#include "project/big_ini_file.h"
#include "project/value_ranges.h"

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

bool HasSection(const TBigIniFile& ini, std::string_view name) {
    const auto sections = ini.SectionNames();
    return std::any_of(sections.begin(), sections.end(),
                       [&](const std::string& section) { return platform::EqualIgnoringAsciiCase(section, name); });
}

LoadedProject ReadProject(const TBigIniFile& ini) {
    LoadedProject loaded;
    loaded.number = ini.ReadInteger("Header", "Number", 0);
    loaded.type = ini.ReadInteger("Header", "Type", 0);

    if (loaded.type == kSlideShow) {
        loaded.slideShowRead = loaded.number > 0;
        // Keys beyond the highest one present are all missing and could only add blank entries:
        // the list ends there, whatever Number claims. Blanks within it stay, as missing files.
        const std::int64_t present = ini.HighestNumberedKey("Files") + 1;
        int count = static_cast<int>(std::min<std::int64_t>({std::max(loaded.number, 0), present, kMaxLoadedFiles}));
        loaded.files = ini.NumberedValues("Files", static_cast<std::size_t>(count));

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
        const ShowValues defaults;
        s.show.motion = ini.ReadBool("Show", "Motion", defaults.motion);
        s.show.caption = ini.ReadInteger("Show", "Caption", defaults.caption);
        s.show.captionPlace = ini.ReadInteger("Show", "CaptionPlace", defaults.captionPlace);
        s.show.monitors = ini.ReadInteger("Show", "Monitors", defaults.monitors);
        if (HasSection(ini, "Captions")) {
            s.captions.reserve(static_cast<std::size_t>(count));
            for (int i = 0; i < count; ++i) s.captions.push_back(ini.ReadString("Captions", std::to_string(i), ""));
            while (!s.captions.empty() && s.captions.back().empty()) s.captions.pop_back();
        }

        s.storeCompressed = ini.ReadBool("Pictures", "StoreCompressed", false);
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

// A save writes a key only where the file does not already hold its value: a line whose text
// loads as the value being written (a number spelt another way, a key in other letter case, a
// text that keeps a line feed) stays as the user wrote it, so that saving a project that nobody
// changed leaves its bytes as they were. A missing key is appended as the text layer does.
template <class Same>
void WriteUnlessSame(TBigIniFile& ini, std::string_view section, std::string_view key, std::string_view text,
                     Same same) {
    std::optional<std::string> stored = ini.FindValue(section, key);
    if (stored && same(*stored)) return;
    ini.WriteString(section, key, text);
}

std::int32_t IntegerOr(const std::string& text, std::int32_t defaultValue) {
    std::int32_t value = 0;
    return TBigIniFile::ParseInteger(text, value) ? value : defaultValue;
}

// The part of a value that fits on one stored line after "key=".
std::string_view Storable(std::string_view key, std::string_view value) {
    std::size_t room = key.size() + 1 >= TBigIniFile::kMaxLine ? 0 : TBigIniFile::kMaxLine - key.size() - 1;
    return value.substr(0, std::min(room, value.size()));
}

void WriteText(TBigIniFile& ini, std::string_view section, std::string_view key, std::string_view value,
               std::string_view written) {
    WriteUnlessSame(ini, section, key, written,
                    [&](const std::string& stored) { return stored == Storable(key, value); });
}

void WriteText(TBigIniFile& ini, std::string_view section, std::string_view key, std::string_view value) {
    WriteText(ini, section, key, value, value);
}

void WriteInteger(TBigIniFile& ini, std::string_view section, std::string_view key, std::int32_t value,
                  std::int32_t readDefault) {
    WriteUnlessSame(ini, section, key, std::to_string(value),
                    [&](const std::string& stored) { return IntegerOr(stored, readDefault) == value; });
}

void WriteBool(TBigIniFile& ini, std::string_view section, std::string_view key, bool value,
               bool readDefault) {
    WriteUnlessSame(ini, section, key, value ? "1" : "0", [&](const std::string& stored) {
        return (IntegerOr(stored, readDefault ? 1 : 0) != 0) == value;
    });
}

// The four colour keys as one value: the parts stay as stored while they join to the colour
// (BGColor is never read, so it stays too); otherwise all four are written anew.
void WriteColor(TBigIniFile& ini, std::int32_t color) {
    auto part = [&](std::string_view key) {
        std::optional<std::string> stored = ini.FindValue("Options", key);
        return stored ? IntegerOr(*stored, 0) : 0;
    };
    const bool same = JoinColor(part("ColorR"), part("ColorG"), part("ColorB")) == color;
    const ColorParts parts = SplitColor(color);
    auto write = [&](std::string_view key, std::int32_t canonical) {
        if (same && ini.FindValue("Options", key)) return;
        // A missing part of a colour that stays is added as the 0 it was read as.
        ini.WriteInteger("Options", key, canonical);
    };
    write("BGColor", color);
    write("ColorR", same ? 0 : parts.r);
    write("ColorG", same ? 0 : parts.g);
    write("ColorB", same ? 0 : parts.b);
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
    const std::size_t count = values.files.size();
    WriteUnlessSame(ini, "Header", "Number", std::to_string(count), [&](const std::string& stored) {
        std::int32_t number = IntegerOr(stored, 0);
        if (count == 0) return number <= 0 || values.kind != kSlideShow;
        return number > 0 && static_cast<std::size_t>(number) == count;
    });
    project::WriteInteger(ini, "Header", "Type", values.kind, 0);

    if (values.kind == kSlideShow) {
        const SlideShowValues& s = values.slideShow;
        WriteSlideShowPictureKeys(ini, values.files, s);
        project::WriteBool(ini, "Options", "ChangeIcon", s.changeIcon, false);
        WriteText(ini, kIconSection, "IconFile", s.iconFile);
        WriteText(ini, "About", "ShowName", s.showName);
        WriteText(ini, "About", "ShowText", s.showText, WithCrLf(s.showText));
        WritePicturesSection(ini, s);
        WriteShowSection(ini, s.show);
        WriteCaptionsSection(ini, s.captions, count);
    } else if (values.kind == kFlash) {
        const FlashValues& f = values.flash;
        WriteText(ini, "About", "ShowName", f.title);
        WriteText(ini, "About", "ShowText", f.showText, WithCrLf(f.showText));
        WriteText(ini, "Options", "FlashFile", f.flashFile);
        project::WriteBool(ini, "Options", "ChangeIcon", f.changeIcon, false);
        WriteText(ini, kIconSection, "IconFile", f.iconFile);
        WriteText(ini, "Options", "Output", f.output);
    }
    ini.Flush();
}

void WriteSlideShowPictureKeys(TBigIniFile& ini, const std::vector<std::string>& files,
                               const SlideShowValues& values) {
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string key = std::to_string(i);
        // A blank entry whose key is missing reads back blank as it is: writing it would only
        // add lines (a damaged project can list a great many).
        if (files[i].empty() && !ini.FindValue("Files", key)) continue;
        WriteText(ini, "Files", key, files[i]);
    }
    WriteText(ini, "Options", "Output", values.output);
    project::WriteBool(ini, "Options", "Center", values.center, true);
    project::WriteBool(ini, "Options", "AutoSize", values.autoSize, false);
    project::WriteBool(ini, "Options", "Stretch", values.stretch, false);
    project::WriteBool(ini, "Options", "KeepAspect", values.keepAspect, false);
    project::WriteBool(ini, "Options", "Random", values.random, false);
    // The editor shows a stored speed within 1 to 240 and a transition outside 0 to 129 as none:
    // a stored value that the editor shows as the current one is the current one.
    WriteUnlessSame(ini, "Options", "ShowSpeed", std::to_string(values.showSpeed),
                    [&](const std::string& stored) {
                        std::int32_t speed = IntegerOr(stored, 10);
                        return speed == values.showSpeed || std::clamp(speed, kMinShowSpeed, kMaxShowSpeed) == values.showSpeed;
                    });
    WriteUnlessSame(ini, "Options", "Transition", std::to_string(values.transition),
                    [&](const std::string& stored) {
                        std::int32_t transition = IntegerOr(stored, 0);
                        if (transition == values.transition) return true;
                        return (transition < 0 || transition > kTransitionNone) && values.transition == -1;
                    });
    WriteColor(ini, values.backgroundColor);
}

void WritePicturesSection(TBigIniFile& ini, const SlideShowValues& values) {
    const bool present = HasSection(ini, "Pictures");
    // A section made for StoreCompressed alone does not bring the Fit keys with it.
    const bool fitKeys = present && (ini.FindValue("Pictures", "Fit") || ini.FindValue("Pictures", "FitWidth") ||
                                     ini.FindValue("Pictures", "FitHeight") ||
                                     !ini.FindValue("Pictures", "StoreCompressed"));
    if (values.fitPictures || fitKeys) {
        const SlideShowValues defaults;
        project::WriteBool(ini, "Pictures", "Fit", values.fitPictures, false);
        project::WriteInteger(ini, "Pictures", "FitWidth", values.fitWidth, defaults.fitWidth);
        project::WriteInteger(ini, "Pictures", "FitHeight", values.fitHeight, defaults.fitHeight);
    }
    if (values.storeCompressed || (present && ini.FindValue("Pictures", "StoreCompressed")))
        project::WriteBool(ini, "Pictures", "StoreCompressed", values.storeCompressed, false);
}

void WriteShowSection(TBigIniFile& ini, const ShowValues& values) {
    const ShowValues defaults;
    if (values == defaults && !HasSection(ini, "Show")) return;
    project::WriteBool(ini, "Show", "Motion", values.motion, defaults.motion);
    project::WriteInteger(ini, "Show", "Caption", values.caption, defaults.caption);
    project::WriteInteger(ini, "Show", "CaptionPlace", values.captionPlace, defaults.captionPlace);
    project::WriteInteger(ini, "Show", "Monitors", values.monitors, defaults.monitors);
}

void WriteCaptionsSection(TBigIniFile& ini, const std::vector<std::string>& captions, std::size_t fileCount) {
    const std::size_t given = std::min(captions.size(), fileCount);
    const bool any = std::any_of(captions.begin(), captions.begin() + static_cast<std::ptrdiff_t>(given),
                                 [](const std::string& text) { return !text.empty(); });
    if (!any && !HasSection(ini, "Captions")) return;
    for (std::size_t i = 0; i < given; ++i) {
        const std::string key = std::to_string(i);
        if (!captions[i].empty() || ini.FindValue("Captions", key)) WriteText(ini, "Captions", key, captions[i]);
    }
    // Stored texts of entries without one now, or past the list.
    for (const std::string& line : ini.SectionLines("Captions")) {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::int32_t index = 0;
        const std::string key = line.substr(0, equals);
        if (!TBigIniFile::ParseInteger(key, index) || index < 0) continue;
        if (static_cast<std::size_t>(index) < given) continue;
        if (!ini.ReadString("Captions", key, "").empty()) ini.WriteString("Captions", key, "");
    }
}

}  // namespace nimbrel::project
