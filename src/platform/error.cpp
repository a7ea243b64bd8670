#include "platform/error.h"

namespace nimbrel {

std::string Format(const std::string& pattern, const std::string& value) {
    std::string result = pattern;
    if (auto at = result.find("%s"); at != std::string::npos) result.replace(at, 2, value);
    return result;
}

}  // namespace nimbrel
