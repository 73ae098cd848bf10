#!/usr/bin/env bash
# Where the engine's instructions go, counted by callgrind (valid on a busy machine, where
# clocks are not): the session receiver taking BLOCKS blocks of 64000 bytes from a sender on
# loopback, and file I/O passes of ITERATIONS iterations (Sequential Read at 32000, Random Read
# at 4096 and 32000, Overlay Write at 4096). Prints the instructions per block or iteration of
# the receiver's loop and of each pass, and the engine functions behind them; keeps the
# callgrind files in OUT for callgrind_annotate or kcachegrind. Under valgrind the pair scan
# runs at AVX2 at most (valgrind offers no AVX-512).
#   bench/profile.sh [BUILD_DIR] [OUT]   BLOCKS (1000), ITERATIONS (2000)
set -euo pipefail
source "$(dirname "$(realpath "$0")")/lib.sh"
BUILD=$(realpath "${1:-build}")
OUT=$(realpath -m "${2:-profile-out}")
BLOCKS=${BLOCKS:-1000}
ITERATIONS=${ITERATIONS:-2000}
command -v valgrind >/dev/null || { echo "valgrind is missing: run scripts/deps.sh bench" >&2; exit 1; }
for target in tools/zebstation bench/fileio/bench_fileio; do
  [[ -x $BUILD/$target ]] || { echo "build first: $BUILD/$target" >&2; exit 1; }
done
mkdir -p "$OUT"
DIR=$(mktemp -d)
RECEIVER=""
cleanup() {
  [[ -n $RECEIVER ]] && kill "$RECEIVER" 2>/dev/null || true
  rm -rf "$DIR"
}
trap cleanup EXIT
mkdir -p "$DIR/recv/ctlogs" "$DIR/send/ctlogs" "$DIR/fileio"

# A name port P and session port P+1 that nothing uses yet.
bench_free_ports 2

# Inclusive instructions of the functions matching a pattern, "count name" per line (a
# function that callgrind lists under several source files counts once, at its largest).
inclusive() { # file pattern
  callgrind_annotate --inclusive=yes --threshold=100 --auto=no "$1" 2>/dev/null |
    awk -v p="$2" '$0 ~ p && $2 ~ /^\(/ { c = $1; gsub(",", "", c); n = $0; sub(/^[^:]*:/, "", n);
      sub(/ \[.*/, "", n); if (c + 0 > m[n] + 0) m[n] = c }
      END { for (n in m) if (m[n] > 0) print m[n], n }' | sort -nr
}
per() { # count divisor
  awk -v c="$1" -v d="$2" 'BEGIN { printf "%12.0f", c / d }'
}

echo "== receiver: $BLOCKS blocks of 64000 bytes (instructions per block)"
bench_station 127.0.0.3 "$DIR/recv" valgrind --tool=callgrind --callgrind-out-file="$OUT/receiver.cg" \
  "$BUILD/tools/zebstation" --quiet --nosave recv > "$DIR/recv.out" 2> "$DIR/recv.err" &
RECEIVER=$!
for _ in $(seq 300); do
  ss -Hltn | grep -q "127.0.0.3:$((PORT + 1)) " && break
  sleep 0.1
done
bench_station 127.0.0.2 "$DIR/send" "$BUILD/tools/zebstation" --quiet --nosave send "$BLOCKS" \
  64000 > "$DIR/send.out" || true
wait "$RECEIVER" || true
RECEIVER=""
grep -q " $((BLOCKS * 64000)) bytes transfered\$" "$DIR/send.out" ||
  { echo "the session did not complete:" >&2; cat "$DIR/send.out" >&2; exit 1; }
inclusive "$OUT/receiver.cg" \
  'RunReceiveSession|VerifyPairs|FindBadPair|Scan[A-Za-z0-9]+\(|memcpy|memchr|CompatLog|FormatMessage|PostStatus|NetReceive|FindLana|Netbios' |
  while read -r count name; do printf '%s  %s\n' "$(per "$count" "$BLOCKS")" "$name"; done

for pass in "0 32000" "3 4096" "3 32000" "7 4096"; do
  set -- $pass
  echo "== file I/O: mode $1, buffer $2, $ITERATIONS iterations (instructions per iteration)"
  (cd "$DIR/fileio" && valgrind --tool=callgrind --callgrind-out-file="$OUT/fileio-$1-$2.cg" --toggle-collect="*TimedPass*" \
    "$BUILD/bench/fileio/bench_fileio" "$DIR/fileio/TESTFILE" "$1" "$2" 1 "$ITERATIONS" \
    > /dev/null 2>&1) || { echo "the pass failed" >&2; exit 1; }
  inclusive "$OUT/fileio-$1-$2.cg" 'TimedPass|SQL_Test|CheckPairs|FindBadPair|Scan[A-Za-z0-9]+\(' |
    while read -r count name; do printf '%s  %s\n' "$(per "$count" "$ITERATIONS")" "$name"; done
done
echo "callgrind files: $OUT"
