# 32-bit Windows, the terminal's own word size: the release, and the library the terminal ships.
# The posix thread model gives std::thread and std::mutex, which Qt needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
# A Qt built for Windows lies outside the toolchain's own root: name it with -DVELMORA_WINDOWS_QT=.
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32 ${VELMORA_WINDOWS_QT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
