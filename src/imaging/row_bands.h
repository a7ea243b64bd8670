#pragma once
// Work on a picture's rows shared between threads: the rows are cut into bands, and the calling
// thread and a few helper threads (a pool made once per process, kept for its whole life) take
// the bands one after another until none is left. Every band is done exactly once, whichever
// thread takes it, so work whose bands write apart gives the same pixels on one thread or many.

#include <functional>

namespace nimbrel::imaging {

// Frames of more pixels than this are worth drawing on several threads; smaller ones are drawn on
// the calling thread alone (the hand-over would cost more than it saves).
inline constexpr long long kSharedFramePixels = 1LL << 21;

// The number of threads RunInBands uses at most for a frame of `pixels` pixels: 1 up to
// kSharedFramePixels, else the processor's cores (at most 4).
int BandThreadsFor(long long pixels);

// Runs work(first, last) for rows [first, last) over rows [0, rows), in bands of `band` rows
// (at least 1), on up to `threads` threads, the calling one included; returns when every band is
// done. When the pool is busy with another caller's work, the calling thread does it all. `work`
// must not throw.
void RunInBands(int rows, int band, int threads, const std::function<void(int first, int last)>& work);

}  // namespace nimbrel::imaging
