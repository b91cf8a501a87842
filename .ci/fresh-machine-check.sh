#!/usr/bin/env bash
# The Debian packages on a machine that has never seen this project: a bare Debian 12 root
# (debootstrap --variant=minbase), kept outside the clone and copied for each run.
#   .ci/fresh-machine-check.sh --prepare              only make the cached root
#   .ci/fresh-machine-check.sh AMD64_DEB [ARM64_DEB]  check the packages
# amd64: installed with apt-get (its dependencies from Debian), --version, the demo byte-exact
# from the installed recordings, the man pages, the unit verified, the configuration kept
# across a reinstall, and remove + purge leaving the root as it was. arm64: installed with its
# arm64 dependencies into the same root, its demo run under qemu-aarch64.
# Needs root, debootstrap, and qemu-user for the arm64 package. Loopback traffic only.
set -euo pipefail

suite=bookworm
cache=${NTRIP_DEPS_CACHE:-/var/cache/ntrip-deps}/debootstrap
pristine=$cache/$suite-minbase
mirror=$(awk '$1 == "URIs:" { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
mirror=${mirror:-http://deb.debian.org/debian}

say() { echo "fresh-machine: $*"; }
fail() { echo "fresh-machine: FAILED: $*" >&2; exit 1; }

# A root is moved into the cache only once debootstrap has finished, so an interrupted run
# never leaves half a root behind for the next.
prepare() {
  if [ -x "$pristine/usr/bin/apt-get" ]; then
    say "reusing $pristine"
    return
  fi
  mkdir -p "$cache"
  local stage
  stage=$(mktemp -d "$cache/.building.XXXXXX")
  say "debootstrap --variant=minbase $suite from $mirror"
  if ! debootstrap --variant=minbase "$suite" "$stage" "$mirror" >"$stage.log" 2>&1; then
    tail -20 "$stage.log" >&2
    rm -rf "$stage" "$stage.log"
    fail "debootstrap"
  fi
  rm -f "$stage.log"
  mv -T "$stage" "$pristine"
}

if [ "${1:-}" = "--prepare" ]; then
  prepare
  exit 0
fi
[ $# -ge 1 ] || { echo "usage: $0 --prepare | AMD64_DEB [ARM64_DEB]" >&2; exit 2; }
amd64_deb=$(realpath "$1")
arm64_deb=${2:+$(realpath "$2")}
prepare

work=$(mktemp -d /tmp/ntrip-fresh-machine.XXXXXX)
# The root's own users (apt's sandbox, man-db's) must reach it.
chmod 755 "$work"
root=$work/root
cleanup() {
  for m in "$root/dev" "$root/proc"; do mountpoint -q "$m" && umount -R -l "$m"; done
  rm -rf "$work"
}
trap cleanup EXIT
cp -a "$pristine" "$root"
chmod 755 "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"

in_root() {
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}
# apt's and dpkg's chatter goes to a log, shown when the step fails.
quietly() {
  in_root "$@" >"$work/step.log" 2>&1 || { cat "$work/step.log"; fail "$*"; }
}
# Every file, link and folder of the root but the ones that change by themselves (apt's and
# dpkg's records, caches, logs) and the user's own (/root, /tmp).
snapshot() {
  (cd "$root" && find . -xdev \( -path ./proc -o -path ./dev -o -path ./run -o -path ./tmp \
      -o -path ./root -o -path ./var/cache -o -path ./var/log -o -path ./var/lib/apt \
      -o -path ./var/lib/dpkg -o -path ./etc/ld.so.cache \) -prune -o -print | LC_ALL=C sort)
}

say "apt-get update, then man-db and systemd (to read the man pages and verify the unit)"
quietly apt-get update -qq
quietly apt-get install -y -qq --no-install-recommends man-db systemd
snapshot >"$work/before"

cp "$amd64_deb" "$root/tmp/"
deb=/tmp/$(basename "$amd64_deb")
version=$(dpkg-deb -f "$amd64_deb" Version)
say "apt-get install $deb"
quietly apt-get install -y -qq "$deb"

got=$(in_root ntrip-host --version)
[ "$got" = "ntrip-host $version" ] || fail "--version says \"$got\", the package is $version"
say "--version: $got"

say "ntrip-host --demo --duration 10"
in_root ntrip-host --demo --duration 10 >"$work/demo.out" 2>&1 || { cat "$work/demo.out"; fail "demo exit status"; }
grep -q "running NTRIP_Client from /usr/lib/ntrip-host/ntrip_client_package.so" "$work/demo.out" ||
  { cat "$work/demo.out"; fail "the demo did not run the installed package"; }
grep -q "^raw output equals the bytes the caster served: yes$" "$work/demo.out" ||
  { cat "$work/demo.out"; fail "the demo's raw output is not byte-exact"; }
say "demo: raw output byte-exact"

for program in ntrip-host ntrip-replay-caster rtcm3-summary; do
  page=$(in_root env MANWIDTH=80 man -P cat "$program" 2>"$work/man.err") || fail "man $program"
  [ ! -s "$work/man.err" ] || { cat "$work/man.err"; fail "man $program warns"; }
  grep -q "^NAME" <<<"$page" || fail "man $program shows no NAME section"
  say "man $program renders ($(wc -l <<<"$page") lines)"
done

if ! in_root systemd-analyze verify /lib/systemd/system/ntrip-host.service >"$work/verify" 2>&1 ||
   [ -s "$work/verify" ]; then
  cat "$work/verify"
  fail "systemd-analyze verify"
fi
say "systemd-analyze verify: the unit is clean"

# An edited configuration survives a reinstall of the package (it is a conffile).
echo "# edited" >>"$root/etc/ntrip-host/ntrip-host.conf"
quietly dpkg -i "$deb"
grep -q "^# edited$" "$root/etc/ntrip-host/ntrip-host.conf" || fail "a reinstall lost the configuration's edit"

# What a user and the service leave: the password, an enabled unit, log files in the state
# directory of a DynamicUser service. remove keeps the configuration; purge takes it all.
(umask 077 && printf 'secret\n' >"$root/etc/ntrip-host/password")
mkdir -p "$root/etc/systemd/system/multi-user.target.wants" "$root/var/lib/private/ntrip-host/logs"
ln -s /lib/systemd/system/ntrip-host.service "$root/etc/systemd/system/multi-user.target.wants/"
touch "$root/var/lib/private/ntrip-host/logs/NTRIP_Client_1.log"
ln -s private/ntrip-host "$root/var/lib/ntrip-host"
quietly apt-get remove -y -qq ntrip-host
[ -f "$root/etc/ntrip-host/ntrip-host.conf" ] || fail "remove took the configuration"
quietly apt-get purge -y -qq ntrip-host
quietly apt-get autoremove --purge -y -qq
snapshot >"$work/after"
if ! diff "$work/before" "$work/after" >"$work/diff"; then
  cat "$work/diff"
  fail "purge left the root different from before the install"
fi
say "purge: the root is as it was before the install"

if [ -n "$arm64_deb" ]; then
  cp "$arm64_deb" "$root/tmp/"
  deb=/tmp/$(basename "$arm64_deb")
  say "apt-get install $deb with its arm64 dependencies"
  quietly dpkg --add-architecture arm64
  quietly apt-get update -qq
  quietly apt-get install -y -qq "$deb"
  version=$(dpkg-deb -f "$arm64_deb" Version)
  run_arm64() { qemu-aarch64 -L "$root" "$root/usr/bin/ntrip-host" "$@"; }
  got=$(run_arm64 --version)
  [ "$got" = "ntrip-host $version" ] || fail "arm64 --version says \"$got\", the package is $version"
  say "arm64 ntrip-host --demo --duration 10 under qemu-aarch64"
  run_arm64 --demo --duration 10 >"$work/demo-arm64.out" 2>&1 ||
    { cat "$work/demo-arm64.out"; fail "arm64 demo exit status"; }
  grep -q "running NTRIP_Client from $root/usr/lib/ntrip-host/ntrip_client_package.so" "$work/demo-arm64.out" ||
    { cat "$work/demo-arm64.out"; fail "the arm64 demo did not run the installed package"; }
  grep -q "^raw output equals the bytes the caster served: yes$" "$work/demo-arm64.out" ||
    { cat "$work/demo-arm64.out"; fail "the arm64 demo's raw output is not byte-exact"; }
  say "arm64 demo: raw output byte-exact"
fi

say "all checks passed"
