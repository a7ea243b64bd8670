#include <string>

#include "platform/error.h"
#include "platform/files.h"
#include "signing/authenticode.h"

namespace nimbrel::signing {

std::string ReadPasswordFile(const std::string& path) {
    std::string text;
    try {
        text = platform::ReadWholeFile(path);
    } catch (const Error& e) {
        throw Error("Cannot read the password file " + path + ": " + e.what());
    }
    std::size_t end = text.find_first_of("\r\n");
    if (end != std::string::npos) text.resize(end);
    return text;
}

}  // namespace nimbrel::signing
