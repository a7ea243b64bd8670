#pragma once
// The one exception type of the core. Its message is the text the user sees.

#include <stdexcept>
#include <string>

namespace nimbrel {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Replaces the first "%s" of a message template, as the system's messages are written.
std::string Format(const std::string& pattern, const std::string& value);

}  // namespace nimbrel
