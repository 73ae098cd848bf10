#!/usr/bin/env bash
# The file I/O stress against fio, in all nine patterns at 4096 and 32000 bytes. Both sides
# run for the same time on a copy of the same test file in the same directory, one block per
# call (the engine's pread/pwrite; fio's psync engine at queue depth 1), and both keep the page
# cache: fio with invalidate=0, so that neither reads from a cache the other has dropped.
# fio's job per pattern:
#   Sequential Read / Write / R & W   read / write / rw (50 % reads) over the whole file
#   Random Read / Write / R & W       randread / randwrite / randrw (50 %) over the whole file
#   Overlay Read / Write / R & W      randread / randwrite / randrw over the one block at
#                                     524,256, which is where every overlay iteration goes
# The engine checks the pairs of every block it reads; fio checks nothing. Each round runs
# every case, engine then fio; the figures are operations per second (a read-and-write
# iteration of the engine counts as two), medians over the rounds.
#   bench/fileio/run.sh [BUILD_DIR]
#   ROUNDS (3), DURATION seconds per side and case (2), SIZES ("4096 32000"),
#   MODES ("0 1 2 3 4 5 6 7 8"), SCRATCH (a directory for the test files; default $TMPDIR)
set -euo pipefail
HERE=$(dirname "$(realpath "$0")")
source "$HERE/../lib.sh"
BUILD=${1:-build}
DURATION=${DURATION:-2}
SIZES=${SIZES:-"4096 32000"}
MODES=${MODES:-"0 1 2 3 4 5 6 7 8"}
BIN=$(realpath -m "$BUILD/bench/fileio/bench_fileio")
[[ -x $BIN ]] || { echo "build first: cmake --build $BUILD --target bench_fileio" >&2; exit 1; }
command -v fio >/dev/null || { echo "fio is missing: run scripts/deps.sh bench" >&2; exit 1; }
DIR=$(mktemp -d "${SCRATCH:-${TMPDIR:-/tmp}}/fileio-bench-XXXXXX")
trap 'rm -rf "$DIR"' EXIT
cd "$DIR"
FILE_SIZE=1048544
OVERLAY=524256
NAMES=("Sequential Read" "Sequential Write" "Sequential R & W" "Random Read" "Random Write"
       "Random R & W" "Overlay Read" "Overlay Write" "Overlay R & W")

fio_ops() { # mode bs: prints read + write operations per second
  local mode=$1 bs=$2 rw region=(--size=$FILE_SIZE) mix=()
  case $mode in
    0) rw=read ;; 1) rw=write ;; 2) rw=rw; mix=(--rwmixread=50) ;;
    3|6) rw=randread ;; 4|7) rw=randwrite ;; 5|8) rw=randrw; mix=(--rwmixread=50) ;;
  esac
  ((mode >= 6)) && region=(--offset=$OVERLAY --size="$bs")
  fio --name=peer --filename="$DIR/fiofile" --ioengine=psync --iodepth=1 --rw="$rw" --bs="$bs" \
    "${region[@]}" "${mix[@]}" --invalidate=0 --time_based --runtime="$RUNTIME_MS"ms \
    --norandommap --randrepeat=0 --output-format=terse --terse-version=3 |
    awk -F';' '{ printf "%.0f\n", $8 + $49 }'
}

RUNTIME_MS=$(awk -v d="$DURATION" 'BEGIN { printf "%d", d * 1000 }')
((RUNTIME_MS >= 100)) || { echo "DURATION must be at least 0.1 s" >&2; exit 2; }

engine_ops() { # mode bs
  local out
  out=$("$BIN" "$DIR/TESTFILE" "$1" "$2" "$DURATION" 2>/dev/null | tail -n 1) ||
    { echo "the engine's pass failed: mode $1, buffer $2" >&2; exit 1; }
  echo "${out##* }"
}

bench_check_load
printf 'fio %s, %s s per side and case, %d rounds\n' "$(fio --version)" "$DURATION" "$ROUNDS"
declare -A ENGINE PEER
for round in $(seq "$ROUNDS"); do
  for bs in $SIZES; do
    for mode in $MODES; do
      engine=$(engine_ops "$mode" "$bs")
      cp "$DIR/TESTFILE" "$DIR/fiofile"
      peer=$(fio_ops "$mode" "$bs")
      [[ $peer =~ ^[0-9]+$ ]] && ((peer > 0)) ||
        { echo "fio failed: ${NAMES[$mode]}, $bs bytes" >&2; exit 1; }
      ENGINE[$mode,$bs]+="$engine "
      PEER[$mode,$bs]+="$peer "
      printf 'round %d  %-17s %6s  engine %9s ops/s  fio %9s ops/s  ratio %s\n' "$round" \
        "${NAMES[$mode]}" "$bs" "$engine" "$peer" "$(bench_ratio "$engine" "$peer")"
    done
  done
done

echo
printf '%-17s %6s %14s %14s %7s\n' mode buffer "engine ops/s" "fio ops/s" ratio
for bs in $SIZES; do
  for mode in $MODES; do
    engine=$(tr ' ' '\n' <<< "${ENGINE[$mode,$bs]}" | grep . | bench_median)
    peer=$(tr ' ' '\n' <<< "${PEER[$mode,$bs]}" | grep . | bench_median)
    printf '%-17s %6s %14.0f %14.0f %7s\n' "${NAMES[$mode]}" "$bs" "$engine" "$peer" \
      "$(bench_ratio "$engine" "$peer")"
    bench_result fileio "${NAMES[$mode]} $bs" "$engine" "$peer" ops/s fio ">= 1.0 (goal 1.2)"
  done
done
