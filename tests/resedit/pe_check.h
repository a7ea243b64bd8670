#pragma once
// Checks of PE32 files written for the tests, independent of the editor's own reader.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace pecheck {

std::uint32_t Get32(const std::string& file, std::size_t offset);
std::uint16_t Get16(const std::string& file, std::size_t offset);
void Set32(std::string& file, std::size_t offset, std::uint32_t value);
void Set16(std::string& file, std::size_t offset, std::uint16_t value);

struct Section {
    std::string name;
    std::uint32_t header = 0;  // file offset of the section header
    std::uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawPointer = 0;
    std::uint32_t relocations = 0, linenumbers = 0;
};

struct Image {
    std::uint32_t nt = 0;
    std::uint32_t fileAlignment = 0, sectionAlignment = 0, sizeOfImage = 0, checkSum = 0, initializedData = 0;
    std::uint32_t dirAddress[16] = {}, dirSize[16] = {};
    std::vector<Section> sections;
    int Find(const std::string& name) const;
};

Image Parse(const std::string& file);
// The standard PE checksum, computed with the CheckSum field skipped.
std::uint32_t StandardChecksum(const std::string& file);
// "" when the layout is sound; otherwise what is wrong.
std::string ValidateStructure(const std::string& file);
// Every resource leaf as "type/name/language" (names in quotes) -> code page and bytes.
std::map<std::string, std::string> DumpResources(const std::string& file);

}  // namespace pecheck
