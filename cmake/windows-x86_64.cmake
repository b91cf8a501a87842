# Cross build for Windows x86-64 with Debian's MinGW-w64 (POSIX thread model, so std::thread and
# std::jthread exist). The libraries MinGW lacks (glog, OpenSSL, GoogleTest) come from
# cmake/windows-deps.sh, which builds them into a prefix outside the clone; NTRIP_WINDOWS_DEPS
# names it (default: the last one that script built).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT NTRIP_WINDOWS_DEPS AND DEFINED ENV{NTRIP_WINDOWS_DEPS})
  set(NTRIP_WINDOWS_DEPS $ENV{NTRIP_WINDOWS_DEPS})
endif()
if(NOT NTRIP_WINDOWS_DEPS AND EXISTS /var/cache/ntrip-deps/windows-x86_64/current)
  set(NTRIP_WINDOWS_DEPS /var/cache/ntrip-deps/windows-x86_64/current)
endif()
# try_compile projects read this file again: hand them the same prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NTRIP_WINDOWS_DEPS)

# Only MinGW's own root and the prefix are searched: a library or package config of the build
# machine (glibc's headers, Linux's glog or GTest) must never be picked up.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${NTRIP_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Boost is Debian's headers, linked into the prefix: FindBoost finds them there, never the
# build machine's BoostConfig.
set(Boost_NO_BOOST_CMAKE ON)
# Static libraries only: a program runs from its folder with no MinGW DLL beside it.
set(OPENSSL_USE_STATIC_LIBS ON)
set(ZLIB_USE_STATIC_LIBS ON)

# libstdc++, libgcc and winpthread go inside each program and DLL.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# ctest and test discovery run the programs under Wine.
find_program(NTRIP_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(NTRIP_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${NTRIP_WINE})
endif()
