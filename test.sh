#!/usr/bin/env bash
# Sets up the machine (the Debian packages of scripts/deps.sh's run and test lists, and its
# package list for the package stage), builds the whole kit and runs every test; then, in
# build directories of their own, the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the provider's threaded tests under ThreadSanitizer, and every
# fuzz target (clang, libFuzzer) for a bounded time, and the lint stage: formatting, a clang
# build of everything with warnings as errors, and clang-tidy. Any sanitizer report, from a
# test or from any program a test starts, fails the run. The package stage builds the Debian
# packages, checks them with lintian and installs them in a fresh Debian 12 root.
#   ./test.sh [ctest arguments]      arguments go to the plain and the sanitizer runs
#   ZEB_STAGES="plain asan tsan fuzz lint package" (the default) picks the stages;
#   FUZZ_SECONDS=30 per target
set -euo pipefail
cd "$(dirname "$0")"
BUILD=${BUILD_DIR:-build}
STAGES=" ${ZEB_STAGES:-plain asan tsan fuzz lint package} "
JOBS=$(nproc)
# What building needs and what the tests need; the package stage's tools only for that stage.
lists=(run test)
if [[ $STAGES == *" package "* ]]; then lists+=(package); fi
bash scripts/deps.sh "${lists[@]}"

build() {
  local dir=$1
  shift
  # The tests always, whatever a directory's cache says.
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON "$@" \
    >/dev/null
  cmake --build "$dir" -j"$JOBS"
}

# ctest with every sanitizer report written to a file of its own and a distinct exit status;
# a report from a child process whose status no test looks at still fails the stage.
sanitized_ctest() {
  local dir=$1
  shift
  local reports=$PWD/$dir/sanitizer-reports
  rm -rf "$reports"
  mkdir -p "$reports"
  local common="halt_on_error=1:exitcode=86:log_path=$reports/report"
  local status=0
  ASAN_OPTIONS="$common:detect_leaks=1:check_initialization_order=1:strict_init_order=1" \
    LSAN_OPTIONS="suppressions=$PWD/scripts/lsan-suppressions.txt:print_suppressions=0" \
    UBSAN_OPTIONS="$common:print_stacktrace=1" \
    TSAN_OPTIONS="$common:second_deadlock_stack=1" \
    ctest --test-dir "$dir" --output-on-failure -j"$JOBS" "$@" || status=$?
  if compgen -G "$reports/report*" >/dev/null; then
    echo "Sanitizer reports from $dir:" >&2
    cat "$reports"/report* >&2
    status=1
  fi
  return $status
}

if [[ $STAGES == *" plain "* ]]; then
  build "$BUILD"
  ctest --test-dir "$BUILD" --output-on-failure -j"$JOBS" "$@"
fi
if [[ $STAGES == *" asan "* ]]; then
  build "$BUILD-asan" -DZEB_SANITIZE=address,undefined
  sanitized_ctest "$BUILD-asan" "$@"
fi
if [[ $STAGES == *" tsan "* ]]; then
  build "$BUILD-tsan" -DZEB_SANITIZE=thread
  sanitized_ctest "$BUILD-tsan" -L netbios "$@"
fi
if [[ $STAGES == *" fuzz "* ]]; then
  cmake -S . -B "$BUILD-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build "$BUILD-fuzz" -j"$JOBS" --target fuzz_all
  fuzz/run.sh "$BUILD-fuzz" "${FUZZ_SECONDS:-30}"
fi
# The lint stage takes about 6 minutes on 2 cores once build-clang/ is built (clang-tidy is
# most of it); a first clang build adds about 9.
if [[ $STAGES == *" lint "* ]]; then
  # Every C and C++ file of the tree as .clang-format has it.
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z '*.c' '*.cc' '*.cpp' '*.h' '*.hpp'
  else
    find . -path './build*' -prune -o -regex '.*\.\(c\|cc\|cpp\|h\|hpp\)' -print0
  fi | xargs -0 clang-format --dry-run -Werror
  # A plain clang build beside g++'s, tests included, every warning an error; its
  # compile_commands.json then gives clang-tidy the flags of every one of our sources
  # (generated sources under the build directory are not ours and are left out).
  build "$BUILD-clang" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
  parts="bench|cli|common|copystress|deploy|engine|fileaccess|frontend|fuzz|netbios|tools"
  run-clang-tidy -p "$BUILD-clang" -quiet -j"$JOBS" "^$PWD/($parts)/.*\.(c|cc|cpp)\$" \
    >"$BUILD-clang/clang-tidy.log" 2>&1 || {
    grep -E 'warning:|error:' -A3 "$BUILD-clang/clang-tidy.log" >&2
    echo "clang-tidy found the above (whole output in $BUILD-clang/clang-tidy.log)" >&2
    exit 1
  }
fi
# The package stage: the packages built with dpkg-buildpackage (ccache keeps a rebuild
# short), lintian with no error or warning, then installed with apt-get in a debootstrapped
# Debian 12 root where the programs and their manual pages run (skipped with the reason
# without root or without the mirror). See packaging/tests/installed-test.sh.
if [[ $STAGES == *" package "* ]]; then
  packaging/tests/installed-test.sh "$BUILD-package"
fi
