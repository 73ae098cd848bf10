#!/usr/bin/env bash
# Session stress over loopback against iperf3 in the same run. The receiver (127.0.0.3) and the
# sender (127.0.0.2) are two processes, each loading the real engine and NetBIOS provider, with
# "Show Data?" and "Save Results?" off and the compatibility log directory present, so every
# block gets all its work: adapter probe, copy, posts, log record, pair check. The sender sends
# BLOCKS blocks of 64000 bytes (64002 on the wire); iperf3 then moves the same byte count with
# writes of 64002 bytes between the same addresses. Prints the sender's own summary, both
# rates and their ratio.
#   bench/session/run.sh [BUILD_DIR] [BLOCKS]     (default 2000 blocks, at most 32000)
# Everything stays on loopback: loopback bindings, the loopback broadcast address and
# unprivileged ports of a LAN of its own.
set -euo pipefail
BUILD=${1:-build}
BLOCKS=${2:-2000}
BIN=$(realpath -m "$BUILD/engine/tests/zebstation")
[[ -x $BIN ]] || { echo "build first: cmake --build $BUILD --target zebstation" >&2; exit 1; }
command -v iperf3 >/dev/null || { echo "iperf3 is missing: run scripts/deps.sh" >&2; exit 1; }
((BLOCKS >= 1 && BLOCKS <= 32000)) || { echo "BLOCKS must be 1..32000" >&2; exit 2; }
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

# iperf3 first, so both peers see the same machine state.
pin 1 iperf3 -s -1 -B 127.0.0.3 -p $((PORT + 2)) >/dev/null 2>&1 &
sleep 0.5
BYTES=$((BLOCKS * 64002))
iperf_mbit=$(pin 0 timeout 120 iperf3 -c 127.0.0.3 -B 127.0.0.2 -p $((PORT + 2)) -l 64002 \
  -n "$BYTES" -f m | awk '/receiver/ { print $7 }')
wait || true

station 127.0.0.3 "$DIR/recv" pin 1 timeout 300 "$BIN" --quiet --nosave recv > "$DIR/recv.out" &
RECEIVER=$!
sleep 1
station 127.0.0.2 "$DIR/send" pin 0 timeout 300 "$BIN" --quiet --nosave send "$BLOCKS" 64000 \
  > "$DIR/send.out" || true
wait "$RECEIVER" && receiver_status=0 || receiver_status=$?
RECEIVER=""
summary=$(sed -n 's/^summary //p' "$DIR/send.out")
grep -q '^result 1$' "$DIR/send.out" || { echo "the sender ran no session:" >&2; cat "$DIR/send.out" >&2; exit 1; }
((receiver_status == 3)) || { echo "the receiver ended with $receiver_status" >&2; exit 1; }
log_bytes=$(stat -c %s "$DIR/recv/ctlogs/PLV.log" 2>/dev/null || echo 0)

# The summary's rate is bytes per millisecond: thousands of bytes per second.
session_kbs=$(awk '{ print $1 }' <<< "$summary")
awk -v s="$session_kbs" -v i="$iperf_mbit" -v n="$BLOCKS" -v sum="$summary" -v logb="$log_bytes" 'BEGIN {
  session = s * 1000 / 1e6; peer = i * 1e6 / 8 / 1e6
  printf "blocks               %d x 64000 bytes (64002 on the wire)\n", n
  printf "sender summary       %s\n", sum
  printf "receiver log bytes   %d\n", logb
  printf "session stress       %10.1f MB/s\n", session
  printf "iperf3 -l 64002      %10.1f MB/s\n", peer
  printf "ratio                %10.2f\n", (peer > 0 ? session / peer : 0)
}'
