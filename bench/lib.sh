# Shared by the benchmark scripts (sourced, not run): rounds, the busy-machine check, medians,
# ratios, and the result lines that bench/run-all.sh gathers into one table.
#   ROUNDS     rounds per benchmark (default 3, at least 1)
#   LOAD_LIMIT the 1-minute load average above which the machine counts as busy (default 0.5)

ROUNDS=${ROUNDS:-3}
LOAD_LIMIT=${LOAD_LIMIT:-0.5}
[[ $ROUNDS =~ ^[0-9]+$ ]] && ((ROUNDS >= 1 && ROUNDS <= 50)) ||
  { echo "ROUNDS must be 1..50" >&2; exit 2; }
BUSY=0

# Looks at the load before anything runs. On a busy machine every figure still prints, but
# no ratio does: each ratio reads "void".
# bench/run-all.sh looks once, before the first benchmark, and hands its finding on in
# BENCH_BUSY: the benchmarks' own load must not count against the ones that follow.
bench_check_load() {
  if [[ -n ${BENCH_BUSY:-} ]]; then
    BUSY=$BENCH_BUSY
    ((BUSY)) && echo "MACHINE BUSY at the start of the run: the figures below are void"
    return 0
  fi
  local load
  read -r load _ < /proc/loadavg
  if awk -v l="$load" -v m="$LOAD_LIMIT" 'BEGIN { exit !(l > m) }'; then
    BUSY=1
    echo "MACHINE BUSY: 1-minute load average $load > $LOAD_LIMIT at the start;" \
      "the figures below are void and no ratio is given"
  else
    echo "load average at the start: $load (limit $LOAD_LIMIT)"
  fi
}

# A figure of many clients that is far below its scaling: the figure at the first count of
# clients times the clients this machine runs at once (no more than its CPUs), and SUSPECT_SHARE
# (0.5) of that. On 2 CPUs a peer's figure at 2 to 8 clients is suspect below its 1-client
# figure: something beside it took the machine, or the peer stalled. Prints " !" then, else
# nothing; bench_suspect_note says what the mark means.
SUSPECT_SHARE=0.5
bench_suspect() { # figure first-figure first-clients clients
  awk -v v="$1" -v f="$2" -v a="$3" -v n="$4" -v c="$(nproc)" -v s="$SUSPECT_SHARE" 'BEGIN {
    ca = a < c ? a : c; cn = n < c ? n : c
    if (v < s * f * cn / ca) print " !" }'
}
bench_suspect_note() {
  echo "! suspect: below $SUSPECT_SHARE x the figure at the fewest clients x the clients" \
    "this machine runs at once (at most $(nproc), its CPUs); the figure and its ratio may be void"
}

# The median of the numbers on standard input, one a line.
bench_median() {
  sort -g | awk '{ v[NR] = $1 } END {
    if (NR == 0) print "0"; else if (NR % 2) print v[(NR + 1) / 2];
    else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# ours / peer with two decimals, or "void" on a busy machine or without a peer figure.
bench_ratio() {
  if ((BUSY)); then
    echo void
  else
    awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f\n", a / b; else print "void" }'
  fi
}

# For bench/run-all.sh, when it names a file in BENCH_RESULTS: one tab-separated line of
# benchmark, case, our median, the peer's median, the unit, the peer, the ratio, the target.
bench_result() { # bench case ours peer unit peer-name target
  [[ -n ${BENCH_RESULTS:-} ]] || return 0
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$4" "$5" "$6" \
    "$(bench_ratio "$3" "$4")" "$7" >> "$BENCH_RESULTS"
}

# Sets PORT to a base port P such that P .. P+count-1 are used by nothing on this host (ports
# of a loopback LAN of the benchmark's own); exits when none is found.
bench_free_ports() { # count
  local count=$1 p i taken
  PORT=""
  for _ in $(seq 200); do
    p=$((20000 + count * (RANDOM % (20000 / count))))
    taken=$(ss -Hlnut | awk '{ print $5 }')
    for ((i = 0; i < count; i++)); do
      grep -q ":$((p + i))\$" <<< "$taken" && continue 2
    done
    PORT=$p
    return
  done
  echo "no free loopback ports" >&2
  exit 1
}

# Runs a console station in dir with the provider on address, the loopback broadcast and the
# ports PORT (names) and PORT+1 (sessions), its compatibility log under dir.
bench_station() { # address dir args...
  local address=$1 dir=$2
  shift 2
  (cd "$dir" && unset NETBIOS_LMHOSTS NETBIOS_WINS &&
    export NETBIOS_LANAS="$address" NETBIOS_BROADCAST=127.255.255.255 \
      NETBIOS_NAME_PORT="$PORT" NETBIOS_SESSION_PORT=$((PORT + 1)) WINDIR="$dir" && "$@")
}

# The engine's I/O modes by their number (0-8).
NAMES=("Sequential Read" "Sequential Write" "Sequential R & W" "Random Read" "Random Write"
       "Random R & W" "Overlay Read" "Overlay Write" "Overlay R & W")
