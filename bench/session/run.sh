#!/usr/bin/env bash
# The session stress over loopback against two peers, round after round on the same
# addresses and CPUs (sender 127.0.0.2 on CPU 0, receiver 127.0.0.3 on CPU 1):
#   - the session stress: two stations, each loading the real engine and NetBIOS provider,
#     with "Show Data?" and "Save Results?" off and the compatibility log directory present,
#     so every block gets all its work (adapter probe, copy, posts, log record, pair check).
#     The sender sends BLOCKS blocks of 64000 bytes (64002 on the wire); its figure is its own
#     summary (data bytes over its send loop).
#   - the limit harness (bench/session/limit_harness.cpp): a plain framed TCP loop that per
#     block does only what the receiver must (one log record, opening, locking and closing
#     the log; the copy up to the zero; the pair check), the same blocks, timed the same way.
#     This is the limit for the session stress: the target is session >= 0.9 x harness.
#   - iperf3: writes of 64002 bytes for DURATION seconds (time-based, so that its start-up
#     does not count), the receiver's rate.
# Prints every round's three rates and ratios, then the medians and their ratios.
#   bench/session/run.sh [BUILD_DIR] [BLOCKS]   (default 32000 blocks, at most 60000)
#   ROUNDS (3), DURATION seconds of iperf3 per round (2, at least 2)
# Everything stays on loopback: loopback bindings, the loopback broadcast address and
# unprivileged ports of a LAN of its own.
set -euo pipefail
HERE=$(dirname "$(realpath "$0")")
source "$HERE/../lib.sh"
BUILD=${1:-build}
BLOCKS=${2:-32000}
DURATION=${DURATION:-2}
BIN=$(realpath -m "$BUILD/tools/zebstation")
HARNESS=$(realpath -m "$BUILD/bench/session/limit_harness")
[[ -x $BIN && -x $HARNESS ]] ||
  { echo "build first: cmake --build $BUILD --target zebstation limit_harness" >&2; exit 1; }
command -v iperf3 >/dev/null || { echo "iperf3 is missing: run scripts/deps.sh bench" >&2; exit 1; }
[[ $BLOCKS =~ ^[0-9]+$ ]] && ((BLOCKS >= 1 && BLOCKS <= 60000)) ||
  { echo "BLOCKS must be 1..60000" >&2; exit 2; }
[[ $DURATION =~ ^[0-9]+$ ]] && ((DURATION >= 2 && DURATION <= 60)) ||
  { echo "DURATION must be 2..60 whole seconds" >&2; exit 2; }
DIR=$(mktemp -d)
RECEIVER=""
cleanup() {
  [[ -n $RECEIVER ]] && kill "$RECEIVER" 2>/dev/null || true
  rm -rf "$DIR"
}
trap cleanup EXIT
mkdir -p "$DIR/recv/ctlogs" "$DIR/send/ctlogs" "$DIR/harness/ctlogs"

# A name port P, session port P+1, iperf3 port P+2 and harness port P+3 that nothing uses yet.
bench_free_ports 4

# Sender on CPU 0, receiver on CPU 1, for every side (the harness pins itself).
pin() { if (($(nproc) >= 2)); then taskset -c "$1" "${@:2}"; else "${@:2}"; fi; }

iperf_round() { # prints iperf3's receiver rate in bytes per second
  pin 1 iperf3 -s -1 -B 127.0.0.3 -p $((PORT + 2)) >/dev/null 2>&1 &
  local server=$! mbit
  sleep 0.5
  mbit=$(pin 0 timeout $((DURATION + 60)) iperf3 -c 127.0.0.3 -B 127.0.0.2 -p $((PORT + 2)) \
    -l 64002 -t "$DURATION" -f m | awk '/receiver/ { print $7 }')
  wait "$server" || true
  [[ -n $mbit ]] || { echo "iperf3 gave no rate" >&2; exit 1; }
  awk -v m="$mbit" 'BEGIN { printf "%.0f\n", m * 1e6 / 8 }'
}
session_round() { # prints the sender's rate in bytes per second (its summary: bytes per ms)
  rm -f "$DIR/recv/ctlogs/PLV.log" "$DIR/send/ctlogs/PLV.log"
  bench_station 127.0.0.3 "$DIR/recv" pin 1 timeout 300 "$BIN" --quiet --nosave recv \
    > "$DIR/recv.out" &
  RECEIVER=$!
  sleep 1
  bench_station 127.0.0.2 "$DIR/send" pin 0 timeout 300 "$BIN" --quiet --nosave send "$BLOCKS" 64000 \
    > "$DIR/send.out" || true
  local status=0
  wait "$RECEIVER" || status=$?
  RECEIVER=""
  grep -q '^result 1$' "$DIR/send.out" ||
    { echo "the sender ran no session:" >&2; cat "$DIR/send.out" >&2; exit 1; }
  ((status == 3)) || { echo "the receiver ended with $status" >&2; exit 1; }
  [[ -s $DIR/recv/ctlogs/PLV.log ]] || { echo "the receiver logged nothing" >&2; exit 1; }
  local summary
  summary=$(sed -n 's/^summary //p' "$DIR/send.out")
  [[ $summary == *" $((BLOCKS * 64000)) bytes transfered" ]] ||
    { echo "the session did not move every block: $summary" >&2; exit 1; }
  awk -v s="${summary%% KB/s*}" 'BEGIN { printf "%.0f\n", s * 1000 }'
}
harness_round() { # prints the harness's rate in bytes per second
  rm -f "$DIR/harness/ctlogs/PLV.log"
  local out
  out=$(timeout 300 "$HARNESS" "$BLOCKS" $((PORT + 3)) "$DIR/harness") ||
    { echo "the limit harness failed" >&2; exit 1; }
  echo "${out##* }"
}
mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1e6 }'; }

# Rounds run the three sides one after another, so that all see the same machine.
bench_check_load
printf 'blocks %d x 64000 bytes (64002 on the wire), iperf3 %d s, %d rounds\n' "$BLOCKS" \
  "$DURATION" "$ROUNDS"
printf '%-6s %12s %12s %12s %9s %9s\n' round "session MB/s" "harness MB/s" "iperf3 MB/s" \
  "s/harness" "s/iperf3"
sessions=() harnesses=() peers=()
for round in $(seq "$ROUNDS"); do
  peer=$(iperf_round)
  session=$(session_round)
  harness=$(harness_round)
  sessions+=("$session") harnesses+=("$harness") peers+=("$peer")
  printf '%-6s %12s %12s %12s %9s %9s\n' "$round" "$(mb "$session")" "$(mb "$harness")" \
    "$(mb "$peer")" "$(bench_ratio "$session" "$harness")" "$(bench_ratio "$session" "$peer")"
done
session=$(printf '%s\n' "${sessions[@]}" | bench_median)
harness=$(printf '%s\n' "${harnesses[@]}" | bench_median)
peer=$(printf '%s\n' "${peers[@]}" | bench_median)
printf '%-6s %12s %12s %12s %9s %9s\n' median "$(mb "$session")" "$(mb "$harness")" \
  "$(mb "$peer")" "$(bench_ratio "$session" "$harness")" "$(bench_ratio "$session" "$peer")"
printf 'harness / iperf3: %s\n' "$(bench_ratio "$harness" "$peer")"
bench_result session "session vs limit harness" "$session" "$harness" bytes/s harness ">= 0.9"
bench_result session "session vs iperf3" "$session" "$peer" bytes/s iperf3 "-"
bench_result session "limit harness vs iperf3" "$harness" "$peer" bytes/s iperf3 "-"
