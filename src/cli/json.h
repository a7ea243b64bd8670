#pragma once
// The little JSON the command line writes: strings and flat objects, one per line.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace nimbrel::cli {

// `text` as a JSON string with its quotes. Names in archives are 8-bit strings in whatever code
// page made them: valid UTF-8 passes as it is, any other byte is taken as Latin-1.
std::string JsonString(const std::string& text);

// `text` for a terminal line, without quotes: control characters (C0, DEL and C1) escaped as
// JSONString escapes them (\n, \r, \t, \u001b), so that a name can neither break a line nor
// drive the terminal; other bytes as JsonString takes them.
std::string PrintableText(const std::string& text);

// Builds one JSON object, members in the order added.
class JsonObject {
public:
    JsonObject& Add(const std::string& key, const std::string& value);
    JsonObject& Add(const std::string& key, const char* value) { return Add(key, std::string(value)); }
    JsonObject& Add(const std::string& key, std::int64_t value);
    JsonObject& Add(const std::string& key, int value) { return Add(key, static_cast<std::int64_t>(value)); }
    JsonObject& Add(const std::string& key, bool value);
    // A value already in JSON form (an object or an array).
    JsonObject& AddRaw(const std::string& key, const std::string& json);
    // `{"key": value, ...}` on one line.
    std::string Text() const;

private:
    std::vector<std::pair<std::string, std::string>> members_;
};

// The objects as a JSON array, one element a line, indented by `indent` spaces.
std::string JsonArray(const std::vector<std::string>& elements, int indent);

}  // namespace nimbrel::cli
