#!/usr/bin/env bash
# Sets up the machine, builds the kit and runs its main job: on a desktop the control dialog
# zebwin; without a display a short file I/O sweep through the console runner zebcli on a
# test file in a temporary directory, with its report and JSON summary.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/deps.sh
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
if [[ -n ${DISPLAY:-} && -x $BUILD/frontend/zebwin ]]; then
  exec "$BUILD/frontend/zebwin" "$@"
fi
ZEBCLI=$(realpath "$BUILD/cli/zebcli")
DIR=$(mktemp -d)
trap 'rm -rf "$DIR"' EXIT
cd "$DIR"
echo "No display: a file I/O sweep through zebcli on $DIR/TESTFILE.TST"
status=0
"$ZEBCLI" fileio "$DIR/TESTFILE.TST" --from 4096 --to 32000 --inc 4096 --iterations 200 \
  --mode "Random R & W" --save --json "$DIR/summary.json" "$@" || status=$?
echo "--- summary.json"
cat summary.json 2>/dev/null || true
echo "Exit status $status (0: no failure, 1: a failure was posted, 2: a results file not written)"
[[ $status -eq 0 ]]
