#include "project/big_ini_file.h"
#include "platform/ascii.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace nimbrel::project {

namespace {

using platform::LowerAscii;

std::string Lower(std::string_view text) {
    return platform::LowerAscii(text);
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// An existing file that cannot be read is an error; a missing one (or a missing folder on its
// way) reads as empty.
bool ProjectFileExists(const std::string& fileName) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::file_status status = fs::status(platform::NativePath(fileName), ec);
    if (status.type() == fs::file_type::not_found) return false;
    if (ec) throw Error(platform::IoErrorMessage(ec.default_error_condition().value()));
    // A folder cannot be opened as a file; Windows reports that as denied access.
    if (status.type() == fs::file_type::directory) throw Error(platform::IoErrorMessage(EACCES));
    // A pipe or a device could keep the reader waiting for ever, or never end.
    if (status.type() != fs::file_type::regular) throw Error(platform::NotRegularFileMessage(fileName));
    return true;
}

// The value of a "key=value" line: up to its first NUL.
std::string ValueOf(const std::string& line) {
    const std::size_t start = line.find('=') + 1;
    return line.substr(start, line.find('\0', start) - start);
}

}  // namespace

TBigIniFile::TBigIniFile(const std::string& fileName) {
    if (fileName.size() > kMaxLine)
        throw Error("The project path is too long (more than 255 characters): " + fileName);
    fileName_ = fileName;
    if (fileName_.empty()) return;
    if (ProjectFileExists(fileName_)) Parse(platform::ReadWholeFile(fileName_));
}

TBigIniFile::TBigIniFile(InMemory, std::string_view bytes) {
    Parse(bytes);
}

TBigIniFile TBigIniFile::FromBytes(std::string_view bytes) {
    return TBigIniFile(InMemory{}, bytes);
}

TBigIniFile::~TBigIniFile() {
    try {
        Flush();
    } catch (...) {
        // A destructor must not throw; callers that need to know call Flush() themselves.
    }
}

void TBigIniFile::Parse(std::string_view bytes) {
    std::size_t eof = bytes.find('\x1A');
    if (eof != std::string_view::npos) bytes = bytes.substr(0, eof);

    // Lines end at CR (an LF right after it belongs to the line end). A file without any CR
    // comes from an editor that ends lines with LF alone: its lines end at LF instead.
    const char lineBreak = bytes.find('\r') == std::string_view::npos ? '\n' : '\r';
    bool inSection = false;  // false before the first header and inside a discarded duplicate
    std::size_t current = 0;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t end = bytes.find(lineBreak, pos);
        std::size_t lineEnd = end == std::string_view::npos ? bytes.size() : end;
        std::string_view line = bytes.substr(pos, std::min(lineEnd - pos, kMaxLine));
        pos = lineEnd;
        if (pos < bytes.size()) {
            ++pos;  // the line break
            if (lineBreak == '\r' && pos < bytes.size() && bytes[pos] == '\n') ++pos;
        }

        if (line.empty()) continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            std::string_view name = line.substr(1, line.size() - 2);
            if (sectionIndex_.count(Lower(name))) {
                inSection = false;
                modified_ = true;
            } else {
                AddSection(std::string(name));
                current = sections_.size() - 1;
                inSection = true;
            }
            continue;
        }
        if (!inSection) continue;
        sections_[current].lines.emplace_back(line);
    }
}

TBigIniFile::Section& TBigIniFile::AddSection(std::string name) {
    sectionIndex_.emplace(Lower(name), sections_.size());
    sections_.push_back(Section{std::move(name), {}, {}});
    return sections_.back();
}

const TBigIniFile::Section* TBigIniFile::Find(std::string_view name) const {
    if (lastFound_ < sections_.size() && SameText(sections_[lastFound_].name, name))
        return &sections_[lastFound_];
    auto it = sectionIndex_.find(Lower(name));
    if (it == sectionIndex_.end()) return nullptr;
    lastFound_ = it->second;
    return &sections_[it->second];
}

TBigIniFile::Section& TBigIniFile::FindOrAdd(std::string_view name) {
    if (const Section* found = Find(name)) return const_cast<Section&>(*found);
    lastFound_ = sections_.size();
    return AddSection(std::string(name));
}

void TBigIniFile::IndexLine(const Section& section, std::size_t index) {
    if (!section.indexed) return;
    const std::string& line = section.lines[index];
    std::size_t equals = line.find('=');
    if (equals == std::string::npos) return;
    section.keys.emplace(Lower(std::string_view(line).substr(0, equals)), index);
}

void TBigIniFile::RebuildIndex(Section& section) {
    section.keys.clear();
    section.indexed = false;
}

const TBigIniFile::Section& TBigIniFile::Indexed(const Section& section) {
    if (!section.indexed) {
        section.indexed = true;
        section.keys.reserve(section.lines.size());
        for (std::size_t i = 0; i < section.lines.size(); ++i) IndexLine(section, i);
    }
    return section;
}

const std::string* TBigIniFile::FindLine(const Section& section, std::string_view key) {
    const auto& keys = Indexed(section).keys;
    auto it = keys.find(Lower(key));
    if (it == keys.end()) return nullptr;
    return &section.lines[it->second];
}

std::string TBigIniFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
    const Section* found = Find(section);
    if (!found) return std::string(defaultValue);
    const std::string* line = FindLine(*found, key);
    if (!line) return std::string(defaultValue);
    return ValueOf(*line);
}

std::optional<std::string> TBigIniFile::FindValue(std::string_view section, std::string_view key) const {
    const Section* found = Find(section);
    if (!found) return std::nullopt;
    const std::string* line = FindLine(*found, key);
    if (!line) return std::nullopt;
    return ValueOf(*line);
}

void TBigIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    value = value.substr(0, value.find('\0'));
    std::string line;
    line.reserve(key.size() + 1 + value.size());
    line.append(key).append("=").append(value);
    if (line.size() > kMaxLine) line.resize(kMaxLine);

    Section& target = FindOrAdd(section);
    auto it = Indexed(target).keys.find(Lower(key));
    if (it == target.keys.end()) {
        target.lines.push_back(std::move(line));
        IndexLine(target, target.lines.size() - 1);
        modified_ = true;
        return;
    }
    std::string& existing = target.lines[it->second];
    if (existing == line) return;
    existing = std::move(line);
    modified_ = true;
    // A key of 255 characters or more loses its "=" to the cut, and with it its place in the index.
    if (key.size() >= kMaxLine) RebuildIndex(target);
}

bool TBigIniFile::ParseInteger(std::string_view text, std::int32_t& value) {
    std::string replaced;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        replaced = "$";
        replaced.append(text.substr(2));
        text = replaced;
    }
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::uint64_t magnitude = 0;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        // Hexadecimal is a magnitude like decimal: $80000000 and beyond are out of range,
        // -$80000000 is the smallest value.
        ++i;
        if (i == text.size()) return false;
        for (; i < text.size(); ++i) {
            int digit = HexDigit(text[i]);
            if (digit < 0) return false;
            magnitude = magnitude * 16 + static_cast<unsigned>(digit);
            if (magnitude > 2147483648u) return false;
        }
    } else {
        if (i == text.size()) return false;
        for (; i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            magnitude = magnitude * 10 + static_cast<unsigned>(text[i] - '0');
            if (magnitude > 2147483648u) return false;
        }
    }
    if (!negative && magnitude > 2147483647u) return false;
    value = negative ? static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(magnitude))
                     : static_cast<std::int32_t>(magnitude);
    return true;
}

std::int32_t TBigIniFile::ReadInteger(std::string_view section, std::string_view key,
                                      std::int32_t defaultValue) const {
    std::int32_t value = 0;
    return ParseInteger(ReadString(section, key, ""), value) ? value : defaultValue;
}

void TBigIniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
    WriteString(section, key, std::to_string(value));
}

bool TBigIniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TBigIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

namespace {

// The number a key spells as std::to_string would (no sign, blanks or leading zeros) within
// 32 bits, or -1.
std::int64_t KeyNumber(std::string_view key) {
    if (key.empty() || key.size() > 10 || (key[0] == '0' && key.size() > 1)) return -1;
    std::int64_t number = 0;
    for (char c : key) {
        if (c < '0' || c > '9') return -1;
        number = number * 10 + (c - '0');
    }
    return number <= 2147483647 ? number : -1;
}

// The number of a "key=value" line's key; -1 for a line without "=" or another key.
std::int64_t LineNumber(std::string_view line) {
    const std::size_t equals = line.find('=');
    return equals == std::string_view::npos ? -1 : KeyNumber(line.substr(0, equals));
}

}  // namespace

std::int64_t TBigIniFile::HighestNumberedKey(std::string_view section) const {
    const Section* found = Find(section);
    if (!found) return -1;
    std::int64_t highest = -1;
    for (const std::string& line : found->lines) highest = std::max(highest, LineNumber(line));
    return highest;
}

std::vector<std::string> TBigIniFile::NumberedValues(std::string_view section, std::size_t count) const {
    std::vector<std::string> values(count);
    const Section* found = Find(section);
    if (!found) return values;
    // In file order, the first line of each number wins, as in a lookup by key (digits have no
    // case, and "017" is not 17).
    std::vector<bool> seen(count, false);
    for (const std::string& line : found->lines) {
        const std::int64_t number = LineNumber(line);
        if (number < 0 || static_cast<std::uint64_t>(number) >= count || seen[static_cast<std::size_t>(number)])
            continue;
        seen[static_cast<std::size_t>(number)] = true;
        values[static_cast<std::size_t>(number)] = ValueOf(line);
    }
    return values;
}

std::vector<std::string> TBigIniFile::SectionNames() const {
    std::vector<std::string> names;
    names.reserve(sections_.size());
    for (const Section& section : sections_) names.push_back(section.name);
    return names;
}

std::vector<std::string> TBigIniFile::SectionLines(std::string_view section) const {
    const Section* found = Find(section);
    return found ? found->lines : std::vector<std::string>{};
}

std::string TBigIniFile::Content() const {
    std::size_t size = 0;
    for (const Section& section : sections_) {
        if (section.lines.empty()) continue;
        size += section.name.size() + 6;
        for (const std::string& line : section.lines) size += line.size() + 2;
    }
    std::string text;
    text.reserve(size);
    for (const Section& section : sections_) {
        if (section.lines.empty()) continue;
        text.append("[").append(section.name).append("]\r\n");
        for (const std::string& line : section.lines) text.append(line).append("\r\n");
        text.append("\r\n");
    }
    return text;
}

void TBigIniFile::Flush() {
    if (!modified_) return;
    if (!fileName_.empty()) platform::WriteFileAtomically(fileName_, Content());
    modified_ = false;
}

}  // namespace nimbrel::project
