#!/usr/bin/env bash
# CI, Windows x86-64: the MinGW-w64 cross build of what runs under Wine, its tests under Wine.
# Called by .ci/run after the Linux stages; prints each step's time.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
last=$start
step() {
  local now
  now=$(date +%s)
  echo "== windows: $1 (previous step $((now - last)) s, stage $((now - start)) s)"
  last=$now
}

step "packages"
./run.sh deps g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 dpkg-dev make perl googletest unzip

step "glog, OpenSSL and GoogleTest for MinGW"
deps=$(cmake/windows-deps.sh | tail -n 1)

step "configure"
# Only what runs under Wine: the decoder, the logger, the probe through its seam, the client
# against the replay caster, the engine and the component (the package DLL loaded for real), the
# console's stop events; then the programs themselves.
cmake -S . -B build-windows -G Ninja --toolchain cmake/windows-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DNTRIP_WINDOWS_DEPS="$deps" \
  -DNTRIP_TEST_AREAS="rtcm;logger;utils;client;engine;component;ntrip-host" >/dev/null

step "build"
cmake --build build-windows -j2 --target ntrip_tests ntrip-host ntrip-replay-caster rtcm3-summary

step "tests under Wine"
export WINEDEBUG=-all
WINEPREFIX=$(mktemp -d /tmp/ntrip-wine.XXXXXX)
export WINEPREFIX
stop_wine() { /usr/lib/wine/wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"; }
trap stop_wine EXIT
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
ctest --test-dir build-windows --output-on-failure -j2 --timeout 900

step "programs under Wine"
.ci/windows-programs.sh build-windows/bin

step "zip"
(cd build-windows && cpack >/dev/null)
zip=$(ls build-windows/ntrip-host-*-windows-x86_64.zip)
unpacked=$(mktemp -d /tmp/ntrip-zip.XXXXXX)
unzip -q "$zip" -d "$unpacked"
# The unzipped folder alone: the demo runs from it with no other file.
(cd "$unpacked"/ntrip-host-*-windows-x86_64 &&
  /usr/lib/wine/wine64 bin/ntrip-host.exe --demo --duration 5 >demo.out 2>demo.err &&
  grep -q "raw output equals the bytes the caster served: yes" demo.out demo.err) ||
  { echo "windows: the demo does not run from the unzipped $zip" >&2; exit 1; }
rm -rf "$unpacked"
echo "windows: $zip"

step "Windows stage finished"
