#pragma once
// The ranges of the slideshow's stored values, as the editor offers them. Defined once here, beside
// the project values, for every layer that clamps or checks them (the editor's controls, the
// pipeline, the show's layout and transitions); header-only, so it adds no link dependency.

namespace nimbrel::project {

// ShowSpeed: seconds each picture stays, 1 to 240 (the slider's range; a stored value outside it
// is clamped where it is used).
inline constexpr int kMinShowSpeed = 1;
inline constexpr int kMaxShowSpeed = 240;

// Transition: the transition box's item index. 0..127 an effect, 128 "Random", 129 "None";
// -1 (nothing chosen) and any other value are a plain cut.
inline constexpr int kTransitionEffects = 128;
inline constexpr int kTransitionRandom = 128;
inline constexpr int kTransitionNone = 129;
inline constexpr int kTransitionItems = 130;  // the box's items: the effects, Random and None

}  // namespace nimbrel::project
