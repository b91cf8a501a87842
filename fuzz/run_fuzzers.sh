#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS seconds (default 60) on a
# scratch copy of its committed seed corpus. Exits non-zero when a target crashes, hangs, leaks
# or breaks an invariant. Needs clang and libclang-rt-14-dev; installs nothing.
#
#   fuzz/run_fuzzers.sh [SECONDS]
#   FUZZ_BUILD_DIR=...     build folder (default: <repo>/build-fuzz)
#   FUZZ_TARGETS="a b"     run only these targets
set -uo pipefail

seconds=${1:-60}
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: $0 [SECONDS]" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
targets=${FUZZ_TARGETS:-fuzz_rtcm_decoder fuzz_caster_response fuzz_nmea fuzz_property_value}

start=$(date +%s)
mkdir -p "$build"
echo "== building fuzz targets in $build"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNTRIP_BUILD_FUZZERS=ON -DNTRIP_BUILD_TESTS=OFF >"$build/fuzz-configure.log" 2>&1 || {
  cat "$build/fuzz-configure.log"
  echo "fuzz: configure failed" >&2
  exit 1
}
# shellcheck disable=SC2086
cmake --build "$build" -j2 --target $targets || {
  echo "fuzz: build failed" >&2
  exit 1
}
built=$(date +%s)
echo "== built in $((built - start)) s"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/fuzz-run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
artifacts=$build/fuzz-artifacts
failed=()
summary=()

for target in $targets; do
  echo "== $target: ${seconds} s"
  work=$scratch/$target
  mkdir -p "$work/corpus" "$artifacts/$target"
  # The committed corpus stays as it is: new inputs go to the scratch copy only.
  cp -r "$root/fuzz/corpus/$target/." "$work/corpus/"
  log=$work/fuzz.log
  (cd "$work" && "$build/bin/$target" "$work/corpus" \
      -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$artifacts/$target/") >"$log" 2>&1
  rc=$?
  tail -n 15 "$log"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ "$rc" -ne 0 ]; then
    failed+=("$target")
    cp "$log" "$artifacts/$target/fuzz.log"
    echo "!! $target failed (exit $rc); reproducer and log in $artifacts/$target/"
  fi
  summary+=("$target: ${execs:-?} executions, exit $rc")
done

echo "== summary (${seconds} s per target, total wall time $(($(date +%s) - start)) s)"
printf '%s\n' "${summary[@]}"
if [ "${#failed[@]}" -ne 0 ]; then
  echo "fuzz: FAILED: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: all targets clean"
