#!/usr/bin/env bash
# Copy stress against cp + cmp, in rounds: vor32 grows its data file from 1,000,000 to
# 40,000,000 bytes in 1,000,000-byte steps between two directories on one file system (/t),
# copying and verifying it at every step; cp followed by cmp copies and compares files of the
# same sizes between the same directories. Prints each round's bytes per second of both and
# their ratio, then the medians, and vor32's peak resident memory against its transfer buffer.
#   bench/copystress/run.sh [BUILD_DIR] [SCRATCH_PARENT]
#   ROUNDS (3)
set -euo pipefail
HERE=$(dirname "$(realpath "$0")")
source "$HERE/../lib.sh"
BUILD=${1:-build}
BIN=$(realpath -m "$BUILD/copystress/vor32")
[[ -x $BIN ]] || { echo "build first: cmake --build $BUILD --target vor32" >&2; exit 1; }
DIR=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/vor32-bench-XXXXXX")
trap 'rm -rf "$DIR"' EXIT
mkdir "$DIR/A" "$DIR/B" "$DIR/sizes"
cd "$DIR"

STEP=1000000
MAX=40000000
BUFFER=1200000
DATA="VOR32's data file.DATA"
now() { date +%s.%N; }
BYTES=$(awk -v s=$STEP -v m=$MAX 'BEGIN { t = 0; for (x = s; x <= m; x += s) t += x; print t }')

# vor32 copies the sizes 1,000,000 ... 40,000,000 (the last copy at MaxSize unlogged), each
# followed by a verification of the copy, and grows the file by appending between copies.
vor32_round() { # prints bytes per second
  rm -f "A/$DATA" "B/$DATA"
  local start seconds
  start=$(now)
  /usr/bin/time -f '%M' -o rss.txt "$BIN" $STEP $MAX $STEP A B /t > vor32.out
  seconds=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')
  grep -q 'Current Transfer#: 000039' vor32.out ||
    { echo "vor32 did not run 39 transfers" >&2; exit 1; }
  awk -v b="$BYTES" -v s="$seconds" 'BEGIN { printf "%.0f\n", b / s }'
}

# The same sizes for cp + cmp, from files cut from vor32's data file beforehand (not timed).
prepare_sizes() {
  head -c $MAX "A/$DATA" > sizes/full
  for ((size = STEP; size <= MAX; size += STEP)); do
    head -c $size sizes/full > "sizes/s$size"
  done
  rm -f sizes/full
}
peer_round() { # prints bytes per second
  rm -f "A/$DATA" "B/$DATA" B/copy
  sync
  local start seconds
  start=$(now)
  for ((size = STEP; size <= MAX; size += STEP)); do
    cp "sizes/s$size" B/copy
    cmp "sizes/s$size" B/copy
  done
  seconds=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')
  awk -v b="$BYTES" -v s="$seconds" 'BEGIN { printf "%.0f\n", b / s }'
}

bench_check_load
printf 'copies of 1,000,000 to 40,000,000 bytes (%d bytes in all), %d rounds\n' "$BYTES" "$ROUNDS"
printf '%-6s %16s %16s %7s\n' round "vor32 bytes/s" "cp+cmp bytes/s" ratio
ours=() peers=()
for round in $(seq "$ROUNDS"); do
  mine=$(vor32_round)
  ((round > 1)) || prepare_sizes
  peer=$(peer_round)
  ours+=("$mine") peers+=("$peer")
  printf '%-6s %16s %16s %7s\n' "$round" "$mine" "$peer" "$(bench_ratio "$mine" "$peer")"
done
mine=$(printf '%s\n' "${ours[@]}" | bench_median)
peer=$(printf '%s\n' "${peers[@]}" | bench_median)
printf '%-6s %16.0f %16.0f %7s   (target >= 1.0)\n' median "$mine" "$peer" \
  "$(bench_ratio "$mine" "$peer")"
printf 'vor32 peak resident: %d kB; transfer buffer + 4 MB: %d kB\n' "$(cat rss.txt)" \
  $(((BUFFER + 4 * 1048576) / 1024))
bench_result copystress "vor32 vs cp + cmp" "$mine" "$peer" bytes/s "cp + cmp" ">= 1.0"
