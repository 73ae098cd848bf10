#!/usr/bin/env bash
# The file I/O stress against fio, in all nine patterns at 4096 and 32000 bytes, and the cost
# of the event observer. Each case runs three sides for the same time on a copy of the same
# test file in the same directory, one block per call (the engine's pread/pwrite; fio's psync
# engine at queue depth 1), all keeping the page cache (fio with invalidate=0, so that no side
# reads from a cache another has dropped):
#   plain     the engine with no observer;
#   observed  the engine with an observer that records every transfer's duration in a
#             log-linear histogram, the work zebcli's recorder does (bench_fileio --observe);
#   fio       which times every I/O too.
# fio's job per pattern:
#   Sequential Read / Write / R & W   read / write / rw (50 % reads) over the whole file
#   Random Read / Write / R & W       randread / randwrite / randrw (50 %) over the whole file
#   Overlay Read / Write / R & W      randread / randwrite / randrw over the one block at
#                                     524,256, which is where every overlay iteration goes
# The engine checks the pairs of every block it reads; fio checks nothing. Each round runs
# every case, plain, observed, then fio; the figures are operations per second (a
# read-and-write iteration of the engine counts as two).
#
# How to read the final table: one line per pattern and buffer size, medians over the rounds.
# "plain", "observed" and "fio" are the absolute rates (ops/s); "obs/plain" is what the
# observer leaves of the engine's rate (0.97 or more: the observer costs at most 3 %);
# "obs/fio" is the observed engine against fio (1.00 or more: at fio's speed with the timing
# on). The clock line names the clock the events are timed with. On a busy machine (load
# above LOAD_LIMIT at the start) every ratio reads "void"; the absolute figures still print.
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

engine_ops() { # mode bs [--observe]
  local out
  out=$("$BIN" ${3:+"$3"} "$DIR/TESTFILE" "$1" "$2" "$DURATION" 2>/dev/null | tail -n 1) ||
    { echo "the engine's pass failed: mode $1, buffer $2 ${3:-}" >&2; exit 1; }
  echo "${out##* }"
}

median() { tr ' ' '\n' <<< "$1" | grep . | bench_median; }

bench_check_load
printf 'fio %s, %s s per side and case, %d rounds, events timed with %s\n' "$(fio --version)" \
  "$DURATION" "$ROUNDS" "$("$BIN" --clock)"
declare -A PLAIN OBSERVED PEER
for round in $(seq "$ROUNDS"); do
  for bs in $SIZES; do
    for mode in $MODES; do
      plain=$(engine_ops "$mode" "$bs")
      observed=$(engine_ops "$mode" "$bs" --observe)
      cp "$DIR/TESTFILE" "$DIR/fiofile"
      peer=$(fio_ops "$mode" "$bs")
      [[ $peer =~ ^[0-9]+$ ]] && ((peer > 0)) ||
        { echo "fio failed: ${NAMES[$mode]}, $bs bytes" >&2; exit 1; }
      PLAIN[$mode,$bs]+="$plain "
      OBSERVED[$mode,$bs]+="$observed "
      PEER[$mode,$bs]+="$peer "
      printf 'round %d  %-17s %6s  plain %9s  observed %9s  fio %9s ops/s\n' "$round" \
        "${NAMES[$mode]}" "$bs" "$plain" "$observed" "$peer"
    done
  done
done

echo
printf '%-17s %6s %12s %12s %12s %9s %7s\n' mode buffer "plain ops/s" "observed" "fio ops/s" \
  obs/plain obs/fio
for bs in $SIZES; do
  for mode in $MODES; do
    plain=$(median "${PLAIN[$mode,$bs]}")
    observed=$(median "${OBSERVED[$mode,$bs]}")
    peer=$(median "${PEER[$mode,$bs]}")
    printf '%-17s %6s %12.0f %12.0f %12.0f %9s %7s\n' "${NAMES[$mode]}" "$bs" "$plain" \
      "$observed" "$peer" "$(bench_ratio "$observed" "$plain")" "$(bench_ratio "$observed" "$peer")"
    bench_result fileio "${NAMES[$mode]} $bs" "$observed" "$peer" ops/s fio ">= 1.0 (goal 1.2)"
    bench_result fileio-observer "${NAMES[$mode]} $bs" "$observed" "$plain" ops/s \
      "no observer" ">= 0.97"
  done
done
