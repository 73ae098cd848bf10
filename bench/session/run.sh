#!/usr/bin/env bash
# Session stress over loopback against iperf3 in the same run. The receiver (127.0.0.3) and the
# sender (127.0.0.2) are two processes, each loading the real engine and NetBIOS provider, with
# "Show Data?" and "Save Results?" off and the compatibility log directory present, so every
# block gets all its work: adapter probe, copy, posts, log record, pair check. The sender sends
# BLOCKS blocks of 64000 bytes (64002 on the wire); iperf3 then moves the same byte count with
# writes of 64002 bytes between the same addresses. Prints, per round, the sender's own
# summary, both rates and their ratio, then the median ratio.
#   bench/session/run.sh [BUILD_DIR] [BLOCKS] [ROUNDS]   (default 2000 blocks, at most 32000;
#                                                          5 rounds)
# Everything stays on loopback: loopback bindings, the loopback broadcast address and
# unprivileged ports of a LAN of its own.
set -euo pipefail
BUILD=${1:-build}
BLOCKS=${2:-2000}
ROUNDS=${3:-5}
BIN=$(realpath -m "$BUILD/tools/zebstation")
[[ -x $BIN ]] || { echo "build first: cmake --build $BUILD --target zebstation" >&2; exit 1; }
command -v iperf3 >/dev/null || { echo "iperf3 is missing: run scripts/deps.sh" >&2; exit 1; }
((BLOCKS >= 1 && BLOCKS <= 32000)) || { echo "BLOCKS must be 1..32000" >&2; exit 2; }
((ROUNDS >= 1 && ROUNDS <= 20)) || { echo "ROUNDS must be 1..20" >&2; exit 2; }
DIR=$(mktemp -d)
RECEIVER=""
cleanup() {
  [[ -n $RECEIVER ]] && kill "$RECEIVER" 2>/dev/null || true
  rm -rf "$DIR"
}
trap cleanup EXIT
mkdir -p "$DIR/recv/ctlogs" "$DIR/send/ctlogs"

# A name port P, session port P+1 and iperf3 port P+2 that nothing uses yet.
in_use() { ss -Hlnut | awk '{ print $5 }' | grep -q ":$1\$"; }
PORT=""
for _ in $(seq 200); do
  p=$((20000 + 2 * (RANDOM % 10000)))
  if ! in_use "$p" && ! in_use $((p + 1)) && ! in_use $((p + 2)); then PORT=$p; break; fi
done
[[ -n $PORT ]] || { echo "no free loopback ports" >&2; exit 1; }

# Sender on CPU 0, receiver on CPU 1, for the stations and for iperf3 alike.
pin() { if (($(nproc) >= 2)); then taskset -c "$1" "${@:2}"; else "${@:2}"; fi; }
station() { # address dir args...
  local address=$1 dir=$2; shift 2
  (cd "$dir" && unset NETBIOS_LMHOSTS NETBIOS_WINS &&
    export NETBIOS_LANAS="$address" NETBIOS_BROADCAST=127.255.255.255 \
      NETBIOS_NAME_PORT="$PORT" NETBIOS_SESSION_PORT=$((PORT + 1)) WINDIR="$dir" && "$@")
}

BYTES=$((BLOCKS * 64002))
iperf_round() { # prints iperf3's receiver rate in Mbit/s
  pin 1 iperf3 -s -1 -B 127.0.0.3 -p $((PORT + 2)) >/dev/null 2>&1 &
  local server=$!
  sleep 0.5
  pin 0 timeout 120 iperf3 -c 127.0.0.3 -B 127.0.0.2 -p $((PORT + 2)) -l 64002 -n "$BYTES" \
    -f m | awk '/receiver/ { print $7 }'
  wait "$server" || true
}
session_round() { # prints the sender's summary
  rm -f "$DIR/recv/ctlogs/PLV.log" "$DIR/send/ctlogs/PLV.log"
  station 127.0.0.3 "$DIR/recv" pin 1 timeout 300 "$BIN" --quiet --nosave recv \
    > "$DIR/recv.out" &
  RECEIVER=$!
  sleep 1
  station 127.0.0.2 "$DIR/send" pin 0 timeout 300 "$BIN" --quiet --nosave send "$BLOCKS" 64000 \
    > "$DIR/send.out" || true
  local status=0
  wait "$RECEIVER" || status=$?
  RECEIVER=""
  grep -q '^result 1$' "$DIR/send.out" ||
    { echo "the sender ran no session:" >&2; cat "$DIR/send.out" >&2; exit 1; }
  ((status == 3)) || { echo "the receiver ended with $status" >&2; exit 1; }
  [[ -s $DIR/recv/ctlogs/PLV.log ]] || { echo "the receiver logged nothing" >&2; exit 1; }
  sed -n 's/^summary //p' "$DIR/send.out"
}

# Rounds alternate the peer and the session stress, so both see the same machine; the ratio
# reported is the median of the rounds' ratios. The summary's rate is bytes per millisecond,
# that is thousands of bytes per second.
printf 'blocks %d x 64000 bytes (64002 on the wire), %d rounds\n' "$BLOCKS" "$ROUNDS"
printf '%-5s %-48s %12s %12s %6s\n' round "sender summary" "session MB/s" "iperf3 MB/s" ratio
ratios=()
for round in $(seq "$ROUNDS"); do
  mbit=$(iperf_round)
  summary=$(session_round)
  line=$(awk -v s="${summary%% KB/s*}" -v i="$mbit" 'BEGIN {
    session = s * 1000 / 1e6; peer = i * 1e6 / 8 / 1e6
    printf "%12.1f %12.1f %6.2f", session, peer, (peer > 0 ? session / peer : 0) }')
  printf '%-5s %-48s %s\n' "$round" "$summary" "$line"
  ratios+=("${line##* }")
done
median=$(printf '%s\n' "${ratios[@]}" | sort -n | awk '{ r[NR] = $1 } END {
  print (NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2) }')
printf 'median ratio %s\n' "$median"
