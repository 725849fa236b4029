# Cross build for 32-bit Windows with MinGW-w64. The win32 thread model is wanted: std::atomic
# works, std::thread and std::mutex do not, and no winpthread DLL is dragged in. Debian installs
# both models side by side; the -win32 names are taken when they exist.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(GLOB_MINGW_PREFIX i686-w64-mingw32)

find_program(GLOB_MINGW_GCC NAMES ${GLOB_MINGW_PREFIX}-gcc-win32 ${GLOB_MINGW_PREFIX}-gcc REQUIRED)
find_program(GLOB_MINGW_GXX NAMES ${GLOB_MINGW_PREFIX}-g++-win32 ${GLOB_MINGW_PREFIX}-g++ REQUIRED)
find_program(GLOB_MINGW_WINDRES NAMES ${GLOB_MINGW_PREFIX}-windres REQUIRED)

set(CMAKE_C_COMPILER ${GLOB_MINGW_GCC})
set(CMAKE_CXX_COMPILER ${GLOB_MINGW_GXX})
set(CMAKE_RC_COMPILER ${GLOB_MINGW_WINDRES})

# Only the MinGW sysroot: /usr/include holds glibc headers that must never reach this compiler.
set(CMAKE_FIND_ROOT_PATH /usr/${GLOB_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every .exe runs alone next to the system DLLs: no libgcc_s, libstdc++ or libwinpthread DLL.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
