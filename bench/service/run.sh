#!/usr/bin/env bash
# Service benchmark: builds an owner-name index of COUNT names (once per COUNT, kept in
# WORKDIR, the same generator as bench/search), starts quarnbackendd on it with 2
# workers, and drives it with wrk at 1, 2, 8 and 32 connections for a selective and a
# medium query (requests per second, latency percentiles, the server's own p50 from its
# access log and its CPU time per request), then 32 connections of both at once (24 selective, 8 medium). Beside
# it: the same two queries as one quarnsearch process each (median and p99 of RUNS
# runs) and, unless NO_PG is set, in PostgreSQL pg_trgm within one psql session
# (bench/service/pg_compare.sh). Results are appended to
# bench/service/results/<date>.txt and printed, with the load average of the machine.
#
#   bench/service/run.sh [COUNT [WORKDIR [SECONDS]]]   defaults: 10000000, /tmp/quarn-bench-search, 10
#
# BUILD_DIR (default build) names the release build directory to use; BIN_DIR (default
# BUILD_DIR/bin) the programs measured, so that an older build can be measured against
# the same index; RUNS (default 50) the quarnsearch processes per query.
set -euo pipefail
cd "$(dirname "$0")/../.."
count=${1:-10000000}
work=${2:-/tmp/quarn-bench-search}/$count
seconds=${3:-10}
build=${BUILD_DIR:-build}
bin=${BIN_DIR:-$build/bin}
runs=${RUNS:-50}
port=18431
out=bench/service/results/$(date +%Y-%m-%d).txt

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" bench_make_names quarnbackendd quarnsearch >/dev/null
mkdir -p "$work"
if [ ! -s "$work/names.idx" ]; then
  echo "== building the index of $count names in $work" >&2
  "$build"/bin/bench_make_names "$count" "$work"
fi
cat "$work/names.idx" >/dev/null

"$bin"/quarnbackendd --rrnames "$work/names.idx" --port "$port" --workers 2 \
  --max-limit 100000 2>"$work/service.log" &
pid=$!
trap 'kill -TERM $pid 2>/dev/null; wait $pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do grep -q Listening "$work/service.log" && break; sleep 0.1; done

base="http://127.0.0.1:$port/v1/search?search_method=regex&search_what=rrnames&return_what=details&rrtype=any"
declare -A values=([selective]=account-verify [medium]=shop)
declare -A limits=([selective]=100 [medium]=100000)
url_of() { echo "$base&limit=${limits[$1]}&value=${values[$1]}"; }

# The server's median request time (ms, from the access log) since line $1 of the log,
# and the CPU time it used per request since it had used $2 ticks: on a machine shared
# with other work, the CPU time is the steadier measure of what a request costs.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
server_p50() {
  local ticks=$(($(cpu_ticks) - $2)) hz
  hz=$(getconf CLK_TCK)
  tail -n +"$1" "$work/service.log" | sed -n 's/.* ms=\([0-9.]*\) .*/\1/p' | sort -g |
    awk -v t="$ticks" -v hz="$hz" '{v[NR]=$1} END {if (NR) printf "%.2f ms (%d requests), CPU %.3f ms per request\n", v[int((NR+1)/2)], NR, t * 1000 / hz / NR}'
}
wrk_run() {  # connections url
  wrk -t "$(( $1 < 2 ? 1 : 2 ))" -c "$1" -d "${seconds}s" --latency "$2" |
    grep -E "Requests/sec|Transfer/sec| 50% | 99% |Non-2xx|Socket errors" | sed 's/^/     /'
}
# Median and p99 (ms) of RUNS whole quarnsearch processes.
cli_times() {
  local t0 i
  for ((i = 0; i < runs; i++)); do
    t0=$EPOCHREALTIME
    "$bin"/quarnsearch -l "$work/names.idx" -j -L "$2" -s "$1" >/dev/null 2>&1
    awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN{printf "%.3f\n", (b-a)*1000}'
  done | sort -g | awk '{v[NR]=$1} END {printf "p50 %.2f ms, p99 %.2f ms\n", v[int((NR+1)/2)], v[int(NR*0.99+0.999)]}'
}

{
  echo "== quarnbackendd ($bin) on $count names, 2 workers, $(nproc) cores, $(date -u +%FT%TZ)"
  echo "   load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
  for name in selective medium; do
    url=$(url_of $name)
    lines=$(curl -s "$url" | wc -l)
    bytes=$(curl -s "$url" | wc -c)
    echo "-- $name: $((lines - 1)) result lines, $bytes bytes per answer"
    for c in 1 2 8 32; do
      from=$(($(wc -l <"$work/service.log") + 1))
      ticks=$(cpu_ticks)
      echo "   connections $c:"
      wrk_run "$c" "$url"
      echo "     server p50: $(server_p50 "$from" "$ticks")"
    done
  done
  echo "-- mixed: 24 selective and 8 medium connections at once"
  wrk_run 8 "$(url_of medium)" >"$work/mixed-medium.txt" &
  mixed=$!
  wrk_run 24 "$(url_of selective)" | sed 's/^     /     selective /'
  wait $mixed
  sed 's/^     /     medium /' "$work/mixed-medium.txt"
  echo "-- quarnsearch -j, one process per query ($runs runs)"
  echo "   selective: $(cli_times account-verify 100)"
  echo "   medium: $(cli_times shop 100000)"
  if [ -z "${NO_PG:-}" ]; then
    echo "-- PostgreSQL pg_trgm, one session"
    bench/service/pg_compare.sh "$work/names.txt" account-verify shop | sed 's/^/   /'
  fi
  echo "   load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
} | tee -a "$out"
