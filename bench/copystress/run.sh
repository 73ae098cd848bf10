#!/usr/bin/env bash
# Copy stress against cp + cmp in the same run: vor32 grows its data file from 1,000,000 to
# 40,000,000 bytes in 1,000,000-byte steps between two directories on one file system (/t),
# copying and verifying it at every step; cp followed by cmp copies and compares files of the
# same sizes between the same directories. Prints bytes per second of both, their ratio, and
# vor32's peak resident memory against its transfer buffer.
#   bench/copystress/run.sh [BUILD_DIR] [SCRATCH_PARENT]
set -euo pipefail
BUILD=${1:-build}
BIN=$(realpath -m "$BUILD/copystress/vor32")
[[ -x $BIN ]] || { echo "build first: cmake --build $BUILD --target vor32" >&2; exit 1; }
DIR=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/vor32-bench-XXXXXX")
trap 'rm -rf "$DIR"' EXIT
mkdir "$DIR/A" "$DIR/B"
cd "$DIR"

STEP=1000000
MAX=40000000
BUFFER=1200000
now() { date +%s.%N; }

# vor32 copies the sizes 1,000,000 ... 40,000,000 (the last copy at MaxSize unlogged), each
# followed by a verification of the copy, and grows the file by appending between copies.
start=$(now)
/usr/bin/time -f '%M' -o rss.txt "$BIN" $STEP $MAX $STEP A B /t > vor32.out
vor32_seconds=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')
grep -q 'Current Transfer#: 000039' vor32.out || { echo "vor32 did not run 39 transfers" >&2; exit 1; }
rss_kb=$(cat rss.txt)

# The same sizes for cp + cmp, from files prepared beforehand (not timed).
head -c $MAX "A/VOR32's data file.DATA" > A/full
for ((size = STEP; size <= MAX; size += STEP)); do
  head -c $size A/full > "A/s$size"
done
rm -f A/full "B/VOR32's data file.DATA" "A/VOR32's data file.DATA"
sync
start=$(now)
for ((size = STEP; size <= MAX; size += STEP)); do
  cp "A/s$size" B/copy
  cmp "A/s$size" B/copy
done
peer_seconds=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')

bytes=$(awk -v s=$STEP -v m=$MAX 'BEGIN { t = 0; for (x = s; x <= m; x += s) t += x; print t }')
awk -v bytes="$bytes" -v v="$vor32_seconds" -v p="$peer_seconds" -v rss="$rss_kb" -v buf=$BUFFER '
BEGIN {
  printf "%-22s %14s %10s %16s\n", "run", "bytes copied", "seconds", "bytes/s"
  printf "%-22s %14d %10.3f %16.0f\n", "vor32 copy+verify", bytes, v, bytes / v
  printf "%-22s %14d %10.3f %16.0f\n", "cp + cmp", bytes, p, bytes / p
  printf "ratio vor32 / (cp + cmp): %.2f (target >= 1.0)\n", (bytes / v) / (bytes / p)
  printf "vor32 peak resident: %d kB; transfer buffer + 4 MB: %d kB\n", rss, (buf + 4 * 1048576) / 1024
}'
