#!/usr/bin/env bash
# Copy stress against its peers, in rounds.
#  - Local: vor32 grows its data file from 1,000,000 to 40,000,000 bytes in 1,000,000-byte
#    steps between two directories on one file system (/t), copying and verifying it at every
#    step; beside it the bare loop (copystress_bareloop: the same reads and writes through one
#    buffer and the same check of every cell, nothing else) and cp followed by cmp on files of
#    the same sizes (cp may copy inside the kernel, which a copy stress must not do).
#  - SMB share (smbd of testsupport/, needs root and network namespaces): vor32 between two
#    directories of the share through its own client (smb:// targets), 1,000,000 to
#    20,000,000 bytes, against smbclient putting and getting files of the same sizes, then cmp.
# Prints each round's figures, then a table of the medians: both absolute figures (MB/s,
# 10^6 bytes of file copied per second) beside each ratio, and vor32's peak resident memory.
#   bench/copystress/run.sh [BUILD_DIR] [SCRATCH_PARENT]
#   ROUNDS (3)
set -euo pipefail
HERE=$(dirname "$(realpath "$0")")
source "$HERE/../lib.sh"
BUILD=${1:-build}
BIN=$(realpath -m "$BUILD/copystress/vor32")
BARE=$(realpath -m "$BUILD/bench/copystress/copystress_bareloop")
RUNNER=$(realpath -m "$BUILD/testsupport/smb/smb_share_run")
[[ -x $BIN && -x $BARE ]] ||
  { echo "build first: cmake --build $BUILD --target vor32 copystress_bareloop smb_share_run" >&2; exit 1; }
DIR=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/vor32-bench-XXXXXX")
trap 'rm -rf "$DIR"' EXIT
mkdir "$DIR/A" "$DIR/B" "$DIR/sizes"
cd "$DIR"

STEP=1000000
MAX=40000000
SMB_MAX=20000000
BUFFER=1200000
DATA="VOR32's data file.DATA"
now() { date +%s.%N; }
sum_of_sizes() { awk -v s=$STEP -v m="$1" 'BEGIN { t = 0; for (x = s; x <= m; x += s) t += x; print t }'; }
BYTES=$(sum_of_sizes $MAX)
SMB_BYTES=$(sum_of_sizes $SMB_MAX)
rate() { awk -v b="$1" -v a="$2" -v e="$(now)" 'BEGIN { printf "%.0f\n", b / (e - a) }'; }
mb() { awk -v r="$1" 'BEGIN { printf "%.1f", r / 1e6 }'; }

# vor32 copies the sizes 1,000,000 ... 40,000,000 (the last copy at MaxSize unlogged), each
# followed by a verification of the copy, and grows the file by appending between copies.
vor32_round() { # prints bytes per second
  rm -f "A/$DATA" "B/$DATA"
  local start
  start=$(now)
  /usr/bin/time -f '%M' -o rss.txt "$BIN" $STEP $MAX $STEP A B /t > vor32.out
  rate "$BYTES" "$start"
  grep -q 'Current Transfer#: 000039' vor32.out ||
    { echo "vor32 did not run 39 transfers" >&2; exit 1; }
}

bare_round() { # prints bytes per second
  local start
  start=$(now)
  "$BARE" $STEP $MAX $STEP A B
  rate "$BYTES" "$start"
  rm -f A/bare.data B/bare.data
}

# The same sizes for cp + cmp and smbclient, from files cut from vor32's data file
# beforehand (not timed).
prepare_sizes() {
  head -c $MAX "A/$DATA" > sizes/full
  for ((size = STEP; size <= MAX; size += STEP)); do
    head -c $size sizes/full > "sizes/s$size"
  done
  rm -f sizes/full
}
peer_round() { # prints bytes per second
  rm -f "A/$DATA" "B/$DATA" B/copy
  sync
  local start
  start=$(now)
  for ((size = STEP; size <= MAX; size += STEP)); do
    cp "sizes/s$size" B/copy
    cmp "sizes/s$size" B/copy
  done
  rate "$BYTES" "$start"
}

# One round on a fresh share: vor32 between the share's directories a/ and b/ through its
# SMB client, then smbclient putting each size to the share and getting it back (one
# session), then cmp of every file got. The password goes in an authentication file (0600),
# never on a command line. Prints two lines: vor32's and smbclient's bytes per second.
cat > smb_round.sh << 'ROUND'
set -euo pipefail
cd "$WORK"
mkdir -p "$SHARE_BACKING/a" "$SHARE_BACKING/b" got
export ZEB_AUTHENTICATION_FILE=$WORK/auth
start=$(date +%s.%N)
"$BIN" $STEP $SMB_MAX $STEP smb://root@127.0.0.1/share/a/ smb://root@127.0.0.1/share/b/ /t \
  /l smb.log > smb-vor32.out
awk -v b="$SMB_BYTES" -v a="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.0f\n", b / (e - a) }'
grep -q 'Current Transfer#: 000019' smb-vor32.out ||
  { echo "vor32 did not run 19 transfers on the share" >&2; exit 1; }
commands=""
for ((size = STEP; size <= SMB_MAX; size += STEP)); do
  commands+="put sizes/s$size a/copy$size; get a/copy$size got/s$size; "
done
start=$(date +%s.%N)
smbclient -A auth //127.0.0.1/share -m SMB3 -c "$commands" > smbclient.out 2>&1 ||
  { cat smbclient.out >&2; exit 1; }
for ((size = STEP; size <= SMB_MAX; size += STEP)); do
  cmp "sizes/s$size" "got/s$size"
done
awk -v b="$SMB_BYTES" -v a="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.0f\n", b / (e - a) }'
rm -rf got
ROUND
printf 'username = root\npassword = zeb-test-pw\n' > auth
chmod 600 auth
SMB_WHY=""
[[ -x $RUNNER ]] || SMB_WHY="smb_share_run is not built"
command -v smbclient > /dev/null || SMB_WHY="smbclient is not installed (scripts/deps.sh bench)"
smb_round() { # prints vor32's and smbclient's bytes per second, two lines
  WORK=$DIR BIN=$BIN STEP=$STEP SMB_MAX=$SMB_MAX SMB_BYTES=$SMB_BYTES \
    "$RUNNER" bash "$DIR/smb_round.sh"
}

bench_check_load
printf 'local: copies of 1,000,000 to 40,000,000 bytes (%d bytes in all); SMB share: to' "$BYTES"
printf ' 20,000,000 bytes (%d bytes); %d rounds; MB/s = 10^6 bytes copied per second\n' \
  "$SMB_BYTES" "$ROUNDS"
printf '%-6s %10s %10s %10s %12s %12s\n' round vor32 "bare loop" "cp+cmp" "vor32 smb://" \
  "smbclient"
ours=() bares=() peers=() smbours=() smbpeers=()
for round in $(seq "$ROUNDS"); do
  mine=$(vor32_round)
  ((round > 1)) || prepare_sizes
  bare=$(bare_round)
  peer=$(peer_round)
  ours+=("$mine") bares+=("$bare") peers+=("$peer")
  smbmine=- smbpeer=-
  if [[ -z $SMB_WHY ]]; then
    if figures=$(smb_round); then
      smbmine=$(sed -n 1p <<< "$figures") smbpeer=$(sed -n 2p <<< "$figures")
      smbours+=("$smbmine") smbpeers+=("$smbpeer")
      smbmine=$(mb "$smbmine") smbpeer=$(mb "$smbpeer")
    else
      SMB_WHY="the SMB round failed (status $?)"
    fi
  fi
  printf '%-6s %10s %10s %10s %12s %12s\n' "$round" "$(mb "$mine")" "$(mb "$bare")" \
    "$(mb "$peer")" "$smbmine" "$smbpeer"
done
mine=$(printf '%s\n' "${ours[@]}" | bench_median)
bare=$(printf '%s\n' "${bares[@]}" | bench_median)
peer=$(printf '%s\n' "${peers[@]}" | bench_median)
echo
echo "medians over $ROUNDS rounds:"
printf '%-34s %12s %12s %7s  %s\n' case "vor32 MB/s" "peer MB/s" ratio target
row() { # case ours peer target
  printf '%-34s %12s %12s %7s  %s\n' "$1" "$(mb "$2")" "$(mb "$3")" "$(bench_ratio "$2" "$3")" "$4"
}
row "local: vor32 / bare loop" "$mine" "$bare" ">= 0.9"
row "local: vor32 / cp + cmp" "$mine" "$peer" "(kernel copy)"
if ((${#smbours[@]} == ROUNDS)); then
  smbmine=$(printf '%s\n' "${smbours[@]}" | bench_median)
  smbpeer=$(printf '%s\n' "${smbpeers[@]}" | bench_median)
  row "SMB share: vor32 / smbclient + cmp" "$smbmine" "$smbpeer" ">= 1.0"
  bench_result copystress "vor32 smb:// vs smbclient + cmp" "$smbmine" "$smbpeer" bytes/s \
    "smbclient + cmp" ">= 1.0"
else
  echo "SMB share: not measured: ${SMB_WHY:-a round failed}"
fi
printf 'vor32 peak resident: %d kB; transfer buffer + 4 MB: %d kB\n' "$(cat rss.txt)" \
  $(((BUFFER + 4 * 1048576) / 1024))
bench_result copystress "vor32 vs bare loop" "$mine" "$bare" bytes/s "bare loop" ">= 0.9"
bench_result copystress "vor32 vs cp + cmp" "$mine" "$peer" bytes/s "cp + cmp" "none"
