#pragma once
// What a picture's caption says, from the source the project chose, and the masks of a whole
// show's captions as the build packs them and nimbrel-cli render and the preview draw them.

#include <cstddef>
#include <functional>
#include <locale>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "project/project_file.h"
#include "show/captions.h"

namespace nimbrel::captions {

// The project's caption choice.
enum class CaptionSource {
    None = 0,
    FileName = 1,     // the file name without folder and extension
    DateTaken = 2,    // EXIF DateTimeOriginal, else the file's last-write date
    Description = 3,  // EXIF ImageDescription, XMP dc:description or the IPTC caption
    OwnText = 4,      // the entry's own text
};
CaptionSource CaptionSourceFrom(int value);  // unknown values give None

// The user's locale (from the environment), or the classic one when it cannot be made.
std::locale UserLocale();

// A date as the locale writes dates (its "%x"). `exifDate` is "YYYY:MM:DD[ HH:MM:SS]"; empty
// when it is not such a date.
std::string FormatExifDate(const std::string& exifDate, const std::locale& locale);

// The caption of the picture at `path` (UTF-8 text; empty: the picture shows none).
std::string CaptionText(CaptionSource source, const std::string& path, const std::string& ownText,
                        const std::locale& locale);

// The captions of a show's entries, by entry, drawn at the reference size: entries with an empty
// path or an empty caption have none. `ownTexts` holds the entries' own texts by entry.
// `progress`, when given, is told of each entry done. Raises nimbrel::Error when the font cannot
// be read.
using CaptionProgress = std::function<void(std::size_t done, std::size_t total)>;
std::map<std::size_t, show::CaptionMask> CaptionMasks(CaptionSource source, const std::vector<std::string>& paths,
                                                      const std::map<std::size_t, std::string>& ownTexts,
                                                      const std::locale& locale,
                                                      const CaptionProgress& progress = nullptr);

// The captions a project's values ask for ([Show] Caption, [Captions]) for its entries at `paths`
// (empty: no file), by entry, in the user's locale; none when the show has no captions.
std::map<std::size_t, show::CaptionMask> ProjectCaptionMasks(const project::SlideShowValues& values,
                                                             const std::vector<std::string>& paths,
                                                             const CaptionProgress& progress = nullptr);

// The same as the show engine draws them for a show of the entries' files on disk (where the
// member is the entry: nimbrel-cli render and the editor's preview); null without captions.
std::shared_ptr<const show::CaptionLayer> ProjectCaptionLayer(const project::SlideShowValues& values,
                                                              const std::vector<std::string>& paths);

}  // namespace nimbrel::captions
