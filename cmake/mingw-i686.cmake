# Cross-compiling for 32-bit Windows with Debian's mingw-w64 toolchain.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# SSE2 arithmetic instead of the x87 unit: every processor that runs a current Windows has it, and
# the slideshow's picture scaling runs several times faster with it.
set(CMAKE_C_FLAGS_INIT "${NIMBREL_MINGW_FLAGS} -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "${NIMBREL_MINGW_FLAGS} -msse2 -mfpmath=sse")
