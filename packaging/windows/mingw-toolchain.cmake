# Cross-compilers for the static Qt and for every program linked against it. The Qt install keeps
# a copy of this file beside its own toolchain file, so the install works from any folder.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The posix-thread compilers: the win32-thread variant has no std::thread or std::mutex.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_AR x86_64-w64-mingw32-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB x86_64-w64-mingw32-gcc-ranlib-posix CACHE FILEPATH "")
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# GCC for Windows lets a caller keep values in registers that the body of an inline function it
# compiled leaves alone, yet the linker may keep another object's copy of that function: static
# Qt's random generator crashed on the bench's own std::mt19937. No caller may rely on that here.
string(APPEND CMAKE_C_FLAGS_INIT " -fno-ipa-ra")
string(APPEND CMAKE_CXX_FLAGS_INIT " -fno-ipa-ra")
