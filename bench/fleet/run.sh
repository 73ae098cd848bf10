#!/usr/bin/env bash
# Many clients on one host against one file server: zebcli fileio --clients N through its own
# SMB client (smb://, against smbd) and its own NFS client (nfs://, against nfs-ganesha), at
# each number of clients in COUNTS, beside two peers measured in the same round:
#   ours   zebcli fileio --clients N: each client ITERATIONS blocks of BLOCK bytes in MODE
#          (Random Read) on a test file of its own (T{client}.TST, 1,048,544 bytes); the rate
#          of them all over the window in which all ran (all_running in the merged JSON: from
#          the release to the first client's verdict)
#   limit  fleet_limit (bench/fleet/fleet_limit.cpp): N processes, each the bare loop of its
#          client library's reads (libsmbclient lseek + read, libnfs nfs_pread), no check,
#          the same block size and offsets (the engine's generator) on the same files, released
#          together; its rate over the same window (from the release to the first done)
#   fio    fio --numjobs=N --direct=1, psync at queue depth 1, the same pattern and block size,
#          one 1,048,544-byte file per job, on the share's FUSE mount (smbnetfs), time-based for
#          as long as our window took in that round. The NFS fixture has no mount (its clients
#          are libnfs's), so fio has no NFS cell.
# Every round's figures are printed (ours with its window, each peer with ours / it), then per
# server a table of the medians over the rounds: clients, ours, the limit, ours / limit, fio,
# ours / fio. A peer's median far below its median at the fewest clients scaled by the clients
# this machine can run at once is marked suspect, " !" (bench_suspect in bench/lib.sh), and
# so is its ratio.
#   bench/fleet/run.sh [BUILD_DIR]
#   ROUNDS (3), COUNTS ("1 2 4 8"; each 1 to 16, at most 8 numbers), MODE (3 = Random Read, or
#   6 = Overlay Read: the limit is a loop of reads), BLOCK (32000), ITERATIONS (20000 per
#   client); the sum of COUNTS times ITERATIONS at most 300000, about 20 s of reads per side at
#   15,000 operations per second, so that a round stays within about 3 minutes on 2 CPUs.
# Needs root (network and mount namespaces, FUSE), smbd, smbnetfs, nfs-ganesha, fio and jq.
set -euo pipefail
HERE=$(dirname "$(realpath "$0")")
source "$HERE/../lib.sh"
BUILD=$(realpath "${1:-build}")
COUNTS=${COUNTS:-1 2 4 8}
MODE=${MODE:-3}
BLOCK=${BLOCK:-32000}
ITERATIONS=${ITERATIONS:-20000}
MAX_WORK=300000
ZEBCLI=$BUILD/cli/zebcli
LIMIT=$BUILD/bench/fleet/fleet_limit
SMB_RUNNER=$BUILD/testsupport/smb/smb_share_run
NFS_RUNNER=$BUILD/testsupport/nfs/nfs_export_run
for program in "$ZEBCLI" "$LIMIT" "$SMB_RUNNER" "$NFS_RUNNER"; do
  [[ -x $program ]] || {
    echo "build first: cmake --build $BUILD --target zebcli fleet_limit smb_share_run" \
      "nfs_export_run" >&2
    exit 1
  }
done
for tool in fio jq; do
  command -v $tool >/dev/null || { echo "$tool is missing: run scripts/deps.sh bench" >&2; exit 1; }
done
[[ $MODE == 3 || $MODE == 6 ]] || { echo "MODE must be 3 or 6 (a reading pattern)" >&2; exit 2; }
[[ $BLOCK =~ ^[0-9]+$ ]] && ((BLOCK >= 1 && BLOCK <= 65534)) ||
  { echo "BLOCK must be 1..65534" >&2; exit 2; }
read -r -a CLIENTS <<<"$COUNTS"
((${#CLIENTS[@]} >= 1 && ${#CLIENTS[@]} <= 8)) || { echo "COUNTS: 1 to 8 numbers" >&2; exit 2; }
work=0
for n in "${CLIENTS[@]}"; do
  [[ $n =~ ^[0-9]+$ ]] && ((n >= 1 && n <= 16)) ||
    { echo "COUNTS: each 1..16, not $n" >&2; exit 2; }
  work=$((work + n))
done
[[ $ITERATIONS =~ ^[0-9]+$ ]] && ((ITERATIONS >= 1 && work * ITERATIONS <= MAX_WORK)) ||
  { echo "ITERATIONS times the sum of COUNTS ($work) must be 1..$MAX_WORK" >&2; exit 2; }

if [[ -z ${SHARE:-} ]]; then
  # Once the SMB server is up, this script runs again inside its namespaces with SHARE set
  # (and PASSWD, the share's password), and once more beside the NFS server with
  # NFS_LAUNCHER set.
  bench_check_load
  export BENCH_BUSY=$BUSY ROUNDS COUNTS MODE BLOCK ITERATIONS
  exec "$SMB_RUNNER" "$HERE/run.sh" "$BUILD"
fi
if [[ -z ${NFS_LAUNCHER:-} ]]; then
  exec "$NFS_RUNNER" "$HERE/run.sh" "$BUILD"
fi
[[ -n ${PASSWD:-} ]] || { echo "the SMB fixture set no PASSWD" >&2; exit 1; }

bench_check_load
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
read -r -a NFS_WORDS <<<"$NFS_LAUNCHER"
SMB_URL='smb://root@127.0.0.1/share/T{client}.TST'
NFS_URL='nfs://127.0.0.1/zeb/T{client}.TST'
# fio's own files on the share, one per job (fio numbers its jobs from 0).
FIO_FILES='fio.$jobnum'

ours() { # launcher words... -- url clients: prints "window-ops/s window-seconds"
  local launcher=() status=0 figures
  while [[ $1 != -- ]]; do launcher+=("$1"); shift; done
  "${launcher[@]}" "$ZEBCLI" fileio "$2" --clients "$3" --mode "${NAMES[$MODE]}" \
    --from "$BLOCK" --to "$BLOCK" --iterations "$ITERATIONS" --interval 0.1 -q \
    --clients-dir "$WORK/clients" --json "$WORK/ours.json" >/dev/null || status=$?
  ((status == 0)) || { echo "zebcli's $3 clients on $2 failed (exit $status)" >&2; exit 1; }
  # Every client passed, and the window has a rate.
  figures=$(jq -r --argjson n "$3" '.all[0] as $p | if .outcome == "passed" and
      $p.clients_passed == $n and ($p.all_running.operations_per_second | type) == "number"
      then "\($p.all_running.operations_per_second) \($p.all_running.first_done_seconds)"
      else "failed" end' "$WORK/ours.json")
  [[ $figures != failed ]] ||
    { echo "zebcli's $3 clients on $2: not every client passed" >&2; exit 1; }
  echo "$figures"
}

limit() { # launcher words... -- url clients: prints the window's operations per second
  local launcher=() figures
  while [[ $1 != -- ]]; do launcher+=("$1"); shift; done
  figures=$("${launcher[@]}" "$LIMIT" "$3" "$ITERATIONS" "$BLOCK" "$MODE" "$2") ||
    { echo "the limit's $3 clients on $2 failed" >&2; exit 1; }
  echo "${figures%% *}"
}

fio_ops() { # clients seconds: prints the jobs' read operations per second together
  local region=(--size=1048544) ops
  ((MODE == 6)) && region=(--offset=524256 --size="$BLOCK")
  for ((job = 0; job < $1; job++)); do
    [[ -f $SHARE_BACKING/fio.$job ]] || cp "$SHARE_BACKING/T1.TST" "$SHARE_BACKING/fio.$job"
  done
  ops=$(fio --name=peer --directory="$SHARE" --filename_format="$FIO_FILES" --numjobs="$1" \
    --group_reporting --ioengine=psync --iodepth=1 --direct=1 --rw=randread --bs="$BLOCK" \
    "${region[@]}" --time_based \
    --runtime="$(awk -v s="$2" 'BEGIN { printf "%d", (s < 1 ? 1 : s) * 1000 + 0.5 }')ms" \
    --norandommap --randrepeat=0 --output-format=terse --terse-version=3 |
    awk -F';' 'NF > 48 { printf "%.0f\n", $8 }')
  [[ $ops =~ ^[0-9]+$ ]] && ((ops > 0)) || { echo "fio with $1 jobs failed" >&2; exit 1; }
  echo "$ops"
}

printf '%s, %s: %s x %s bytes per client and pass, clients %s, %d rounds, %d CPUs\n' \
  "$(fio --version)" "${NAMES[$MODE]}" "$ITERATIONS" "$BLOCK" "$COUNTS" "$ROUNDS" "$(nproc)"
declare -A FIG # FIG[server,figure,clients] = the rounds' figures, one a line
for round in $(seq "$ROUNDS"); do
  for n in "${CLIENTS[@]}"; do
    figures=$(ours -- "$SMB_URL" "$n")
    read -r smb seconds <<<"$figures"
    smb_limit=$(limit -- "$SMB_URL" "$n")
    smb_fio=$(fio_ops "$n" "$seconds")
    figures=$(ours "${NFS_WORDS[@]}" -- "$NFS_URL" "$n")
    read -r nfs nfs_seconds <<<"$figures"
    nfs_limit=$(limit "${NFS_WORDS[@]}" -- "$NFS_URL" "$n")
    FIG[smb,ours,$n]+="$smb"$'\n' FIG[smb,limit,$n]+="$smb_limit"$'\n'
    FIG[smb,fio,$n]+="$smb_fio"$'\n'
    FIG[nfs,ours,$n]+="$nfs"$'\n' FIG[nfs,limit,$n]+="$nfs_limit"$'\n'
    printf 'round %d %2d clients  smb:// %8.0f ops/s (%5.2f s)  limit %8.0f (%s)' "$round" \
      "$n" "$smb" "$seconds" "$smb_limit" "$(bench_ratio "$smb" "$smb_limit")"
    printf '  fio %8.0f (%s)\n' "$smb_fio" "$(bench_ratio "$smb" "$smb_fio")"
    printf 'round %d %2d clients  nfs:// %8.0f ops/s (%5.2f s)  limit %8.0f (%s)\n' \
      "$round" "$n" "$nfs" "$nfs_seconds" "$nfs_limit" "$(bench_ratio "$nfs" "$nfs_limit")"
  done
done

median() { printf '%s' "${FIG[$1]}" | bench_median; }
SUSPECTS=0
# A peer's median, with " !" after it where bench_suspect finds it far below its scaling.
peer() { # server figure clients
  local value one
  value=$(median "$1,$2,$3")
  one=$(median "$1,$2,${CLIENTS[0]}")
  printf '%.0f%s' "$value" "$(bench_suspect "$value" "$one" "${CLIENTS[0]}" "$3")"
}
ratio() { # ours peer-with-mark: the ratio, marked as the peer is
  local mark=""
  [[ $2 == *'!' ]] && mark=" !"
  echo "$(bench_ratio "$1" "${2%% *}")$mark"
}
table() { # server name
  echo
  echo "$2: medians over $ROUNDS rounds, operations per second of all clients together"
  printf '%7s %12s %12s %12s %12s %12s\n' clients zebcli limit "/ limit" fio "/ fio"
  for n in "${CLIENTS[@]}"; do
    local mine lim fio=- vs_fio=-
    mine=$(median "$1,ours,$n")
    lim=$(peer "$1" limit "$n")
    if [[ $1 == smb ]]; then
      fio=$(peer "$1" fio "$n")
      vs_fio=$(ratio "$mine" "$fio")
      bench_result fleet "smb:// $n clients vs fio" "$mine" "${fio%% *}" ops/s "fio direct" none
    fi
    [[ $lim$fio != *'!'* ]] || SUSPECTS=1
    printf '%7s %12.0f %12s %12s %12s %12s\n' "$n" "$mine" "$lim" "$(ratio "$mine" "$lim")" \
      "$fio" "$vs_fio"
    bench_result fleet "$1:// $n clients vs limit" "$mine" "${lim%% *}" ops/s "bare loops" none
  done
}
table smb "smbd, smb:// (libsmbclient)"
table nfs "nfs-ganesha, nfs:// (libnfs)"
echo "fio on NFS: not measured: the NFS fixture has no FUSE or kernel mount (libnfs only)"
((SUSPECTS == 0)) || bench_suspect_note
