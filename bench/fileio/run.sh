#!/usr/bin/env bash
# File I/O stress against fio in the same run: the same file size, access pattern, block size
# and number of operations (psync engine, queue depth 1). Prints operations per second of
# both and their ratio.
#   bench/fileio/run.sh [BUILD_DIR] [ITERATIONS]
set -euo pipefail
BUILD=${1:-build}
N=${2:-200000}
BIN=$(realpath -m "$BUILD/bench/fileio/bench_fileio")
[[ -x $BIN ]] || { echo "build first: cmake --build $BUILD --target bench_fileio" >&2; exit 1; }
command -v fio >/dev/null || { echo "fio is missing: run scripts/deps.sh" >&2; exit 1; }
DIR=$(mktemp -d)
trap 'rm -rf "$DIR"' EXIT
cd "$DIR"
FILE_SIZE=1048544

fio_ops() { # rw bs total-ops extra-args...
  local rw=$1 bs=$2 ops=$3; shift 3
  fio --name=peer --filename="$DIR/fiofile" --ioengine=psync --iodepth=1 --rw="$rw" --bs="$bs" \
      --io_size=$((ops * bs)) --norandommap --randrepeat=1 "$@" --output-format=terse \
      --terse-version=3 | awk -F';' '{r=$8; w=$49; printf "%.0f\n", r + w}'
}

printf '%-18s %6s %12s %12s %7s\n' mode buffer engine_ops/s fio_ops/s ratio
for bs in 4096 32000; do
  for mode in 3 5 7 0; do
    "$BIN" "$DIR/TESTFILE" "$mode" "$bs" "$N" > "$DIR/engine.out" 2>/dev/null || true
    read -r _ _ _ _ engine < <(tail -n 1 "$DIR/engine.out")
    cp "$DIR/TESTFILE" "$DIR/fiofile"
    case $mode in
      3) name="Random Read";   peer=$(fio_ops randread "$bs" "$N" --size=$FILE_SIZE) ;;
      5) name="Random R & W";  peer=$(fio_ops randrw "$bs" $((2 * N)) --size=$FILE_SIZE --rwmixread=50) ;;
      7) name="Overlay Write"; peer=$(fio_ops write "$bs" "$N" --offset=524256 --size="$bs") ;;
      0) name="Sequential Read"; peer=$(fio_ops read "$bs" "$N" --size=$FILE_SIZE) ;;
    esac
    ratio=$(awk -v a="$engine" -v b="$peer" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
    printf '%-18s %6s %12s %12s %7s\n' "$name" "$bs" "$engine" "$peer" "$ratio"
  done
done
