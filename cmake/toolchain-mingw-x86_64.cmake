# Cross-compiles for 64-bit Windows with the MinGW-w64 x86_64 toolchain.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
