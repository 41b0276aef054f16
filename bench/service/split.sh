#!/usr/bin/env bash
# Split-search benchmark: broad searches with no limit through quarnbackendd with 2
# workers, once with splitting on (the default) and once with --split-workers 1, over
# the same owner-name index. For each expression: result lines and bytes, a check that
# both answers are byte-identical, and the median wall time of RUNS requests each (the
# request to the fin line, the answer read by curl into /dev/null), the speed-up, and the
# server's CPU time per request. Results are appended to
# bench/service/results/<date>.txt and printed, with the load average of the machine.
#
#   bench/service/split.sh [INDEX [RUNS]]   defaults: /tmp/quarn-bench-scan/10000000/names.tgdb, 3
#
# BUILD_DIR (default build) names the release build directory to use. The index is only
# read (build one with bench/search/scan.sh 10000000).
set -euo pipefail
cd "$(dirname "$0")/../.."
index=${1:-/tmp/quarn-bench-scan/10000000/names.tgdb}
runs=${2:-3}
build=${BUILD_DIR:-build}
work=$(mktemp -d)
out=bench/service/results/$(date +%Y-%m-%d).txt
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" quarnbackendd >/dev/null
cat "$index" >/dev/null  # warm the page cache

declare -A port=([on]=18441 [off]=18442)
declare -A flags=([on]="" [off]="--split-workers 1")
pids=()
cleanup() { for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null; wait "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
for mode in on off; do
  # shellcheck disable=SC2086
  "$build"/bin/quarnbackendd --rrnames "$index" --port "${port[$mode]}" --workers 2 \
    --max-limit 1000000000 --timeout 60 ${flags[$mode]} 2>"$work/$mode.log" &
  pids+=($!)
done
for mode in on off; do
  for _ in $(seq 100); do grep -q Listening "$work/$mode.log" && break; sleep 0.1; done
done

url_of() {  # mode expression (URL-encoded)
  echo "http://127.0.0.1:${port[$1]}/v1/search?search_method=regex&search_what=rrnames&return_what=details&rrtype=any&limit=1000000000&value=$2"
}
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# Median wall seconds of RUNS requests, then the server's CPU seconds per request.
timed() {  # mode expression
  local pid=$3 t0 ticks i
  ticks=$(cpu_ticks "$pid")
  for ((i = 0; i < runs; i++)); do
    t0=$EPOCHREALTIME
    curl -s -o /dev/null "$(url_of "$1" "$2")"
    awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN{printf "%.3f\n", b-a}'
  done | sort -g | awk -v n="$runs" '{v[NR]=$1} END {printf "%s", v[int((n+1)/2)]}'
  awk -v t="$(($(cpu_ticks "$pid") - ticks))" -v hz="$(getconf CLK_TCK)" -v n="$runs" \
    'BEGIN{printf " %.3f", t / hz / n}'
}

{
  echo "== split searches ($build/bin/quarnbackendd) on $index, 2 workers, $(nproc) cores, $(date -u +%FT%TZ)"
  echo "   load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "| expression | kind | result lines | bytes | identical | split on: wall, CPU per request | split off | speed-up |"
  echo "|---|---|---|---|---|---|---|---|"
  # URL-encoded: a table scan that finds almost nothing, one through the block matcher
  # that finds half the names, a scan of every key, a union of three trigram lists.
  for expr in 'z%5B0-9%5D' '%5B0-9%5D' '.' 'www%7Cmail%7Capi'; do
    kind=$(curl -s "$(url_of on "$expr" | sed 's,/v1/search,/v1/explain,')" | grep -q '"table_scan":true' && echo scan || echo query)
    curl -s "$(url_of on "$expr")" >"$work/on.txt"
    curl -s "$(url_of off "$expr")" >"$work/off.txt"
    same=$(cmp -s "$work/on.txt" "$work/off.txt" && echo yes || echo NO)
    lines=$(($(wc -l <"$work/on.txt") - 1))
    bytes=$(wc -c <"$work/on.txt")
    read -r on_wall on_cpu <<<"$(timed on "$expr" "${pids[0]}")"
    read -r off_wall off_cpu <<<"$(timed off "$expr" "${pids[1]}")"
    speed=$(awk -v a="$off_wall" -v b="$on_wall" 'BEGIN{printf "%.2f", a / b}')
    echo "| \`$(printf '%b' "${expr//%/\\x}")\` | $kind | $lines | $bytes | $same | $on_wall s, $on_cpu s | $off_wall s, $off_cpu s | ${speed}x |"
  done
  echo "   load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
} | tee -a "$out"
