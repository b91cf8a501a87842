#!/usr/bin/env bash
# glog and gflags for the arm64 cross build (cmake/arm64.cmake). Their arm64 -dev and runtime
# packages are not Multi-Arch: same, so they cannot be installed beside the amd64 ones: the
# -dev packages of the versions installed for amd64 are downloaded from Debian and unpacked
# into a prefix outside the clone named after those versions, and linked statically (no arm64
# runtime package of theirs is needed, neither for the tests under qemu nor on the board).
# Debian builds these archives without -fPIC; the package still links them because it keeps
# every static library's symbols private (--exclude-libs). Prints the prefix on its last line.
#   cmake/arm64-deps.sh [ROOT]    (default ROOT: /var/cache/ntrip-deps/arm64)
# Needs: dpkg --add-architecture arm64 and an apt-get update since.
set -euo pipefail
root=${1:-/var/cache/ntrip-deps/arm64}

glog_version=$(dpkg-query -W -f='${Version}' libgoogle-glog-dev)
gflags_version=$(dpkg-query -W -f='${Version}' libgflags-dev)
prefix=$root/glog-${glog_version}_gflags-${gflags_version}

if [ -d "$prefix" ]; then
  echo "arm64-deps: reusing $prefix" >&2
else
  echo "arm64-deps: making $prefix" >&2
  mkdir -p "$root"
  stage=$(mktemp -d "$root/.making.XXXXXX")
  trap 'rm -rf "$stage"' EXIT
  (cd "$stage" && apt-get download -qq -o APT::Sandbox::User=root "libgoogle-glog-dev:arm64=$glog_version" \
                                       "libgflags-dev:arm64=$gflags_version")
  for deb in "$stage"/*.deb; do dpkg -x "$deb" "$stage"; done
  rm -f "$stage"/*.deb
  lib=$stage/usr/lib/aarch64-linux-gnu
  # Only the headers and the static archives serve: Debian's package configurations name the
  # shared libraries.
  rm -rf "$lib/cmake" "$lib/pkgconfig" "$lib"/*.so "$stage/usr/share"
  mkdir -p "$lib/cmake/glog"
  upstream=${glog_version#*:}
  upstream=${upstream%-*}
  cat >"$lib/cmake/glog/glog-config.cmake" <<'EOF'
# glog and gflags from Debian's arm64 -dev packages, linked statically (cmake/arm64-deps.sh).
get_filename_component(_ntrip_usr "${CMAKE_CURRENT_LIST_DIR}/../../../.." ABSOLUTE)
if(NOT TARGET glog::glog)
  add_library(glog::glog STATIC IMPORTED)
  set_target_properties(glog::glog PROPERTIES
    IMPORTED_LOCATION "${_ntrip_usr}/lib/aarch64-linux-gnu/libglog.a"
    INTERFACE_INCLUDE_DIRECTORIES "${_ntrip_usr}/include"
    INTERFACE_COMPILE_DEFINITIONS "GLOG_CUSTOM_PREFIX_SUPPORT"
    INTERFACE_LINK_LIBRARIES "${_ntrip_usr}/lib/aarch64-linux-gnu/libgflags.a;pthread")
endif()
unset(_ntrip_usr)
EOF
  cat >"$lib/cmake/glog/glog-config-version.cmake" <<EOF
set(PACKAGE_VERSION "$upstream")
if(PACKAGE_FIND_VERSION VERSION_GREATER PACKAGE_VERSION)
  set(PACKAGE_VERSION_COMPATIBLE FALSE)
else()
  set(PACKAGE_VERSION_COMPATIBLE TRUE)
  if(PACKAGE_FIND_VERSION VERSION_EQUAL PACKAGE_VERSION)
    set(PACKAGE_VERSION_EXACT TRUE)
  endif()
endif()
EOF
  mv -T "$stage" "$prefix"
  trap - EXIT
fi

ln -sfn "$prefix" "$root/current"
echo "$prefix"
