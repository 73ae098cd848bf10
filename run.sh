#!/usr/bin/env bash
# Sets up the machine (scripts/deps.sh's run list only), builds the kit's programs without the
# tests (in a build directory of its own, so that a test build is never disturbed) and runs
# its main job: on a desktop the control dialog zebwin; without a display a short file I/O
# sweep through zebcli (scripts/sweep.sh), its results kept in results/YYYYmmdd-HHMMSS/.
#   ./run.sh [zebcli fileio options] [PATH]
#   RUN_BUILD_DIR (build-run) and RESULTS_DIR (results), relative to the top of the tree.
# Exit status: without a display zebcli's (0, 1, 2, 64, explained in the closing lines);
# on a desktop zebwin's (0, 2, 3; see zebwin(1)); 69 when the machine could not be set up or
# the kit not built, and nothing ran.
set -euo pipefail
CALLER=$PWD
cd "$(dirname "$0")"
BUILD=${RUN_BUILD_DIR:-build-run}
RESULTS_DIR=$(realpath -m "${RESULTS_DIR:-results}")
export RESULTS_DIR

setup_failed() {
  echo "run.sh: $1 failed (exit status $2); nothing ran. Exit status 69." >&2
  exit 69
}
bash scripts/deps.sh run || setup_failed "installing the packages (scripts/deps.sh run)" $?
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
  >/dev/null || setup_failed "configuring the build in $BUILD/" $?
cmake --build "$BUILD" -j"$(nproc)" || setup_failed "building the kit in $BUILD/" $?
if [[ -n ${DISPLAY:-} && -x $BUILD/frontend/zebwin ]]; then
  exec "$BUILD/frontend/zebwin" "$@"
fi
ZEBCLI=$(realpath "$BUILD/cli/zebcli")
SWEEP=$PWD/scripts/sweep.sh
cd "$CALLER"
exec "$SWEEP" "$ZEBCLI" "$@"
