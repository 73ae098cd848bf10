#!/usr/bin/env bash
# Sets up the machine (Debian packages), builds the whole kit and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/deps.sh
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD" -j"$(nproc)"
ctest --test-dir "$BUILD" --output-on-failure -j"$(nproc)" "$@"
