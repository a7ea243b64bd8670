#include "pe_check.h"

#include <stdexcept>

namespace pecheck {

std::uint32_t Get32(const std::string& f, std::size_t o) {
    if (o + 4 > f.size()) throw std::out_of_range("read past the end of the file");
    return static_cast<std::uint8_t>(f[o]) | static_cast<std::uint8_t>(f[o + 1]) << 8 |
           static_cast<std::uint8_t>(f[o + 2]) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(f[o + 3])) << 24;
}
std::uint16_t Get16(const std::string& f, std::size_t o) {
    if (o + 2 > f.size()) throw std::out_of_range("read past the end of the file");
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(f[o]) | static_cast<std::uint8_t>(f[o + 1])
                                                                            << 8);
}
void Set32(std::string& f, std::size_t o, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) f.at(o + i) = static_cast<char>(v >> (8 * i));
}
void Set16(std::string& f, std::size_t o, std::uint16_t v) {
    f.at(o) = static_cast<char>(v);
    f.at(o + 1) = static_cast<char>(v >> 8);
}

int Image::Find(const std::string& name) const {
    for (std::size_t i = 0; i < sections.size(); ++i)
        if (sections[i].name == name) return static_cast<int>(i);
    return -1;
}

Image Parse(const std::string& f) {
    Image img;
    img.nt = Get32(f, 60);
    if (Get32(f, img.nt) != 0x4550) throw std::runtime_error("no PE signature");
    std::uint32_t opt = img.nt + 24;
    img.initializedData = Get32(f, opt + 8);
    img.sectionAlignment = Get32(f, opt + 32);
    img.fileAlignment = Get32(f, opt + 36);
    img.sizeOfImage = Get32(f, opt + 56);
    img.checkSum = Get32(f, opt + 64);
    for (int i = 0; i < 16; ++i) {
        img.dirAddress[i] = Get32(f, opt + 96 + 8 * i);
        img.dirSize[i] = Get32(f, opt + 100 + 8 * i);
    }
    std::uint32_t table = opt + Get16(f, img.nt + 20);
    for (unsigned i = 0; i < Get16(f, img.nt + 6); ++i) {
        Section s;
        s.header = table + 40 * i;
        s.name = f.substr(s.header, 8).c_str();
        s.virtualSize = Get32(f, s.header + 8);
        s.virtualAddress = Get32(f, s.header + 12);
        s.rawSize = Get32(f, s.header + 16);
        s.rawPointer = Get32(f, s.header + 20);
        s.relocations = Get32(f, s.header + 24);
        s.linenumbers = Get32(f, s.header + 28);
        img.sections.push_back(s);
    }
    return img;
}

std::uint32_t StandardChecksum(const std::string& f) {
    std::size_t field = Get32(f, 60) + 24 + 64;
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < f.size(); i += 2) {
        if (i == field || i == field + 2) continue;  // the CheckSum field counts as zero
        sum += Get16(f, i);
        sum = (sum >> 16) + (sum & 0xFFFF);
    }
    if (f.size() & 1) {
        sum += static_cast<std::uint8_t>(f.back());
        sum = (sum >> 16) + (sum & 0xFFFF);
    }
    sum = (sum >> 16) + (sum & 0xFFFF);
    return sum + static_cast<std::uint32_t>(f.size());
}

namespace {
std::uint64_t AlignTo(std::uint64_t v, std::uint64_t a) {
    return (v + a - 1) / a * a;
}
}  // namespace

std::string ValidateStructure(const std::string& f) {
    Image img = Parse(f);
    std::uint64_t expectRaw = 0, expectVa = 0;
    std::uint64_t end = 0;
    for (const Section& s : img.sections) {
        if (s.rawSize) {
            if (s.rawPointer % img.fileAlignment || s.rawSize % img.fileAlignment)
                return s.name + ": raw data not aligned to FileAlignment";
            if (expectRaw && s.rawPointer != expectRaw) return s.name + ": raw data not contiguous";
            if (std::uint64_t{s.rawPointer} + s.rawSize > f.size())
                return s.name + ": raw data beyond the file";
            expectRaw = s.rawPointer + s.rawSize;
        }
        if (s.virtualAddress % img.sectionAlignment) return s.name + ": address not aligned";
        if (expectVa && s.virtualAddress != expectVa) return s.name + ": addresses not contiguous";
        std::uint32_t vs = s.virtualSize ? s.virtualSize : s.rawSize;
        expectVa = AlignTo(std::uint64_t{s.virtualAddress} + vs, img.sectionAlignment);
        end = expectVa;
    }
    if (img.sizeOfImage != end) return "SizeOfImage is not the aligned end of the last section";
    for (int d = 0; d < 16; ++d) {
        if (d == 4 || img.dirSize[d] == 0) continue;  // the certificate table is a file position
        if (std::uint64_t{img.dirAddress[d]} + img.dirSize[d] > img.sizeOfImage)
            return "data directory " + std::to_string(d) + " outside the image";
    }
    if (img.dirSize[2]) {
        bool found = false;
        for (const Section& s : img.sections) {
            if (s.virtualAddress != img.dirAddress[2]) continue;
            found = true;
            if (s.virtualSize != img.dirSize[2])
                return "resource directory size differs from the section's content";
        }
        if (!found) return "no section holds the resource directory";
    }
    return "";
}

namespace {

struct Walker {
    const std::string& f;
    std::uint32_t base, rva;
    std::map<std::string, std::string>& out;

    std::string Label(std::uint32_t nameField) {
        if (!(nameField & 0x80000000u)) return std::to_string(nameField);
        std::uint32_t at = base + (nameField & 0x7FFFFFFFu);
        std::string text = "\"";
        for (unsigned i = 0; i < Get16(f, at); ++i) {
            std::uint16_t c = Get16(f, at + 2 + 2 * i);
            text += c < 128 ? static_cast<char>(c) : '?';
        }
        return text + "\"";
    }

    void Walk(std::uint32_t offset, const std::string& path, int depth) {
        if (depth > 4) throw std::runtime_error("resource tree too deep");
        std::uint32_t at = base + offset;
        unsigned count = Get16(f, at + 12) + Get16(f, at + 14);
        for (unsigned i = 0; i < count; ++i) {
            std::uint32_t name = Get32(f, at + 16 + 8 * i);
            std::uint32_t target = Get32(f, at + 20 + 8 * i);
            std::string here = path + (path.empty() ? "" : "/") + Label(name);
            if (target & 0x80000000u) {
                Walk(target & 0x7FFFFFFFu, here, depth + 1);
            } else {
                std::uint32_t e = base + target;
                std::uint32_t dataRva = Get32(f, e), size = Get32(f, e + 4);
                std::string bytes = f.substr(base + (dataRva - rva), size);
                if (bytes.size() != size) throw std::runtime_error("data beyond the file");
                out[here] = "cp" + std::to_string(Get32(f, e + 8)) + ":" + bytes;
            }
        }
    }
};

}  // namespace

std::map<std::string, std::string> DumpResources(const std::string& f) {
    Image img = Parse(f);
    std::map<std::string, std::string> out;
    for (const Section& s : img.sections) {
        if (s.virtualAddress != img.dirAddress[2] || !img.dirSize[2]) continue;
        Walker{f, s.rawPointer, s.virtualAddress, out}.Walk(0, "", 0);
        break;
    }
    return out;
}

}  // namespace pecheck
