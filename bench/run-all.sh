#!/usr/bin/env bash
# Runs every benchmark, one after another, and prints one table of their medians: the pair
# scan alone (Google Benchmark), the file I/O stress against fio, the session stress against
# the limit harness and iperf3, the NetBIOS provider against iperf3, vor32 against cp + cmp,
# the file I/O stress with O_DIRECT against fio on a real SMB share (root), through its own
# clients against the FUSE mount, and many clients at once against bare loops of the client
# libraries and fio (root). Run it on a quiet machine: when the 1-minute load average is above
# LOAD_LIMIT (0.5) at the start, every figure is marked void and no ratio is given.
#   bench/run-all.sh [BUILD_DIR]
#   ROUNDS (3), DURATION (2 s: fio, engine and iperf3 per case), SESSION_BLOCKS (32000),
#   NETBIOS_MESSAGES (100000), LOAD_LIMIT (0.5), SCRATCH (directory for the file I/O files)
set -euo pipefail
HERE=$(dirname "$(realpath "$0")")
source "$HERE/lib.sh"
BUILD=$(realpath "${1:-build}")
export ROUNDS LOAD_LIMIT DURATION=${DURATION:-2}
cmake --build "$BUILD" --target bench_fileio bench_pairscan bench_netbios limit_harness \
  zebstation vor32 zebcli smb_share_run nfs_export_run fleet_limit >/dev/null

bench_check_load
export BENCH_BUSY=$BUSY
BENCH_RESULTS=$(mktemp)
export BENCH_RESULTS
trap 'rm -f "$BENCH_RESULTS"' EXIT
started=$(date -u +%FT%TZ)

# A benchmark that fails is named in the table; the others still run.
run() { # name command...
  local name=$1
  shift
  echo "== $name"
  "$@" || printf '%s\tFAILED (exit %d)\t0\t0\t-\t-\tvoid\t-\n' "$name" "$?" >> "$BENCH_RESULTS"
}
run "pair scan alone (Google Benchmark, $ROUNDS repetitions)" \
  "$BUILD/bench/pairscan/bench_pairscan" --benchmark_repetitions="$ROUNDS" \
  --benchmark_report_aggregates_only=true
run "file I/O stress vs fio" "$HERE/fileio/run.sh" "$BUILD"
run "session stress vs limit harness and iperf3" \
  "$HERE/session/run.sh" "$BUILD" "${SESSION_BLOCKS:-32000}"
run "NetBIOS provider vs iperf3" "$HERE/netbios/run.sh" "$BUILD" "${NETBIOS_MESSAGES:-100000}"
run "vor32 vs cp + cmp" "$HERE/copystress/run.sh" "$BUILD"
run "file I/O stress on an SMB share, --cache direct vs fio --direct=1" "$HERE/smb/run.sh" "$BUILD"
run "file I/O stress through smb:// and nfs:// vs the FUSE mount, --cache direct" \
  "$HERE/servers/run.sh" "$BUILD"
run "many clients through smb:// and nfs:// vs bare loops of the client libraries and fio" \
  "$HERE/fleet/run.sh" "$BUILD"

echo
echo "== all benchmarks: medians of $ROUNDS rounds, started $started on $(nproc) CPUs," \
  "$( ((BUSY)) && echo "MACHINE BUSY: every ratio void" || echo "machine quiet at the start")"
awk -F'\t' 'BEGIN {
    printf "%-11s %-26s %16s %16s %-8s %-9s %7s  %s\n", "benchmark", "case", "ours", "peer",
           "unit", "peer is", "ratio", "target"
  }
  { printf "%-11s %-26s %16.0f %16.0f %-8s %-9s %7s  %s\n", $1, $2, $3, $4, $5, $6, $7, $8 }' \
  "$BENCH_RESULTS"
