#!/usr/bin/env bash
# Sets up the machine (scripts/deps.sh's run list only), builds the kit's programs without the
# tests (in build-run/, so that a test build is never disturbed) and runs its main job: on a
# desktop the control dialog zebwin; without a display a short file I/O sweep through the
# console runner zebcli, its results kept in a folder of their own under results/.
#   ./run.sh [zebcli fileio options] [PATH]
# The options given replace the defaults of the same name; a PATH replaces the default test
# file (a temporary one). Results files named with a relative path land in the results
# folder; a relative test file or authentication file is taken from the current directory.
#   RUN_BUILD_DIR (build-run), RESULTS_DIR (results): where the build and the results go.
# Exit status: zebcli's (0, 1, 2, 64; the closing lines say which and what it means), 128 + N
# when a signal N ended zebcli, and 69 when the machine could not be set up or the kit not
# built (nothing ran). On a desktop, zebwin's own (see zebwin(1)).
set -euo pipefail
CALLER=$PWD
cd "$(dirname "$0")"
BUILD=${RUN_BUILD_DIR:-build-run}
RESULTS=${RESULTS_DIR:-results}

# The sweep's defaults, each replaced by the user's option of the same name.
DEFAULTS=(
  --from 4096 --to 32000 --inc 4096 --iterations 200 --mode "Random R & W"
  --save --json summary.json --csv sweep.csv --plot sweep.svg
  # The HTML report joins here once zebcli writes one.
)

setup_failed() {
  echo "run.sh: $1 failed (exit status $2); nothing ran. Exit status 69." >&2
  exit 69
}
status=0
bash scripts/deps.sh run || setup_failed "installing the packages (scripts/deps.sh run)" $?
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
  >/dev/null || setup_failed "configuring the build in $BUILD/" $?
cmake --build "$BUILD" -j"$(nproc)" || setup_failed "building the kit in $BUILD/" $?
if [[ -n ${DISPLAY:-} && -x $BUILD/frontend/zebwin ]]; then
  exec "$BUILD/frontend/zebwin" "$@"
fi
ZEBCLI=$(realpath "$BUILD/cli/zebcli")
HELP=$("$ZEBCLI" fileio --help) || setup_failed "zebcli fileio --help" $?

# The options of zebcli fileio that take a value, as its help lists them ("--from N").
declare -A TAKES_VALUE=()
while read -r name; do
  TAKES_VALUE[$name]=1
done < <(sed -nE 's/^ +(-[[:alnum:]],)?(--[[:alnum:]-]+) [A-Z]+( .*)?$/\2/p' <<<"$HELP")
# For a default: every name of its option ("-q,--quiet" gives both).
declare -A SAME_OPTION=()
while read -r short long; do
  SAME_OPTION[$short]=$long
done < <(sed -nE 's/^ +(-[[:alnum:]]),(--[[:alnum:]-]+).*/\1 \2/p' <<<"$HELP")

absolute() { # a path as the user meant it: relative to where run.sh was started
  if [[ $1 == /* || $1 == *://* ]]; then printf '%s' "$1"; else printf '%s' "$CALLER/$1"; fi
}

# The user's arguments: which options they name, and which words are test files.
declare -A GIVEN=()
USER_ARGS=()
path_given=0
options_end=0
for ((i = 1; i <= $#; i++)); do
  word=${!i}
  if ((options_end)) || [[ $word != -* || $word == - ]]; then
    USER_ARGS+=("$(absolute "$word")")
    path_given=1
    continue
  fi
  case $word in
  --)
    options_end=1
    USER_ARGS+=("$word")
    ;;
  -h | --help)
    printf '%s\n' "$HELP"
    exit 0
    ;;
  --*=*)
    name=${word%%=*} value=${word#*=}
    GIVEN[$name]=1
    [[ $name == --authentication-file ]] && value=$(absolute "$value")
    USER_ARGS+=("$name=$value")
    ;;
  *)
    name=${SAME_OPTION[$word]:-$word}
    GIVEN[$name]=1
    USER_ARGS+=("$word")
    if [[ -n ${TAKES_VALUE[$name]:-} ]] && ((i < $#)); then
      ((++i))
      value=${!i}
      [[ $name == --authentication-file ]] && value=$(absolute "$value")
      USER_ARGS+=("$value")
    fi
    ;;
  esac
done

ARGS=()
for ((i = 0; i < ${#DEFAULTS[@]}; i++)); do
  name=${DEFAULTS[i]}
  if [[ -n ${TAKES_VALUE[$name]:-} ]]; then
    value=${DEFAULTS[++i]}
    [[ -n ${GIVEN[$name]:-} ]] || ARGS+=("$name" "$value")
  elif [[ -z ${GIVEN[$name]:-} ]]; then
    ARGS+=("$name")
  fi
done

if ((!path_given)); then
  SCRATCH=$(mktemp -d)
  trap 'rm -rf "$SCRATCH"' EXIT
  ARGS+=("$SCRATCH/TESTFILE.TST")
fi

# One folder per run, named by its start; a second run in the same second gets a suffix.
mkdir -p "$RESULTS"
stamp=$(date +%Y%m%d-%H%M%S)
OUT=$(realpath "$RESULTS")/$stamp
for ((n = 2; ; n++)); do
  mkdir "$OUT" 2>/dev/null && break
  [[ -e $OUT ]] || setup_failed "making the results folder $OUT" 1
  OUT=$(realpath "$RESULTS")/$stamp-$n
done

if ((path_given)); then
  echo "No display: a file I/O sweep through zebcli, results in $OUT/"
else
  echo "No display: a file I/O sweep through zebcli on $SCRATCH/TESTFILE.TST, results in $OUT/"
fi
(cd "$OUT" && exec "$ZEBCLI" fileio "${ARGS[@]}" "${USER_ARGS[@]}") || status=$?

# What each status means, as zebcli's help states it.
statuses=$(sed -n '/^Exit status:/,$p' <<<"$HELP" | tr '\n' ' ')
meaning=$(grep -oE "[:;] $status [^;]*" <<<"$statuses" | head -1 | sed -E 's/^[:;] [0-9]+ //; s/\. See .*//')
if ((status > 128)); then
  meaning="zebcli was ended by signal $((status - 128))"
fi
echo "---"
if [[ -z $(ls -A "$OUT") ]]; then
  rmdir "$OUT"
  echo "No results were written."
else
  echo "Results in $OUT/:"
  for file in "$OUT"/*; do
    echo "  $(basename "$file")"
  done
fi
echo "Exit status $status: ${meaning:-see zebcli(1)}."
statuses=${statuses#Exit status: }
echo "zebcli's exit statuses: ${statuses% See *}"
exit "$status"
