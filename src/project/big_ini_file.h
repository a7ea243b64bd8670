#pragma once
// The INI text layer of every project file, also read by the players (from "Options.ini" in their
// archive). Its exact reading and writing rules are what makes the project file's bytes stable:
//
// - A line ends at CR; an LF directly after the CR is skipped, an LF alone stays inside the line.
//   A file that holds no CR at all has its lines end at LF (and is written back with CR LF).
//   Ctrl-Z (0x1A) ends the file. A line is read up to 255 characters; the rest of it is skipped.
// - "[name]" (first character "[", last "]") opens a section; the name is not trimmed. Lines
//   before the first section and empty lines are dropped. In a section, the key of a line is the
//   text before its first "=", the value everything after it; neither is trimmed. Lines without
//   "=" are kept and written back but never match a key.
// - Sections and keys match without regard to (ASCII) case. Only the first occurrence of a
//   section is kept; later ones are discarded with all their lines, which marks the content as
//   modified so that the next flush writes the file without them.
// - A value ends at its first NUL byte, as the Windows profile functions read it: what a read
//   gives, what a write stores and what is shown are the same text.
// - Nothing reaches the disk before Flush() (or the destructor). A flush writes, for every
//   section that has lines, "[name]", its lines and one empty line, each ending in CR LF, and
//   replaces the file only once the new content is complete.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace nimbrel::project {

class TBigIniFile {
public:
    // The longest line (and file name) the layer holds.
    static constexpr std::size_t kMaxLine = 255;

    // Opens the file: an existing file is read completely, a missing one gives an empty object.
    // Throws nimbrel::Error when the file exists but cannot be read (the platform's input/output
    // text), and when `fileName` is longer than 255 characters, so that a cut name never
    // addresses another file. An empty name gives an object that never writes.
    explicit TBigIniFile(const std::string& fileName);
    // An object over the bytes of a file held in memory. It has no file name and never writes.
    static TBigIniFile FromBytes(std::string_view bytes);

    // Flushes, swallowing any failure: call Flush() first where a failure must be reported.
    ~TBigIniFile();
    TBigIniFile(const TBigIniFile&) = delete;
    TBigIniFile& operator=(const TBigIniFile&) = delete;

    const std::string& FileName() const { return fileName_; }
    bool Modified() const { return modified_; }

    // The value of the first matching line, or `defaultValue` when the section or key is missing
    // (a key present with an empty value gives "").
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    // The value of the first matching line; nothing when the section or the key is missing.
    std::optional<std::string> FindValue(std::string_view section, std::string_view key) const;
    // Replaces the first matching line in place (when it differs, with regard to case) or
    // appends "key=value" to the section, which is appended when missing. The line is cut to
    // 255 characters.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);

    // Decimal, or hexadecimal after "$", "x" or a leading "0x"; leading blanks and a sign are
    // allowed. Empty text, trailing characters or a value outside the signed 32-bit
    // range (hexadecimal included: $FFFFFFFF is out of range, not -1) give the default.
    std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t defaultValue) const;
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    // Any integer other than 0 is true; text that is not an integer gives the default.
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
    void WriteBool(std::string_view section, std::string_view key, bool value);

    // The largest key under `section` that is a number as std::to_string spells it ("0", "17",
    // not "017" or "+1") and fits 32 bits; -1 when the section holds none.
    std::int64_t HighestNumberedKey(std::string_view section) const;
    // The values of the keys "0" to count - 1 under `section`, as ReadString reads them with an
    // empty default, in one pass over the section.
    std::vector<std::string> NumberedValues(std::string_view section, std::size_t count) const;

    // The names of the sections in file order, and the lines of one (empty when missing).
    std::vector<std::string> SectionNames() const;
    std::vector<std::string> SectionLines(std::string_view section) const;

    // The bytes a flush writes (CR LF line ends), whether or not anything was modified.
    std::string Content() const;

    // When modified and the object has a file name, rewrites the file from memory; clears
    // `Modified` once written (or at once without a file name). Throws nimbrel::Error on
    // failure, leaving the file as it was and `Modified` set.
    void Flush();
    void UpdateFile() { Flush(); }

    // Converts text as ReadInteger does; false when it is not a 32-bit integer.
    static bool ParseInteger(std::string_view text, std::int32_t& value);

private:
    struct Section {
        std::string name;
        std::vector<std::string> lines;
        // Lower-case key -> index of the first line with that key; built at the first lookup
        // by key, so that a section only read in order (a show's [Files]) never needs it.
        mutable std::unordered_map<std::string, std::size_t> keys;
        mutable bool indexed = false;
    };

    struct InMemory {};
    TBigIniFile(InMemory, std::string_view bytes);
    void Parse(std::string_view bytes);
    const Section* Find(std::string_view name) const;
    Section& FindOrAdd(std::string_view name);
    Section& AddSection(std::string name);
    static void IndexLine(const Section& section, std::size_t index);
    static void RebuildIndex(Section& section);
    static const Section& Indexed(const Section& section);
    static const std::string* FindLine(const Section& section, std::string_view key);

    std::string fileName_;
    bool modified_ = false;
    std::vector<Section> sections_;
    // Lower-case section name -> index in sections_.
    std::unordered_map<std::string, std::size_t> sectionIndex_;
    // The section found by the previous lookup: runs of keys in one section find it at once.
    mutable std::size_t lastFound_ = 0;
};

}  // namespace nimbrel::project
