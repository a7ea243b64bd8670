#pragma once
// Small file helpers shared by the project tests.

#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace nimbrel::project::testing {

inline void WriteBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace nimbrel::project::testing
