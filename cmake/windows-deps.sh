#!/usr/bin/env bash
# Builds the libraries the Windows cross build needs and MinGW lacks, from Debian's own sources:
# glog and OpenSSL from their source packages, GoogleTest from the googletest package's sources.
# They go into a prefix outside the clone named after their versions, so a later run (another
# clone, another CI run on this machine) reuses it; a prefix is moved into place only once it is
# whole. Prints the prefix on its last line.
#   cmake/windows-deps.sh [ROOT]    (default ROOT: /var/cache/ntrip-deps/windows-x86_64)
# Needs: g++-mingw-w64-x86-64-posix, cmake, ninja-build, make, perl, dpkg-dev, googletest.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=${1:-/var/cache/ntrip-deps/windows-x86_64}
toolchain=$here/windows-x86_64.cmake
jobs=${JOBS:-2}

work=$(mktemp -d /tmp/ntrip-windows-deps.XXXXXX)
trap 'rm -rf "$work"' EXIT

# deb-src entries with the same URIs and suites as the machine's Debian entries, in a folder of
# our own: the system's sources and lists stay as they are.
apt_dir=$work/apt
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial"
for f in /etc/apt/sources.list.d/*.sources; do
  [ -e "$f" ] || continue
  sed -e 's/^Types:.*/Types: deb-src/' "$f" >"$apt_dir/sources.list.d/$(basename "$f")"
done
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -e "$f" ] || continue
  sed -n -e 's/^deb \(.*\)/deb-src \1/p' "$f" >"$apt_dir/sources.list.d/$(basename "$f").list"
done
apt_opts=(-o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
          -o "Dir::State::Lists=$apt_dir/lists" -o "APT::Sandbox::User=root")
apt-get "${apt_opts[@]}" -qq update

# The newest version of a source package whose files the mirror serves (a security mirror may
# list a source it does not carry): its .dsc alone is fetched to tell.
newest_first() {
  local rest=("$@") best i
  while [ ${#rest[@]} -gt 0 ]; do
    best=0
    for i in "${!rest[@]}"; do
      dpkg --compare-versions "${rest[$i]}" gt "${rest[$best]}" && best=$i
    done
    echo "${rest[$best]}"
    unset "rest[$best]"
    rest=("${rest[@]}")
  done
}
fetchable_version() {
  local v
  mkdir -p "$work/dsc"
  for v in $(newest_first $(apt-cache "${apt_opts[@]}" showsrc "$1" |
                            awk -v p="$1" '/^Package:/ { ours = ($2 == p) } ours && /^Version:/ { print $2 }')); do
    if (cd "$work/dsc" && apt-get "${apt_opts[@]}" -qq source --dsc-only "$1=$v" >/dev/null 2>&1); then
      echo "$v"
      return
    fi
  done
}
glog_version=$(fetchable_version google-glog)
openssl_version=$(fetchable_version openssl)
gtest_version=$(dpkg-query -W -f='${Version}' googletest)
if [ -z "$glog_version" ] || [ -z "$openssl_version" ] || [ -z "$gtest_version" ]; then
  echo "windows-deps: cannot tell the versions (glog '$glog_version', openssl '$openssl_version'," \
       "googletest '$gtest_version')" >&2
  exit 1
fi
prefix=$root/glog-${glog_version}_openssl-${openssl_version}_gtest-${gtest_version}

if [ -d "$prefix" ]; then
  echo "windows-deps: reusing $prefix" >&2
else
  echo "windows-deps: building $prefix" >&2
  mkdir -p "$root"
  stage=$(mktemp -d "$root/.building.XXXXXX")
  trap 'rm -rf "$work" "$stage"' EXIT
  (cd "$work" && apt-get "${apt_opts[@]}" -qq source "google-glog=$glog_version" "openssl=$openssl_version" >/dev/null)

  cmake -S "$work"/google-glog-*/ -B "$work/glog-build" -G Ninja --toolchain "$toolchain" \
    -DNTRIP_WINDOWS_DEPS="$stage" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DWITH_GFLAGS=OFF -DWITH_GTEST=OFF \
    -DBUILD_TESTING=OFF -DWITH_UNWIND=OFF -DCMAKE_INSTALL_PREFIX="$stage" >/dev/null
  cmake --build "$work/glog-build" -j"$jobs" >/dev/null
  cmake --install "$work/glog-build" >/dev/null

  cmake -S /usr/src/googletest -B "$work/gtest-build" -G Ninja --toolchain "$toolchain" \
    -DNTRIP_WINDOWS_DEPS="$stage" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DCMAKE_INSTALL_PREFIX="$stage" >/dev/null
  cmake --build "$work/gtest-build" -j"$jobs" >/dev/null
  cmake --install "$work/gtest-build" >/dev/null

  (cd "$work"/openssl-*/ &&
    ./Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- no-shared no-tests \
      --prefix="$stage" --libdir=lib >/dev/null &&
    make -j"$jobs" build_libs >/dev/null 2>&1 &&
    make install_dev >/dev/null)

  mv -T "$stage" "$prefix"
fi

# Header-only libraries come from the build machine's Debian packages, linked in one by one (never
# /usr/include itself: glibc's headers there break a MinGW build). Refreshed every run, so they
# follow the installed packages.
mkdir -p "$prefix/include" "$prefix/share/cmake"
ln -sfn /usr/include/boost "$prefix/include/boost"
ln -sfn /usr/include/nlohmann "$prefix/include/nlohmann"
rm -rf "$prefix/share/cmake/nlohmann_json"
cp -r /usr/share/cmake/nlohmann_json "$prefix/share/cmake/nlohmann_json"

ln -sfn "$prefix" "$root/current"
echo "$prefix"
