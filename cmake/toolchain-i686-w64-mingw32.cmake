# Cross-building the 32-bit Windows console program with MinGW-w64. The
# "-posix" thread-model compilers are needed: GoogleTest uses std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(ZELM_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${ZELM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELM_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZELM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: no MinGW runtime DLLs beside it, only system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs built here run under wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
