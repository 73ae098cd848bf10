#!/usr/bin/env bash
# The packages as an administrator meets them: builds all three (packaging/build-packages.sh, with
# lintian), makes a fresh minimal Debian 12 root with debootstrap, installs them there with
# apt-get, and runs the programs and their manual pages as installed; then purges them and
# checks that nothing of theirs is left.
#   packaging/tests/installed-test.sh [OUTDIR]      default build-package/
# Needs root (debootstrap, chroot) and Debian's package mirror (DEBIAN_MIRROR); without them
# the installed part is skipped with the reason, after the packages were built and checked.
# The root is made anew every run; the packages debootstrap and apt-get fetch are kept in
# OUTDIR/cache so that later runs need not download them again.
set -euo pipefail
cd "$(dirname "$0")/../.."
OUT=$(realpath -m "${1:-build-package}")
MIRROR=${DEBIAN_MIRROR:-http://deb.debian.org/debian}

packaging/build-packages.sh "$OUT"

# Unpacked anywhere (no root needed), the programs find the packaged engine and provider
# through their RUNPATH alone, not the build tree's.
UNPACKED=$OUT/unpacked
rm -rf "$UNPACKED"
for deb in "$OUT"/zeb-lan-stress_*.deb "$OUT"/zeb-lan-stress-gui_*.deb \
  "$OUT"/zeb-lan-stress-mpi_*.deb; do
  dpkg-deb -x "$deb" "$UNPACKED"
done
help=$(env -u LD_LIBRARY_PATH "$UNPACKED/usr/bin/zebcli" --help) && [[ $help == *fileio* ]] ||
  { echo "FAILED: the unpacked zebcli --help" >&2; exit 1; }
for program in zebcli zebwin zebcli-mpi; do
  found=$(env -u LD_LIBRARY_PATH ldd "$UNPACKED/usr/bin/$program" | grep libzebdll)
  [[ $found == *"=> $UNPACKED/usr/bin/../lib/"*"/zeb-lan-stress/libzebdll.so"* ]] ||
    { echo "FAILED: the unpacked $program finds the engine as: $found" >&2; exit 1; }
done
rm -rf "$UNPACKED"

skip() {
  echo "SKIPPED the installed test: $*"
  exit 0
}
[[ $(id -u) -eq 0 ]] || skip "debootstrap and chroot need root"
command -v debootstrap >/dev/null || skip "debootstrap is not installed"

ROOT=$OUT/root
CACHE=$OUT/cache
rm -rf "$ROOT"
mkdir -p "$ROOT" "$CACHE/debootstrap" "$CACHE/apt"
echo "debootstrap bookworm (minbase) into $ROOT from $MIRROR"
if ! debootstrap --variant=minbase --cache-dir="$CACHE/debootstrap" bookworm "$ROOT" "$MIRROR" \
  >"$OUT/debootstrap.log" 2>&1; then
  tail -5 "$OUT/debootstrap.log"
  skip "debootstrap could not make the root (whole output in $OUT/debootstrap.log)"
fi
cp /etc/resolv.conf "$ROOT/etc/resolv.conf"
# Nothing installed here may start a service.
printf '#!/bin/sh\nexit 101\n' >"$ROOT/usr/sbin/policy-rc.d"
chmod 755 "$ROOT/usr/sbin/policy-rc.d"
cp "$OUT"/zeb-lan-stress_*.deb "$OUT"/zeb-lan-stress-gui_*.deb "$OUT"/zeb-lan-stress-mpi_*.deb \
  "$ROOT/tmp/"

# Everything inside runs in a mount namespace of its own, so /proc and the package cache
# mounted into the root go away with it, whatever happens.
unshare --mount --propagation private bash -euo pipefail -s "$ROOT" "$CACHE/apt" <<'INSIDE'
ROOT=$1
mount -t proc proc "$ROOT/proc"
mount --bind "$2" "$ROOT/var/cache/apt/archives"
in_root() { chroot "$ROOT" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 HOME=/root "$@"; }
fail() { echo "FAILED: $*" >&2; exit 1; }

export DEBIAN_FRONTEND=noninteractive
in_root apt-get update -qq
# man-db to read the pages; the packages bring every other dependency themselves.
in_root env DEBIAN_FRONTEND=noninteractive sh -c 'apt-get install -y -q --no-install-recommends \
  man-db /tmp/zeb-lan-stress_*.deb /tmp/zeb-lan-stress-gui_*.deb /tmp/zeb-lan-stress-mpi_*.deb' \
  >"$ROOT/tmp/apt.log" 2>&1 ||
  { tail -20 "$ROOT/tmp/apt.log"; fail "apt-get install"; }
echo "installed: $(in_root dpkg-query -W -f='${Package} ${Version}; ' zeb-lan-stress zeb-lan-stress-gui \
  zeb-lan-stress-mpi)"
# The MPI client's package brought Open MPI's mpirun with it.
in_root sh -c 'command -v mpirun' >/dev/null || fail "zeb-lan-stress-mpi brought no mpirun"

in_root zebcli --help >"$ROOT/tmp/help.txt" || fail "zebcli --help"
grep -q "fileio" "$ROOT/tmp/help.txt" || fail "zebcli --help does not name fileio"
# zebcli-mpi as a job of one rank without mpirun (MPI's singleton start).
in_root zebcli-mpi --help >"$ROOT/tmp/help.txt" 2>&1 || { cat "$ROOT/tmp/help.txt"; fail "zebcli-mpi --help"; }
grep -q "fileio" "$ROOT/tmp/help.txt" || fail "zebcli-mpi --help does not name fileio"

# A short sweep on a test file in a temporary directory: two passes, no failure (exit 0).
mkdir "$ROOT/tmp/fileio"
status=0
in_root sh -c 'cd /tmp/fileio && zebcli fileio /tmp/fileio/TEST.TST --from 4096 --to 8192 \
  --inc 4096 --iterations 50 --mode "Random R & W" --json sweep.json' \
  >"$ROOT/tmp/fileio.txt" 2>&1 || status=$?
# No failure posted: exit status 0.
[[ $status -eq 0 ]] || { cat "$ROOT/tmp/fileio.txt"; fail "zebcli fileio exited with $status"; }
[[ $(grep -c "File I/O Passed" "$ROOT/tmp/fileio.txt") -eq 2 ]] ||
  { cat "$ROOT/tmp/fileio.txt"; fail "zebcli fileio did not pass twice"; }
[[ -s $ROOT/tmp/fileio/sweep.json ]] || fail "zebcli wrote no JSON summary"

# A short copy stress between two directories, to its end at MaxSize.
mkdir -p "$ROOT/tmp/vor32/a" "$ROOT/tmp/vor32/b"
status=0
in_root sh -c 'cd /tmp/vor32 && vor32 4000 40000 4000 /tmp/vor32/a /tmp/vor32/b /t /v' \
  >"$ROOT/tmp/vor32.txt" 2>&1 || status=$?
[[ $status -eq 0 ]] || { cat "$ROOT/tmp/vor32.txt"; fail "vor32 exited with $status"; }
largest=$(stat -c %s "$ROOT"/tmp/vor32/[ab]/"VOR32's data file.DATA" | sort -n | tail -1)
[[ $largest -eq 40000 ]] || fail "vor32's data file reached $largest bytes, not 40000"
[[ -s $ROOT/tmp/vor32/VOR32.LOG ]] || fail "vor32 wrote no log"

# The engine and the provider are found through RUNPATH alone: no ldconfig, no search path.
for program in /usr/bin/zebcli /usr/bin/zebwin /usr/bin/zebcli-mpi; do
  in_root ldd "$program" >"$ROOT/tmp/ldd.txt" || fail "ldd $program"
  if grep -q "not found" "$ROOT/tmp/ldd.txt"; then
    cat "$ROOT/tmp/ldd.txt"
    fail "$program misses a library"
  fi
done
if in_root ldconfig -p | grep -e libzebdll -e libnetbios >/dev/null; then
  fail "a private library is in ld.so's cache"
fi

# Every manual page, as man shows it.
for page in "1 vor32:data copy stress" "1 zebcli:without a window" "1 zebwin:control dialog" \
  "1 zebcli-mpi:ranks of an MPI job" "7 zeb-netbios:NETBIOS_NODE_TYPE"; do
  section=${page%% *}
  rest=${page#* }
  name=${rest%%:*}
  text=${rest#*:}
  in_root env MANPAGER=cat MANWIDTH=100 man "$section" "$name" >"$ROOT/tmp/man.txt" 2>&1 ||
    { cat "$ROOT/tmp/man.txt"; fail "man $section $name"; }
  grep -q "$text" "$ROOT/tmp/man.txt" || fail "man $section $name does not say \"$text\""
done
in_root test -f /usr/share/doc/zeb-lan-stress/README.md.gz || fail "no README"
in_root test -f /usr/share/doc/zeb-lan-stress-gui/zebwin-help.html || fail "no help page in doc"

# Purged, the packages leave nothing of theirs behind.
in_root dpkg --purge zeb-lan-stress-mpi zeb-lan-stress-gui zeb-lan-stress >/dev/null ||
  fail "dpkg --purge"
for path in /usr/bin/zebcli /usr/bin/vor32 /usr/bin/zebwin /usr/bin/zebcli-mpi /usr/share/zebwin \
  /usr/share/doc/zeb-lan-stress /usr/share/doc/zeb-lan-stress-gui /usr/lib/*/zeb-lan-stress \
  /usr/share/man/man1/vor32.1.gz /usr/share/man/man1/zebcli-mpi.1.gz \
  /usr/share/man/man7/zeb-netbios.7.gz; do
  in_root sh -c "test ! -e $path" || fail "$path is left after the purge"
done
umount "$ROOT/var/cache/apt/archives" "$ROOT/proc"
INSIDE
rm -rf "$ROOT"
echo "PASSED the installed test"
