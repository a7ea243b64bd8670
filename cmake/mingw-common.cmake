# The mingw-w64 toolchain settings shared by the 32-bit and 64-bit toolchain files, which set
# CMAKE_SYSTEM_PROCESSOR and TOOLCHAIN_PREFIX before including this.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
if(NOT EXISTS /usr/bin/${TOOLCHAIN_PREFIX}-g++-posix)
  set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++)
endif()
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Programs that need only the DLLs every Windows has.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(ZLIB_USE_STATIC_LIBS ON)
# The AVX2 paths chosen at run time keep 32-byte values on the stack, which GCC cannot align on
# Windows: the assembler turns the aligned vector moves into unaligned ones, which are as fast on
# aligned data.
set(NIMBREL_MINGW_FLAGS "-Wa,-muse-unaligned-vector-move")
set(CMAKE_C_FLAGS_INIT "${NIMBREL_MINGW_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${NIMBREL_MINGW_FLAGS}")
