#!/usr/bin/env bash
# CI: the Debian packages. amd64 from build/ (the test stage's build; made here when missing),
# arm64 from a cross build in build-arm64/ whose decoder, client and component tests and demo
# run under qemu-aarch64; lintian on both; then both on a fresh Debian root
# (.ci/fresh-machine-check.sh), whose debootstrap runs beside the cross build. Downloads and the
# fresh root are cached outside the clone (/var/cache/ntrip-deps), keyed by their versions.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
stamp() { echo "== packages: $1 ($(( $(date +%s) - start )) s since start)"; }

dpkg --print-foreign-architectures | grep -qx arm64 || { dpkg --add-architecture arm64 && apt-get update -qq; }
./run.sh deps dpkg-dev lintian debootstrap qemu-user crossbuild-essential-arm64 \
  libboost-dev:arm64 libssl-dev:arm64 zlib1g-dev:arm64 libsystemd-dev:arm64 libgtest-dev:arm64 \
  libgmock-dev:arm64

# The fresh root needs the network and the disk more than the processors.
mkdir -p build
.ci/fresh-machine-check.sh --prepare >build/fresh-root.log 2>&1 &
prepare_pid=$!

programs=(ntrip-host ntrip_client_package ntrip-replay-caster rtcm3-summary man_pages_compressed)

stamp "amd64 package"
[ -f build/CMakeCache.txt ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target "${programs[@]}"
rm -f build/ntrip-host_*.deb
(cd build && cpack -G DEB >/dev/null)
amd64_deb=$(ls build/ntrip-host_*_amd64.deb)
lintian --fail-on error "$amd64_deb"

stamp "arm64 cross build"
cmake/arm64-deps.sh >/dev/null
cmake -S . -B build-arm64 -G Ninja --toolchain cmake/arm64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DNTRIP_TEST_AREAS="rtcm;client;component" \
  -DNTRIP_BUILD_BENCH=OFF >/dev/null
cmake --build build-arm64 -j2

stamp "arm64 tests under qemu-aarch64"
ctest --test-dir build-arm64 --output-on-failure -j2 --timeout 300
qemu-aarch64 -L / build-arm64/bin/ntrip-host --demo --duration 10 >build-arm64/demo.out 2>&1 ||
  { cat build-arm64/demo.out; exit 1; }
grep -q "^raw output equals the bytes the caster served: yes$" build-arm64/demo.out ||
  { cat build-arm64/demo.out; echo "arm64 demo: the raw output is not byte-exact" >&2; exit 1; }
echo "arm64 demo under qemu-aarch64: raw output byte-exact"

stamp "arm64 package"
rm -f build-arm64/ntrip-host_*.deb
(cd build-arm64 && cpack -G DEB >/dev/null)
arm64_deb=$(ls build-arm64/ntrip-host_*_arm64.deb)
lintian --fail-on error "$arm64_deb"

stamp "fresh machine"
wait "$prepare_pid" || { cat build/fresh-root.log; exit 1; }
.ci/fresh-machine-check.sh "$amd64_deb" "$arm64_deb"

stamp "packages finished"
