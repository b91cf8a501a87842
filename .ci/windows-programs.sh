#!/usr/bin/env bash
# The Windows programs under Wine (WINEPREFIX and WINEDEBUG set by the caller): the demo's raw
# output equals the bytes served; a stream full of 0x0A bytes on a binary-exact stdout; Ctrl-C
# (Wine turns SIGINT into the console's CTRL_C_EVENT) stops the program with exit 0 and the stop
# line. Every wait is bounded.
set -euo pipefail
bin=$(realpath "$1")
wine=/usr/lib/wine/wine64
work=$(mktemp -d /tmp/ntrip-wine-programs.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
fail() {
  echo "windows programs: $1" >&2
  tail -n 5 ./*.err >&2 || true
  exit 1
}
# Waits at most 20 s for PATTERN in FILE.
wait_for() {
  for _ in $(seq 1 200); do
    grep -q "$1" "$2" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "no '$1' in $2 within 20 s"
}

echo "-- ntrip-host.exe --demo --duration 10"
"$wine" "$bin/ntrip-host.exe" --demo --duration 10 >demo.out 2>demo.err || fail "demo exit $?"
grep -q "raw output equals the bytes the caster served: yes" demo.out demo.err ||
  fail "the demo's raw output differs from the bytes served"

echo "-- --raw-out - with a stream full of 0x0A bytes"
{
  head -c 3000 /dev/zero | tr '\0' '\n'
  for _ in $(seq 1 500); do printf '\r\n\n\r\0\012'; done
} >lf.bin
"$wine" "$bin/ntrip-replay-caster.exe" --listen 127.0.0.1:0 --mount LF="$work/lf.bin" --rate 0 --original-time \
  --fault stall-after=5000 >caster.out 2>caster.err &
pids+=($!)
wait_for "listening on" caster.out
port=$(sed -n 's/.*listening on 127.0.0.1:\([0-9]*\).*/\1/p' caster.out)
"$wine" "$bin/ntrip-host.exe" --set ip=127.0.0.1 --set port="$port" --set mountpoint=LF \
  --set log_destination=Nothing --position 50,8,100,1 --raw-out - --duration 4 \
  >raw.bin 2>raw.err || fail "ntrip-host exit $?"
head -c 5000 lf.bin | cmp - raw.bin || fail "stdout is not the stream byte for byte"

echo "-- Ctrl-C"
"$wine" "$bin/ntrip-host.exe" --demo --duration 60 >stop.out 2>stop.err &
host=$!
pids+=("$host")
wait_for "status connected" stop.err
kill -INT "$host"
status=0
wait "$host" || status=$?
[ "$status" -eq 0 ] || fail "exit $status after Ctrl-C"
grep -q "stopping (received Ctrl-C)" stop.err || fail "no stop on Ctrl-C"
grep -q "stopped after" stop.err || fail "no stop line after Ctrl-C"
echo "windows programs: all good"
