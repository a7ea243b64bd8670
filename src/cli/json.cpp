#include "cli/json.h"

#include <cstdio>

namespace nimbrel::cli {

namespace {

// The length of the valid UTF-8 sequence at `i`, or 0 when there is none.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    std::size_t length = lead < 0x80           ? 1
                         : (lead >> 5) == 0x6  ? 2
                         : (lead >> 4) == 0xE  ? 3
                         : (lead >> 3) == 0x1E ? 4
                                               : 0;
    if (length == 0 || i + length > text.size()) return 0;
    std::uint32_t code = length == 1   ? lead
                         : length == 2 ? lead & 0x1F
                         : length == 3 ? lead & 0x0F
                                       : lead & 0x07;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are no valid UTF-8.
    static const std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
    return length;
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (std::size_t i = 0; i < text.size();) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c == '\n') {
            json += "\\n";
        } else if (c == '\r') {
            json += "\\r";
        } else if (c == '\t') {
            json += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            json += escape;
        } else if (c < 0x80) {
            json += static_cast<char>(c);
        } else if (std::size_t length = Utf8Length(text, i); length > 0) {
            json.append(text, i, length);
            i += length;
            continue;
        } else {
            json += static_cast<char>(0xC0 | (c >> 6));
            json += static_cast<char>(0x80 | (c & 0x3F));
        }
        ++i;
    }
    return json + "\"";
}

std::string PrintableText(const std::string& text) {
    std::string shown;
    auto escape = [&shown](unsigned code) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
        shown += escaped;
    };
    for (std::size_t i = 0; i < text.size();) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            shown += "\\n";
        } else if (c == '\r') {
            shown += "\\r";
        } else if (c == '\t') {
            shown += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            escape(c);
        } else if (c < 0x80) {
            shown += static_cast<char>(c);
        } else if (std::size_t length = Utf8Length(text, i); length > 0) {
            // U+0080..U+009F are the C1 controls (CSI among them).
            const auto second = static_cast<unsigned char>(text[i + 1]);
            if (length == 2 && c == 0xC2 && second < 0xA0)
                escape(second);
            else
                shown.append(text, i, length);
            i += length;
            continue;
        } else if (c < 0xA0) {
            escape(c);
        } else {
            shown += static_cast<char>(0xC0 | (c >> 6));
            shown += static_cast<char>(0x80 | (c & 0x3F));
        }
        ++i;
    }
    return shown;
}

JsonObject& JsonObject::Add(const std::string& key, const std::string& value) {
    members_.emplace_back(key, JsonString(value));
    return *this;
}

JsonObject& JsonObject::Add(const std::string& key, std::int64_t value) {
    members_.emplace_back(key, std::to_string(value));
    return *this;
}

JsonObject& JsonObject::Add(const std::string& key, bool value) {
    members_.emplace_back(key, value ? "true" : "false");
    return *this;
}

JsonObject& JsonObject::AddRaw(const std::string& key, const std::string& json) {
    members_.emplace_back(key, json);
    return *this;
}

std::string JsonObject::Text() const {
    std::string text = "{";
    for (std::size_t i = 0; i < members_.size(); ++i) {
        if (i > 0) text += ", ";
        text += JsonString(members_[i].first) + ": " + members_[i].second;
    }
    return text + "}";
}

std::string JsonArray(const std::vector<std::string>& elements, int indent) {
    if (elements.empty()) return "[]";
    std::string pad(static_cast<std::size_t>(indent), ' ');
    std::string text = "[\n";
    for (std::size_t i = 0; i < elements.size(); ++i)
        text += pad + "  " + elements[i] + (i + 1 < elements.size() ? ",\n" : "\n");
    return text + pad + "]";
}

}  // namespace nimbrel::cli
