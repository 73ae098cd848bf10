#!/usr/bin/env bash
# The NetBIOS provider alone against iperf3, in rounds: bench_netbios moves MESSAGES messages
# of 64002 bytes between two provider instances on 127.0.0.2 and 127.0.0.3 (sender on CPU 0,
# receiver on CPU 1), and iperf3 writes 64002 bytes at a time between the same addresses and
# CPUs for DURATION seconds. Prints each round's rates and ratio, then the medians.
#   bench/netbios/run.sh [BUILD_DIR] [MESSAGES]   (default 100000, at most 200000)
#   ROUNDS (3), DURATION seconds of iperf3 per round (2)
set -euo pipefail
HERE=$(dirname "$(realpath "$0")")
source "$HERE/../lib.sh"
BUILD=${1:-build}
MESSAGES=${2:-100000}
DURATION=${DURATION:-2}
BIN=$(realpath -m "$BUILD/bench/netbios/bench_netbios")
[[ -x $BIN ]] || { echo "build first: cmake --build $BUILD --target bench_netbios" >&2; exit 1; }
command -v iperf3 >/dev/null || { echo "iperf3 is missing: run scripts/deps.sh bench" >&2; exit 1; }

bench_check_load
printf 'messages %d x 64002 bytes, iperf3 %s s, %d rounds\n' "$MESSAGES" "$DURATION" "$ROUNDS"
printf '%-6s %15s %12s %7s\n' round "provider MB/s" "iperf3 MB/s" ratio
providers=() peers=()
for round in $(seq "$ROUNDS"); do
  out=$("$BIN" "$MESSAGES" "$DURATION") || { echo "bench_netbios failed:" >&2; echo "$out" >&2; exit 1; }
  provider=$(awk '/^libnetbios session/ { printf "%.0f", $3 * 1e6 }' <<< "$out")
  peer=$(awk '/^iperf3/ { printf "%.0f", $4 * 1e6 }' <<< "$out")
  providers+=("$provider") peers+=("$peer")
  printf '%-6s %15.1f %12.1f %7s\n' "$round" "$(awk -v b="$provider" 'BEGIN { print b / 1e6 }')" \
    "$(awk -v b="$peer" 'BEGIN { print b / 1e6 }')" "$(bench_ratio "$provider" "$peer")"
done
provider=$(printf '%s\n' "${providers[@]}" | bench_median)
peer=$(printf '%s\n' "${peers[@]}" | bench_median)
printf '%-6s %15.1f %12.1f %7s\n' median "$(awk -v b="$provider" 'BEGIN { print b / 1e6 }')" \
  "$(awk -v b="$peer" 'BEGIN { print b / 1e6 }')" "$(bench_ratio "$provider" "$peer")"
bench_result netbios "provider vs iperf3" "$provider" "$peer" bytes/s iperf3 ">= 1.0"
