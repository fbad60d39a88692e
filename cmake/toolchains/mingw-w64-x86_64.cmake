# Cross-compiles the Windows build (64-bit) with Debian's MinGW-w64: the compilers of the
# posix thread model (g++-mingw-w64-x86-64-posix, whose std::thread and std::mutex work) and
# windres (binutils-mingw-w64-x86-64).
#   cmake -S . -B build-windows --toolchain cmake/toolchains/mingw-w64-x86_64.cmake
# scripts/build-windows.sh does this, and cmake/KivWindows.cmake says what the build holds.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KIV_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KIV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KIV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KIV_MINGW_TRIPLE}-windres)

# Libraries, headers and packages come from the MinGW-w64 tree only, never from the host's
# /usr: the two header-only libraries we take from Debian are handed in one by one
# (cmake/KivWindows.cmake). Programs (windres, wine) are the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${KIV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Linked statically: libstdc++, libgcc and winpthread go into every program, so an .exe
# needs no DLL beyond Windows' own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
