#!/usr/bin/env bash
# The file I/O stress on a file server three ways in one run, every transfer reaching the
# server: the engine's own SMB client (smb://), the same share through its FUSE mount with
# --cache direct, and the engine's own NFS client (nfs://). The kit's test servers are started
# once (smbd and nfs-ganesha, each in a network namespace of its own) and the three passes
# alternate in every round.
#   each  zebcli fileio: ITERATIONS blocks of BLOCK bytes in MODE (Random Read) on the
#         1,048,544-byte test file; the pass's operations and bytes per second as zebcli
#         reports them (over its transfer_seconds: the check before the pass left out)
# The figures are medians over the rounds; the ratios are smb:// and nfs:// over the mount.
#   bench/servers/run.sh [BUILD_DIR]
#   ROUNDS (3), MODE (3 = Random Read; 0-8 as the engine numbers them), BLOCK (32000),
#   ITERATIONS (20000)
# Needs root (network and mount namespaces, FUSE), smbd, smbnetfs and nfs-ganesha.
set -euo pipefail
HERE=$(dirname "$(realpath "$0")")
source "$HERE/../lib.sh"
BUILD=$(realpath "${1:-build}")
MODE=${MODE:-3}
BLOCK=${BLOCK:-32000}
ITERATIONS=${ITERATIONS:-20000}
ZEBCLI=$BUILD/cli/zebcli
SMB_RUNNER=$BUILD/testsupport/smb/smb_share_run
NFS_RUNNER=$BUILD/testsupport/nfs/nfs_export_run
for program in "$ZEBCLI" "$SMB_RUNNER" "$NFS_RUNNER"; do
  [[ -x $program ]] || {
    echo "build first: cmake --build $BUILD --target zebcli smb_share_run nfs_export_run" >&2
    exit 1
  }
done
[[ $MODE =~ ^[0-8]$ ]] || { echo "MODE must be 0..8" >&2; exit 2; }

if [[ -z ${SHARE:-} ]]; then
  # Once the SMB server is up, this script runs again inside its namespaces with SHARE set,
  # and once more beside the NFS server with NFS_LAUNCHER set.
  bench_check_load
  export BENCH_BUSY=$BUSY ROUNDS MODE BLOCK ITERATIONS
  exec "$SMB_RUNNER" "$HERE/run.sh" "$BUILD"
fi
if [[ -z ${NFS_LAUNCHER:-} ]]; then
  exec "$NFS_RUNNER" "$HERE/run.sh" "$BUILD"
fi

bench_check_load
LOG=$(mktemp)
trap 'rm -f "$LOG"' EXIT
# The share's password, as the SMB fixture sets it, for the engine's own client.
export PASSWD=zeb-test-pw

pass() { # launcher words... -- path [options]: prints "operations-per-second bytes-per-second"
  local launcher=() status=0
  while [[ $1 != -- ]]; do launcher+=("$1"); shift; done
  shift
  "${launcher[@]}" "$ZEBCLI" fileio "$@" --mode "${NAMES[$MODE]}" --from "$BLOCK" \
    --to "$BLOCK" --iterations "$ITERATIONS" --json "$LOG" >/dev/null || status=$?
  ((status == 0)) || { echo "zebcli's pass on $1 failed (exit $status)" >&2; exit 1; }
  # The pass's own rates (its operations, not the check of the test file before them).
  awk -F': ' '!ops && /"operations_per_second"/ { ops = $2 + 0 }
    !bytes && /"bytes_per_second"/ { bytes = $2 + 0 } END { printf "%.0f %.0f\n", ops, bytes }' "$LOG"
}

read -r -a NFS_WORDS <<<"$NFS_LAUNCHER"
printf '%s: %s x %s bytes per pass, %d rounds\n' "${NAMES[$MODE]}" "$ITERATIONS" "$BLOCK" "$ROUNDS"
MOUNT_OPS=() MOUNT_BYTES=() SMB_OPS=() SMB_BYTES=() NFS_OPS=() NFS_BYTES=()
for round in $(seq "$ROUNDS"); do
  read -r smb_ops smb_bytes < <(pass -- smb://root@127.0.0.1/share/T.TST)
  read -r mount_ops mount_bytes < <(pass -- "$SHARE/T.TST" --cache direct)
  read -r nfs_ops nfs_bytes < <(pass "${NFS_WORDS[@]}" -- nfs://127.0.0.1/zeb/T.TST)
  SMB_OPS+=("$smb_ops") SMB_BYTES+=("$smb_bytes") MOUNT_OPS+=("$mount_ops")
  MOUNT_BYTES+=("$mount_bytes") NFS_OPS+=("$nfs_ops") NFS_BYTES+=("$nfs_bytes")
  printf 'round %d  smb:// %7.0f ops/s %11.0f B/s  mount --cache direct %7.0f ops/s %11.0f B/s' \
    "$round" "$smb_ops" "$smb_bytes" "$mount_ops" "$mount_bytes"
  printf '  nfs:// %7.0f ops/s %11.0f B/s\n' "$nfs_ops" "$nfs_bytes"
done
median() { printf '%s\n' "$@" | bench_median; }
mount_ops=$(median "${MOUNT_OPS[@]}")
smb_ops=$(median "${SMB_OPS[@]}")
nfs_ops=$(median "${NFS_OPS[@]}")
echo
printf '%-22s %12s %14s %16s\n' "medians" "ops/s" "bytes/s" "ops/s vs mount"
printf '%-22s %12.0f %14.0f %16s\n' "FUSE mount, direct" "$mount_ops" \
  "$(median "${MOUNT_BYTES[@]}")" "$(bench_ratio "$mount_ops" "$mount_ops")"
printf '%-22s %12.0f %14.0f %16s\n' "smb:// (libsmbclient)" "$smb_ops" \
  "$(median "${SMB_BYTES[@]}")" "$(bench_ratio "$smb_ops" "$mount_ops")"
printf '%-22s %12.0f %14.0f %16s\n' "nfs:// (libnfs)" "$nfs_ops" \
  "$(median "${NFS_BYTES[@]}")" "$(bench_ratio "$nfs_ops" "$mount_ops")"
bench_result smb-client "${NAMES[$MODE]} $BLOCK" "$smb_ops" "$mount_ops" ops/s "FUSE mount direct" "none"
bench_result nfs-client "${NAMES[$MODE]} $BLOCK" "$nfs_ops" "$mount_ops" ops/s "FUSE mount direct" "none"
