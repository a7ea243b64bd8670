#pragma once
// The change from one picture to the next. Until the core's imaging area brings its full set of
// effects, the players draw a small set of their own for every index.

#include <cstdint>

namespace nimbrel::player {

inline constexpr int kTransitionCount = 128;
inline constexpr int kRandomTransition = 128;

// The effect to draw for a Transition value: 0..127 themselves, 128 a random one (from
// `random`), anything else (129, -1, out of range) -1 for a plain cut.
int ResolveTransition(int index, std::uint32_t random);

// Draws step `t` (0 = all `from`, 1 = all `to`) of effect `effect` for two frames of 32-bit
// pixels, `width` x `height`, into `out`.
void RenderTransition(int effect, const std::uint32_t* from, const std::uint32_t* to, std::uint32_t* out,
                      int width, int height, double t);

}  // namespace nimbrel::player
