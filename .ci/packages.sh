#!/usr/bin/env bash
# CI: the Debian package. amd64 from build/ (the test stage's build; made here when missing),
# checked by lintian, then on a fresh Debian root (.ci/fresh-machine-check.sh), whose debootstrap
# runs beside the build. The fresh root is cached outside the clone (/var/cache/ntrip-deps).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
stamp() { echo "== packages: $1 ($(( $(date +%s) - start )) s since start)"; }

./run.sh deps dpkg-dev lintian debootstrap

# The fresh root needs the network and the disk more than the processors.
mkdir -p build
.ci/fresh-machine-check.sh --prepare >build/fresh-root.log 2>&1 &
prepare_pid=$!

programs=(ntrip-host ntrip_client_package ntrip-replay-caster rtcm3-summary)

stamp "amd64 package"
[ -f build/CMakeCache.txt ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target "${programs[@]}"
rm -f build/ntrip-host_*.deb
(cd build && cpack -G DEB >/dev/null)
amd64_deb=$(ls build/ntrip-host_*_amd64.deb)
lintian --fail-on error "$amd64_deb"

stamp "fresh machine"
wait "$prepare_pid" || { cat build/fresh-root.log; exit 1; }
.ci/fresh-machine-check.sh "$amd64_deb"

stamp "packages finished"
