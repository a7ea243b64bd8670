#pragma once
// Payload bytes of the test executables' resources, shared by the generator and the tests.
#include <cstdint>
#include <initializer_list>
#include <string>

namespace fixture {

// `size` bytes that depend on `seed` (a small linear congruential generator).
inline std::string Payload(std::uint32_t seed, std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t state = seed * 2654435761u + 12345u;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 23);
    }
    return bytes;
}

inline void Put16(std::string& out, unsigned value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}
inline void Put32(std::string& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

// An icon group record listing `ids` (32x32 images of 8 bits).
inline std::string GroupRecord(std::initializer_list<unsigned> ids) {
    std::string out;
    Put16(out, 0);
    Put16(out, 1);
    Put16(out, static_cast<unsigned>(ids.size()));
    for (unsigned id : ids) {
        out += static_cast<char>(32);
        out += static_cast<char>(32);
        out += static_cast<char>(0);
        out += static_cast<char>(0);
        Put16(out, 1);
        Put16(out, 8);
        Put32(out, 744);
        Put16(out, id);
    }
    return out;
}

}  // namespace fixture
