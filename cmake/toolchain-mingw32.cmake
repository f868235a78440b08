# Cross-build for 32-bit Windows with Debian's MinGW-w64 i686 toolchain (the
# -posix compilers, whose C++ runtime has std::thread and std::mutex):
#
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake
#
# TESQ_MINGW_TRIPLE selects another MinGW-w64 target (x86_64-w64-mingw32 for
# 64-bit Windows); cmake/toolchain-mingw64.cmake does that.
if(NOT DEFINED TESQ_MINGW_TRIPLE)
  set(TESQ_MINGW_TRIPLE i686-w64-mingw32)
endif()

set(CMAKE_SYSTEM_NAME Windows)
if(TESQ_MINGW_TRIPLE MATCHES "^x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86)
endif()

set(CMAKE_C_COMPILER ${TESQ_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESQ_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TESQ_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${TESQ_MINGW_TRIPLE}-dlltool)
set(CMAKE_OBJDUMP ${TESQ_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${TESQ_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime, libgcc and winpthreads are linked statically: the DLLs and
# programs import nothing but system DLLs and each other.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# SSE2 arithmetic on 32-bit x86 as on x86_64: the segmenter's sums of
# double weights round the same way, so both builds segment alike.
if(NOT TESQ_MINGW_TRIPLE MATCHES "^x86_64")
  set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
  set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
endif()

# Test programs run under Wine (scripts/wine-run.sh sets up a private,
# headless prefix).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
