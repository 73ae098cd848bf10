#!/usr/bin/env bash
# The file I/O stress with every transfer reaching the server, against fio, on one SMB share:
# the kit's test SMB server (smbd in a network namespace of its own, its share mounted through
# smbnetfs) is started once and both sides run on it, one after the other in every round.
#   ours  zebcli fileio --cache direct: ITERATIONS blocks of BLOCK bytes in MODE (Random Read)
#         on the 1,048,544-byte test file; operations per second of the pass's operations as
#         zebcli reports them (from the pass's heading to its verdict: the check of the test
#         file before the pass left out, the check of the whole file after a writing pattern in)
#   peer  fio --direct=1, psync at queue depth 1, the same pattern, block size and file size,
#         time-based for as long as our pass took in that round
# The figures are medians over the rounds; the ratio is ours / fio's (target at least 0.9).
#   bench/smb/run.sh [BUILD_DIR]
#   ROUNDS (3), MODE (3 = Random Read; 0-8 as the engine numbers them), BLOCK (32000),
#   ITERATIONS (20000)
# Needs root (network and mount namespaces, FUSE), smbd, smbnetfs and fio.
set -euo pipefail
HERE=$(dirname "$(realpath "$0")")
source "$HERE/../lib.sh"
BUILD=$(realpath "${1:-build}")
MODE=${MODE:-3}
BLOCK=${BLOCK:-32000}
ITERATIONS=${ITERATIONS:-20000}
ZEBCLI=$BUILD/cli/zebcli
RUNNER=$BUILD/testsupport/smb/smb_share_run
for program in "$ZEBCLI" "$RUNNER"; do
  [[ -x $program ]] ||
    { echo "build first: cmake --build $BUILD --target zebcli smb_share_run" >&2; exit 1; }
done
command -v fio >/dev/null || { echo "fio is missing: run scripts/deps.sh bench" >&2; exit 1; }
[[ $MODE =~ ^[0-8]$ ]] || { echo "MODE must be 0..8" >&2; exit 2; }

if [[ -z ${SHARE:-} ]]; then
  # Once the server is up, this script runs again inside, with SHARE set.
  bench_check_load
  export BENCH_BUSY=$BUSY ROUNDS MODE BLOCK ITERATIONS
  exec "$RUNNER" "$HERE/run.sh" "$BUILD"
fi

bench_check_load
FILE_SIZE=1048544
OVERLAY=524256
LOG=$(mktemp)
trap 'rm -f "$LOG"' EXIT

fio_ops() { # seconds: prints read + write operations per second
  local rw region=(--size=$FILE_SIZE) mix=()
  case $MODE in
    0) rw=read ;; 1) rw=write ;; 2) rw=rw; mix=(--rwmixread=50) ;;
    3|6) rw=randread ;; 4|7) rw=randwrite ;; 5|8) rw=randrw; mix=(--rwmixread=50) ;;
  esac
  ((MODE >= 6)) && region=(--offset=$OVERLAY --size="$BLOCK")
  fio --name=peer --filename="$SHARE/fiofile" --ioengine=psync --iodepth=1 --direct=1 \
    --rw="$rw" --bs="$BLOCK" "${region[@]}" "${mix[@]}" --time_based \
    --runtime="$(awk -v s="$1" 'BEGIN { printf "%d", s * 1000 + 0.5 }')ms" \
    --norandommap --randrepeat=0 --output-format=terse --terse-version=3 |
    awk -F';' '{ printf "%.0f\n", $8 + $49 }'
}

ours_pass() { # prints "operations-per-second seconds-of-the-operations"
  local status=0
  "$ZEBCLI" fileio "$SHARE/T.TST" --mode "${NAMES[$MODE]}" --from "$BLOCK" --to "$BLOCK" \
    --iterations "$ITERATIONS" --cache direct --json "$LOG" >/dev/null || status=$?
  # 0: no failure posted.
  ((status == 0)) || { echo "zebcli's pass failed (exit $status)" >&2; exit 1; }
  # The pass's own figures come before the totals.
  awk -F': ' '!ops && /"operations_per_second"/ { ops = $2 + 0 }
    !s && /"transfer_seconds"/ { s = $2 + 0 } END { print ops, s }' "$LOG"
}

printf '%s, %s: %s x %s bytes per pass, %d rounds, on %s\n' "$(fio --version)" \
  "${NAMES[$MODE]}" "$ITERATIONS" "$BLOCK" "$ROUNDS" "$(stat -f -c %T "$SHARE")"
OURS=()
PEER=()
for round in $(seq "$ROUNDS"); do
  read -r ours seconds < <(ours_pass)
  cp "$SHARE/T.TST" "$SHARE/fiofile"
  peer=$(fio_ops "$seconds")
  [[ $peer =~ ^[0-9]+$ ]] && ((peer > 0)) || { echo "fio failed" >&2; exit 1; }
  OURS+=("$ours")
  PEER+=("$peer")
  printf 'round %d  zebcli --cache direct %9.0f ops/s (%.2f s)  fio --direct=1 %9s ops/s' \
    "$round" "$ours" "$seconds" "$peer"
  printf '  ratio %s\n' "$(bench_ratio "$ours" "$peer")"
done
ours=$(printf '%s\n' "${OURS[@]}" | bench_median)
peer=$(printf '%s\n' "${PEER[@]}" | bench_median)
echo
printf '%-17s %6s %22s %16s %7s\n' mode block "zebcli direct ops/s" "fio ops/s" ratio
printf '%-17s %6s %22.0f %16.0f %7s\n' "${NAMES[$MODE]}" "$BLOCK" "$ours" "$peer" \
  "$(bench_ratio "$ours" "$peer")"
bench_result smb-direct "${NAMES[$MODE]} $BLOCK" "$ours" "$peer" ops/s "fio direct" ">= 0.9"
