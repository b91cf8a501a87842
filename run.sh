#!/usr/bin/env bash
# ./run.sh demo | ./run.sh test : install what is missing, build into build/, run.
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(build-essential cmake ninja-build pkg-config git ca-certificates libboost-dev
  libboost-system-dev libgoogle-glog-dev libgtest-dev libgmock-dev nlohmann-json3-dev iputils-ping
  libssl-dev openssl libsystemd-dev zlib1g-dev man-db)

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j"$(nproc)"
}

case "${1:-}" in
  demo)
    shift
    install_missing
    build
    exec build/bin/ntrip-host --demo "$@"
    ;;
  test)
    shift
    install_missing
    build
    ctest --test-dir build --output-on-failure -j2 --timeout 300 "$@"
    ;;
  deps)
    shift
    install_missing "$@"
    ;;
  *)
    echo "usage: ./run.sh demo [ntrip-host options] | ./run.sh test [ctest options]" >&2
    exit 2
    ;;
esac
