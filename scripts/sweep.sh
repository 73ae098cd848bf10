#!/usr/bin/env bash
# The main job of ./run.sh without a display: a short file I/O sweep through zebcli, its
# results kept in a folder of their own.
#   scripts/sweep.sh ZEBCLI [zebcli fileio options] [PATH]
# The sweep's defaults are below; an option given replaces the default of the same name, a
# PATH the default test file (in a temporary directory, removed at the end). A relative test
# file or authentication file is taken from the current directory; results files (report.txt,
# --json, --csv, --plot, --report) named with a relative path land in the results folder,
# RESULTS_DIR/YYYYmmdd-HHMMSS/ (RESULTS_DIR: results/ at the top of the tree), which the
# closing lines name. Exits with zebcli's status, which the closing lines explain as zebcli's
# help does; 128 + N when signal N ended zebcli; 69 when the results folder cannot be made.
set -euo pipefail
ZEBCLI=$1
shift
RESULTS=${RESULTS_DIR:-$(dirname "$(realpath "$0")")/../results}

DEFAULTS=(
  --from 4096 --to 32000 --inc 4096 --iterations 200 --mode "Random R & W"
  --save --json summary.json --csv sweep.csv --plot sweep.svg --report report.html
)

HELP=$("$ZEBCLI" fileio --help)
# The options of zebcli fileio that take a value, as its help lists them ("--from N"), and
# the long name of each option with a short one ("-q,--quiet").
declare -A TAKES_VALUE=() LONG_NAME=()
while read -r name; do
  TAKES_VALUE[$name]=1
done < <(sed -nE 's/^ +(-[[:alnum:]],)?(--[[:alnum:]-]+) [A-Z]+( .*)?$/\2/p' <<<"$HELP")
while read -r short long; do
  LONG_NAME[$short]=$long
done < <(sed -nE 's/^ +(-[[:alnum:]]),(--[[:alnum:]-]+).*/\1 \2/p' <<<"$HELP")

absolute() { # an input as the user meant it: relative to the current directory
  if [[ $1 == /* || $1 == *://* ]]; then printf '%s' "$1"; else printf '%s' "$PWD/$1"; fi
}

# The user's arguments: the options they name, and whether they give a test file.
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
    shown=()
    for default in "${DEFAULTS[@]}"; do
      [[ $default != *' '* ]] || default="\"$default\""
      shown+=("$default")
    done
    echo "A file I/O sweep through zebcli fileio with these defaults, each replaced by an option"
    echo "of the same name: ${shown[*]} and a temporary test file. Results in $RESULTS/."
    echo
    printf '%s\n' "$HELP"
    exit 0
    ;;
  --*=*)
    name=${word%%=*}
    value=${word#*=}
    GIVEN[$name]=1
    [[ $name != --authentication-file ]] || value=$(absolute "$value")
    USER_ARGS+=("$name=$value")
    ;;
  *)
    name=${LONG_NAME[$word]:-$word}
    GIVEN[$name]=1
    USER_ARGS+=("$word")
    if [[ -n ${TAKES_VALUE[$name]:-} ]] && ((i < $#)); then
      ((++i))
      value=${!i}
      [[ $name != --authentication-file ]] || value=$(absolute "$value")
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
mkdir -p "$RESULTS" || exit 69
RESULTS=$(realpath "$RESULTS")
stamp=$(date +%Y%m%d-%H%M%S)
OUT=$RESULTS/$stamp
for ((n = 2; ; n++)); do
  mkdir "$OUT" 2>/dev/null && break
  if [[ ! -d $OUT ]]; then
    echo "sweep.sh: cannot make the results folder $OUT" >&2
    exit 69
  fi
  OUT=$RESULTS/$stamp-$n
done

echo "A file I/O sweep through zebcli${SCRATCH:+ on $SCRATCH/TESTFILE.TST}, results in $OUT/"
status=0
(cd "$OUT" && exec "$ZEBCLI" fileio "${ARGS[@]}" "${USER_ARGS[@]}") || status=$?

# What the status means, in zebcli's own words ("Exit status: 0 no failure ...; 64 ...").
statuses=$(sed -n '/^Exit status:/,$p' <<<"$HELP" | tr '\n' ' ')
statuses=${statuses#Exit status: }
statuses=${statuses% See *}
meaning=$(grep -oE "(^|; )$status [^;]*" <<<"$statuses" | head -1 | sed -E 's/^(; )?[0-9]+ //')
meaning=${meaning%.}
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
echo "zebcli's exit statuses: $statuses"
exit "$status"
