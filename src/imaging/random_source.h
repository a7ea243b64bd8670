#pragma once
// A small seedable random source (SplitMix64): the same seed gives the same sequence on every
// system, so tests can repeat what the player does with a seed taken from the clock.

#include <cstdint>

namespace nimbrel::imaging {

class RandomSource {
public:
    explicit RandomSource(std::uint64_t seed = 0x9E3779B97F4A7C15ull) : state_(seed) {}

    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // A value in 0..bound-1 (0 when bound is 0).
    std::uint32_t Below(std::uint32_t bound) {
        return bound == 0 ? 0 : static_cast<std::uint32_t>((Next() >> 32) * bound >> 32);
    }

private:
    std::uint64_t state_;
};

}  // namespace nimbrel::imaging
