# Cross build for Linux arm64 with Debian's cross compiler and multiarch packages
# (dpkg --add-architecture arm64; the -dev packages with :arm64). glog and gflags come from
# cmake/arm64-deps.sh, which unpacks their arm64 -dev packages into a prefix outside the clone
# (they cannot be installed beside the amd64 ones); NTRIP_ARM64_DEPS names it (default: the
# last one that script made). Tests and test discovery run under qemu-aarch64.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

if(NOT NTRIP_ARM64_DEPS AND DEFINED ENV{NTRIP_ARM64_DEPS})
  set(NTRIP_ARM64_DEPS $ENV{NTRIP_ARM64_DEPS})
endif()
if(NOT NTRIP_ARM64_DEPS AND EXISTS /var/cache/ntrip-deps/arm64/current)
  set(NTRIP_ARM64_DEPS /var/cache/ntrip-deps/arm64/current)
endif()
# try_compile projects read this file again: hand them the same prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NTRIP_ARM64_DEPS)
set(CMAKE_FIND_ROOT_PATH / ${NTRIP_ARM64_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# The cross compiler does not search the multiarch include folder, where the arm64 -dev
# packages keep their architecture's headers (OpenSSL's configuration); after every other one,
# so the C library's headers stay the cross toolchain's own.
set(CMAKE_C_FLAGS_INIT "-idirafter /usr/include/aarch64-linux-gnu")
set(CMAKE_CXX_FLAGS_INIT "-idirafter /usr/include/aarch64-linux-gnu")
# pkg-config reads the arm64 .pc files (libsystemd).
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)

# With the multiarch arm64 libraries installed beside the amd64 ones, "-L /" lets qemu find the
# arm64 loader and libraries; the cross toolchain's own libc hangs threaded programs.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /)
