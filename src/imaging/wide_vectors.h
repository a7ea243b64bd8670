#pragma once
// Wider vector instructions (AVX2), where the processor has them: chosen at run time, so that one
// build runs on every processor. Every wide path gives exactly the pixels of the SSE2 one.

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2__)
#define NIMBREL_WIDE_VECTORS 1
#define NIMBREL_TARGET_AVX2 __attribute__((target("avx2")))
#endif

namespace nimbrel::imaging {

// True when the processor (and the system, which must save the wide registers) has AVX2 and the
// wide paths are allowed.
bool WideVectors();
// Tests turn the wide paths off to compare them with the narrow ones.
void AllowWideVectors(bool allow);

}  // namespace nimbrel::imaging
