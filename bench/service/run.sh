#!/usr/bin/env bash
# Service benchmark: builds an owner-name index of COUNT names (once per COUNT, kept in
# WORKDIR, the same generator as bench/search), starts quarnbackendd on it with 2
# workers, and drives it with wrk at 1, 2, 8 and 32 connections for a selective and a
# medium query: requests per second and latency percentiles. Results are appended to
# bench/service/results/<date>.txt and printed.
#
#   bench/service/run.sh [COUNT [WORKDIR [SECONDS]]]   defaults: 10000000, /tmp/quarn-bench-search, 10
#
# BUILD_DIR (default build) names the release build directory to use.
set -euo pipefail
cd "$(dirname "$0")/../.."
count=${1:-10000000}
work=${2:-/tmp/quarn-bench-search}/$count
seconds=${3:-10}
build=${BUILD_DIR:-build}
port=18431
out=bench/service/results/$(date +%Y-%m-%d).txt

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" bench_make_names quarnbackendd >/dev/null
mkdir -p "$work"
if [ ! -s "$work/names.tgdb" ]; then
  echo "== building the index of $count names in $work" >&2
  "$build"/bin/bench_make_names "$count" "$work"
fi
cat "$work/names.tgdb" >/dev/null

"$build"/bin/quarnbackendd --rrnames "$work/names.tgdb" --port "$port" --workers 2 \
  --max-limit 100000 2>"$work/service.log" &
pid=$!
trap 'kill -TERM $pid 2>/dev/null; wait $pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do grep -q Listening "$work/service.log" && break; sleep 0.1; done

base="http://127.0.0.1:$port/v1/search?search_method=regex&search_what=rrnames&return_what=details&rrtype=any"
declare -A queries=(
  [selective]="$base&limit=100&value=account-verify"
  [medium]="$base&limit=100000&value=shop"
)
{
  echo "== quarnbackendd on $count names, 2 workers, $(nproc) cores, $(date -u +%FT%TZ)"
  for name in selective medium; do
    url=${queries[$name]}
    lines=$(curl -s "$url" | wc -l)
    bytes=$(curl -s "$url" | wc -c)
    echo "-- $name: $((lines - 1)) result lines, $bytes bytes per answer"
    for c in 1 2 8 32; do
      echo "   connections $c:"
      wrk -t "$(( c < 2 ? 1 : 2 ))" -c "$c" -d "${seconds}s" --latency "$url" |
        grep -E "Requests/sec|Transfer/sec|50%|99%|Non-2xx|Socket errors" | sed 's/^/     /'
    done
  done
} | tee -a "$out"
