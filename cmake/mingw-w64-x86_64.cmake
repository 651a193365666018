# Cross-builds the core for 64-bit Windows with Debian's mingw-w64 (posix threads: the
# win32-thread variant has no std::mutex, which GoogleTest needs).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VRAX_MINGW_TARGET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VRAX_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VRAX_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${VRAX_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VRAX_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static programs run on a station PC as they are, with no runtime DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Debian keeps the 64-bit loader out of PATH; elsewhere it is plain wine.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
    find_program(VRAX_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
    if(VRAX_WINE)
        set(CMAKE_CROSSCOMPILING_EMULATOR ${VRAX_WINE})
    endif()
endif()

# GCC for Windows lets a caller keep values in registers that the body of an inline function it
# compiled leaves alone, yet the linker may keep another object's copy of that function: static
# Qt's random generator crashed on the bench's own std::mt19937. No caller may rely on that here.
string(APPEND CMAKE_C_FLAGS_INIT " -fno-ipa-ra")
string(APPEND CMAKE_CXX_FLAGS_INIT " -fno-ipa-ra")
