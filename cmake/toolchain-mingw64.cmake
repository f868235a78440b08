# Cross-build for 64-bit Windows (x86_64-w64-mingw32): the same build as
# toolchain-mingw32.cmake for the other target. Used to run the Windows
# tests under 64-bit Wine on machines that cannot run 32-bit programs.
set(TESQ_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw32.cmake)
