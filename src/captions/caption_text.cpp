#include "captions/caption_text.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "captions/text_mask.h"
#include "imaging/picture_metadata.h"
#include "platform/error.h"
#include "platform/file_info.h"
#include "show/show_order.h"

namespace nimbrel::captions {

namespace {

// Photos keep what they say of themselves ahead of their pixels; this much of the file is read.
constexpr std::size_t kMetadataBytes = 1 << 20;

imaging::PictureMetadata ReadMetadata(const std::string& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    if (!in) return {};
    std::string bytes(kMetadataBytes, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return imaging::ReadPictureMetadata(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::string FormatDate(const std::tm& tm, const std::locale& locale) {
    std::ostringstream out;
    out.imbue(locale);
    out << std::put_time(&tm, "%x");
    return out.str();
}

std::string FileDate(const std::string& path, const std::locale& locale) {
    const std::optional<platform::LocalDateTime> written = platform::FileLastWriteTime(path);
    if (!written) return {};
    std::tm tm{};
    tm.tm_year = written->year - 1900;
    tm.tm_mon = written->month - 1;
    tm.tm_mday = written->day;
    tm.tm_hour = written->hour;
    tm.tm_min = written->minute;
    tm.tm_sec = written->second;
    return FormatDate(tm, locale);
}

}  // namespace

CaptionSource CaptionSourceFrom(int value) {
    return value >= 1 && value <= 4 ? static_cast<CaptionSource>(value) : CaptionSource::None;
}

std::locale UserLocale() {
    try {
        return std::locale("");
    } catch (const std::exception&) {
        return std::locale::classic();
    }
}

std::string FormatExifDate(const std::string& exifDate, const std::locale& locale) {
    int year = 0, month = 0, day = 0;
    if (exifDate.size() < 10 || std::sscanf(exifDate.c_str(), "%4d:%2d:%2d", &year, &month, &day) != 3)
        return {};
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > 31) return {};  // "0000:00:00" and such
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = 12;
    return FormatDate(tm, locale);
}

std::string CaptionText(CaptionSource source, const std::string& path, const std::string& ownText,
                        const std::locale& locale) {
    switch (source) {
        case CaptionSource::None: return {};
        case CaptionSource::FileName: {
            const std::string name = show::BareName(path);
            const std::size_t dot = name.find_last_of('.');
            return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
        }
        case CaptionSource::DateTaken: {
            std::string date = FormatExifDate(ReadMetadata(path).dateTaken, locale);
            return date.empty() ? FileDate(path, locale) : date;
        }
        case CaptionSource::Description: return ReadMetadata(path).description;
        case CaptionSource::OwnText: return imaging::CleanMetadataText(ownText);
    }
    return {};
}

std::map<std::size_t, show::CaptionMask> CaptionMasks(CaptionSource source, const std::vector<std::string>& paths,
                                                      const std::map<std::size_t, std::string>& ownTexts,
                                                      const std::locale& locale, const CaptionProgress& progress) {
    std::map<std::size_t, show::CaptionMask> masks;
    if (source == CaptionSource::None) return masks;
    const TextRenderer renderer(CaptionFontPath());
    const int maxWidth = MaxCaptionWidth();
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!paths[i].empty()) {
            auto own = ownTexts.find(i);
            const std::string text = CaptionText(source, paths[i], own == ownTexts.end() ? "" : own->second, locale);
            show::CaptionMask mask = renderer.Render(text, maxWidth);
            if (!mask.Empty()) masks[i] = std::move(mask);
        }
        if (progress) progress(i + 1, paths.size());
    }
    return masks;
}

std::map<std::size_t, show::CaptionMask> ProjectCaptionMasks(const project::SlideShowValues& values,
                                                             const std::vector<std::string>& paths,
                                                             const CaptionProgress& progress) {
    const CaptionSource source = CaptionSourceFrom(values.show.caption);
    if (source == CaptionSource::None) return {};
    std::map<std::size_t, std::string> own;
    for (std::size_t i = 0; i < values.captions.size(); ++i)
        if (!values.captions[i].empty()) own[i] = values.captions[i];
    return CaptionMasks(source, paths, own, UserLocale(), progress);
}

std::shared_ptr<const show::CaptionLayer> ProjectCaptionLayer(const project::SlideShowValues& values,
                                                              const std::vector<std::string>& paths) {
    if (CaptionSourceFrom(values.show.caption) == CaptionSource::None) return nullptr;
    return std::make_shared<show::CaptionLayer>(ProjectCaptionMasks(values, paths),
                                                show::CaptionPlaceFrom(values.show.captionPlace));
}

}  // namespace nimbrel::captions
