#include "imaging/picture_metadata.h"

#include <cstring>
#include <string_view>

namespace nimbrel::imaging {

namespace {

bool ValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t more = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 9;
        if (more == 9 || more > s.size() - i - 1) return false;
        for (std::size_t k = 1; k <= more; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += more + 1;
    }
    return true;
}

// The TIFF structure of an EXIF block or a TIFF file; every offset is checked against its size.
class Tiff {
public:
    Tiff(const std::uint8_t* p, std::size_t size) : p_(p), size_(size) {}
    bool Valid() {
        if (size_ < 8) return false;
        if (p_[0] == 'I' && p_[1] == 'I') little_ = true;
        else if (p_[0] == 'M' && p_[1] == 'M') little_ = false;
        else return false;
        return U16(2) == 42;
    }
    bool Has(std::size_t offset, std::size_t count) const { return offset <= size_ && count <= size_ - offset; }
    std::uint32_t U16(std::size_t o) const { return little_ ? p_[o] | (p_[o + 1] << 8) : (p_[o] << 8) | p_[o + 1]; }
    std::uint32_t U32(std::size_t o) const {
        return little_ ? U16(o) | (U16(o + 2) << 16) : (U16(o) << 16) | U16(o + 2);
    }
    // The entry of `tag` in the directory at `ifd`, or 0.
    std::size_t Find(std::size_t ifd, std::uint32_t tag) const {
        if (!Has(ifd, 2)) return 0;
        const std::size_t count = U16(ifd);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t entry = ifd + 2 + 12 * i;
            if (!Has(entry, 12)) return 0;
            if (U16(entry) == tag) return entry;
        }
        return 0;
    }
    // An ASCII (2) or UNDEFINED (7) entry's text, up to its first zero byte.
    std::string Text(std::size_t entry) const {
        if (entry == 0) return {};
        const std::uint32_t type = U16(entry + 2);
        if (type != 2 && type != 7) return {};
        const std::size_t count = U32(entry + 4);
        const std::size_t at = count <= 4 ? entry + 8 : U32(entry + 8);
        if (!Has(at, count)) return {};
        std::string text(reinterpret_cast<const char*>(p_ + at), count);
        return text.substr(0, text.find('\0'));
    }
    std::size_t FirstIfd() const { return U32(4); }

private:
    const std::uint8_t* p_;
    std::size_t size_;
    bool little_ = true;
};

void FromTiff(const std::uint8_t* p, std::size_t size, PictureMetadata& meta, std::string& exifDescription) {
    Tiff tiff(p, size);
    if (!tiff.Valid()) return;
    const std::size_t ifd0 = tiff.FirstIfd();
    exifDescription = CleanMetadataText(tiff.Text(tiff.Find(ifd0, 0x010E)));
    const std::size_t exifPointer = tiff.Find(ifd0, 0x8769);
    if (exifPointer != 0) {
        const std::size_t exifIfd = tiff.U32(exifPointer + 8);
        meta.dateTaken = CleanMetadataText(tiff.Text(tiff.Find(exifIfd, 0x9003)));
    }
}

std::string DecodeXmlText(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '&') {
            out += s[i];
            continue;
        }
        const std::size_t end = s.find(';', i);
        if (end == std::string_view::npos || end - i > 10) {
            out += s[i];
            continue;
        }
        const std::string_view name = s.substr(i + 1, end - i - 1);
        std::uint32_t code = 0;
        if (name == "amp") code = '&';
        else if (name == "lt") code = '<';
        else if (name == "gt") code = '>';
        else if (name == "quot") code = '"';
        else if (name == "apos") code = '\'';
        else if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            for (char c : name.substr(hex ? 2 : 1)) {
                const int digit = c >= '0' && c <= '9' ? c - '0'
                                  : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
                if (digit < 0 || code > 0x10FFFF) { code = 0; break; }
                code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
            }
        }
        if (code == 0 || code > 0x10FFFF) {
            out += s[i];
            continue;
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
        i = end;
    }
    return out;
}

// dc:description of an XMP packet: the first rdf:li of its language alternatives, or the
// attribute form dc:description="...".
std::string XmpDescription(std::string_view xmp) {
    const std::size_t start = xmp.find("dc:description");
    if (start == std::string_view::npos) return {};
    if (start > 0 && xmp[start - 1] == '<') {
        const std::size_t end = xmp.find("</dc:description", start);
        const std::string_view element = xmp.substr(start, end == std::string_view::npos ? xmp.npos : end - start);
        const std::size_t li = element.find("<rdf:li");
        if (li == std::string_view::npos) return {};
        const std::size_t open = element.find('>', li);
        if (open == std::string_view::npos || element[open - 1] == '/') return {};
        const std::size_t close = element.find("</rdf:li", open);
        if (close == std::string_view::npos) return {};
        return DecodeXmlText(element.substr(open + 1, close - open - 1));
    }
    std::size_t at = start + std::strlen("dc:description");
    while (at < xmp.size() && (xmp[at] == ' ' || xmp[at] == '\t' || xmp[at] == '\r' || xmp[at] == '\n')) ++at;
    if (at + 1 >= xmp.size() || xmp[at] != '=' || (xmp[at + 1] != '"' && xmp[at + 1] != '\'')) return {};
    const char quote = xmp[at + 1];
    const std::size_t close = xmp.find(quote, at + 2);
    if (close == std::string_view::npos) return {};
    return DecodeXmlText(xmp.substr(at + 2, close - at - 2));
}

// The IPTC caption (record 2, dataset 120) from Photoshop's image resources (APP13).
std::string IptcCaption(const std::uint8_t* p, std::size_t size) {
    std::size_t pos = 0;
    while (pos + 12 <= size) {
        if (std::memcmp(p + pos, "8BIM", 4) != 0) return {};
        const std::uint32_t id = (p[pos + 4] << 8) | p[pos + 5];
        std::size_t namePart = 1 + p[pos + 6];  // a Pascal string padded to an even length
        if (namePart % 2 != 0) ++namePart;
        std::size_t at = pos + 6 + namePart;
        if (at + 4 > size) return {};
        const std::size_t length = (std::size_t{p[at]} << 24) | (p[at + 1] << 16) | (p[at + 2] << 8) | p[at + 3];
        at += 4;
        if (length > size - at) return {};
        if (id == 0x0404) {
            std::size_t i = at;
            const std::size_t end = at + length;
            while (i + 5 <= end && p[i] == 0x1C) {
                const std::size_t count = (p[i + 3] << 8) | p[i + 4];
                if ((count & 0x8000) != 0 || count > end - i - 5) return {};  // extended lengths are not captions
                if (p[i + 1] == 2 && p[i + 2] == 120)
                    return std::string(reinterpret_cast<const char*>(p + i + 5), count);
                i += 5 + count;
            }
            return {};
        }
        pos = at + length + (length % 2);
    }
    return {};
}

}  // namespace

std::string CleanMetadataText(std::string text) {
    if (!ValidUtf8(text)) {
        std::string utf8;
        for (char ch : text) {
            const auto c = static_cast<unsigned char>(ch);
            if (c < 0x80) {
                utf8 += ch;
            } else {
                utf8 += static_cast<char>(0xC0 | (c >> 6));
                utf8 += static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        text = std::move(utf8);
    }
    const std::size_t first = text.find_first_not_of(std::string_view(" \t\r\n\0", 5));
    if (first == std::string::npos) return {};
    const std::size_t last = text.find_last_not_of(std::string_view(" \t\r\n\0", 5));
    return text.substr(first, last - first + 1);
}

PictureMetadata ReadPictureMetadata(const std::uint8_t* data, std::size_t size) {
    PictureMetadata meta;
    if (data == nullptr || size < 4) return meta;
    std::string exifDescription, xmpDescription, iptcCaption;
    if ((data[0] == 'I' && data[1] == 'I') || (data[0] == 'M' && data[1] == 'M')) {
        FromTiff(data, size, meta, exifDescription);
        meta.description = exifDescription;
        return meta;
    }
    if (data[0] != 0xFF || data[1] != 0xD8) return meta;
    static constexpr char kXmp[] = "http://ns.adobe.com/xap/1.0/";
    static constexpr char kPhotoshop[] = "Photoshop 3.0";
    std::size_t pos = 2;
    while (pos + 4 <= size) {
        if (data[pos] != 0xFF) break;
        const std::uint8_t marker = data[pos + 1];
        if (marker == 0xFF) {
            ++pos;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) break;
        const std::size_t length = (data[pos + 2] << 8) | data[pos + 3];
        if (length < 2 || length > size - pos - 2) break;
        const std::uint8_t* body = data + pos + 4;
        const std::size_t bodySize = length - 2;
        if (marker == 0xE1 && bodySize >= 6 && std::memcmp(body, "Exif\0\0", 6) == 0) {
            FromTiff(body + 6, bodySize - 6, meta, exifDescription);
        } else if (marker == 0xE1 && bodySize > sizeof kXmp && std::memcmp(body, kXmp, sizeof kXmp) == 0) {
            xmpDescription = CleanMetadataText(XmpDescription(std::string_view(
                reinterpret_cast<const char*>(body + sizeof kXmp), bodySize - sizeof kXmp)));
        } else if (marker == 0xED && bodySize > sizeof kPhotoshop &&
                   std::memcmp(body, kPhotoshop, sizeof kPhotoshop) == 0) {
            iptcCaption = CleanMetadataText(IptcCaption(body + sizeof kPhotoshop, bodySize - sizeof kPhotoshop));
        }
        pos += 2 + length;
    }
    meta.description = !exifDescription.empty() ? exifDescription
                       : !xmpDescription.empty() ? xmpDescription
                                                 : iptcCaption;
    return meta;
}

}  // namespace nimbrel::imaging
