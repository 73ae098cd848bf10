#!/usr/bin/env bash
# Checks that every file a document names exists in the tree, so that a file moved or removed
# without its description fails the plain test stage (ctest -L docs).
#   scripts/check-doc-paths.sh DOCUMENT...
# Named files are the words that end like the kit's files (.h, .cpp, .cmake, .sh, .md, .1,
# .7, CMakeLists.txt) and the paths in backticks (`engine/tests/`, `tools/screenshot`); a
# path with a slash must exist as written, from the top of the tree, a bare file name
# somewhere in it; a * or a <placeholder> in one stands for any part of a name. Build directories, URLs, environment paths ($WINDIR/...) and absolute
# paths are not the tree's and are left out.
set -euo pipefail
cd "$(dirname "$0")/.."

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  files=$(git ls-files --cached --others --exclude-standard)
else
  files=$(find . -path './build*' -prune -o -type f -print | sed 's|^\./||')
fi
# Every file, and every folder above one with its slash.
known=$(printf '%s\n' "$files" |
  awk -F/ '{ print; p = ""; for (i = 1; i < NF; i++) { p = p $i "/"; print p } }' | sort -u)
basenames=$(printf '%s\n' "$files" | sed 's|.*/||' | sort -u)

failed=0
for doc in "$@"; do
  [[ -f $doc ]] || { echo "$doc: no such document" >&2; exit 2; }
  named=$(
    grep -oE '(^|[^[:alnum:]_./-])(\./)?[[:alpha:]_][[:alnum:]_./-]*\.(h|cpp|cmake|sh|md|1|7)\b|CMakeLists\.txt' "$doc" |
      sed -E 's|^[^[:alpha:]_.]||'
    # shellcheck disable=SC2016 # backticks, not an expansion
    grep -oE '`[^` ]+`' "$doc" | tr -d '`' | grep '/' || true
  )
  while read -r name; do
    [[ -n $name ]] || continue
    case $name in
    build* | /* | '$'* | *://* | ~*) continue ;;
    esac
    name=${name%[.,;:]}
    name=${name#./}
    # As a pattern of whole lines: a * or a <placeholder> stands for any part of one name.
    pattern=$(sed -E 's/<[^>/]*>/*/g; s/[][\.^$+?(){}|]/\\&/g; s/\*/[^\/]*/g' <<<"${name%/}")
    if [[ $name == */* ]]; then
      grep -qxE -- "$pattern/?" <<<"$known" && continue
    else
      grep -qxE -- "$pattern" <<<"$basenames" && continue
    fi
    echo "$doc: names $name, which is not in the tree" >&2
    failed=1
  done < <(sort -u <<<"$named")
done
exit $failed
