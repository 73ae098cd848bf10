#!/usr/bin/env bash
# Runs every fuzz target for a bounded time, starting from its committed seed corpus, and fails
# on any finding (crash, leak, sanitizer report, time-out). The inputs it finds go to a
# scratch corpus, never into the committed seeds; a finding is kept in BUILD/fuzz-findings.
#   fuzz/run.sh BUILD_DIR [SECONDS_PER_TARGET]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: fuzz/run.sh BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-60}

# target binary (under BUILD/fuzz), its seeds (under fuzz/) and options of its own
targets=(
  "copystress/fuzz_vor32_cmdline copystress/seeds/cmdline"
  "netbios/fuzz_netbios_namepacket netbios/seeds/namepacket"
  "netbios/fuzz_netbios_session netbios/seeds/session"
  "frontend/fuzz_frontend_fields frontend/seeds/fields"
  "engine/fuzz_session_receiver engine/seeds/session_receiver -max_len=66000"
  "cli/fuzz_cli_compatlog cli/seeds/compatlog"
  "cli/fuzz_cli_url cli/seeds/url"
)

# Undefined behaviour is a finding too, in every target, whatever it was compiled with.
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
findings=$build/fuzz-findings
mkdir -p "$findings"
failed=0
for entry in "${targets[@]}"; do
  read -r binary seeds options <<<"$entry"
  name=$(basename "$binary")
  if [[ ! -d $root/fuzz/$(dirname "$binary") ]]; then
    continue # that part has no fuzz target yet
  fi
  if [[ ! -x $build/fuzz/$binary ]]; then
    echo "fuzz: $name was not built" >&2
    failed=1
    continue
  fi
  mkdir -p "$work/$name"
  log=$build/fuzz-$name.log
  start=$SECONDS
  if "$build/fuzz/$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$findings/$name-" ${options:-} \
      "$work/$name" "$root/fuzz/$seeds" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz: $name: ${runs:-?} runs in $((SECONDS - start)) s, no finding"
  else
    echo "fuzz: $name: FINDING (log $log, input in $findings)" >&2
    grep -E -A25 'ERROR|runtime error|deadly signal|SUMMARY' "$log" | head -60 >&2 || tail -40 "$log" >&2
    failed=1
  fi
done
exit $failed
