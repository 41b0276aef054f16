#!/usr/bin/env bash
# Profiles behind the comparison report's findings: where a whole quarnsearch process
# spends its time for one query of each class, and where gramforge spends it.
#
#   bench/compare/profile.sh [COUNT]     default 10000000; needs WORK/COUNT from run.sh
#
# Writes RESULTS/profile-{selective,medium,broad}-COUNT.txt and
# RESULTS/profile-gramforge-1000000.txt (perf report, self time per symbol).
set -euo pipefail
cd "$(dirname "$0")/../.."
count=${1:-10000000}
work=${WORK:-/tmp/quarn-compare}
build=${BUILD_DIR:-build}
results=${RESULTS:-bench/compare/results}
bin=$PWD/$build/bin
idx=$work/$count/names.idx
[ -s "$idx" ] || { echo "profile: $idx missing: run bench/compare/run.sh $count first" >&2; exit 1; }
command -v perf >/dev/null || { echo "profile: perf is not installed" >&2; exit 1; }
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT

report() {  # perf data file, output file, title
  { echo "# $3"; echo
    # head closes the pipe early; that is not a failure.
    perf report -i "$1" --comm "$4" --no-children --sort dso,sym --stdio 2>/dev/null |
      grep -E '^ +[0-9]' | head -40 || true
  } >"$2"
}
profile_search() {  # class, repeats, quarnsearch arguments...
  local cls=$1 n=$2; shift 2
  perf record -q -F 10000 -g -o "$data/$cls.data" -- bash -c \
    'for ((i = 0; i < '"$n"'; i++)); do "$@" >/dev/null 2>&1; done' _ "$bin/quarnsearch" "$@"
  report "$data/$cls.data" "$results/profile-$cls-$count.txt" \
    "quarnsearch $* (whole processes, $n runs), self time" quarnsearch
}
profile_search selective 30 -l "$idx" -L -1 -s 'paypal-secure'
profile_search medium 5 -l "$idx" -L -1 -s '^www\.'
profile_search broad 1 -l "$idx" -L -1 -s '[0-9]{3}'

corpus=$work/1000000/corpus.json
if [ -s "$corpus" ]; then
  perf record -q -F 1000 -g -o "$data/gf.data" -- \
    "$bin/gramforge" -q --force -m 256 -o "$data/rr.idx" "$corpus" >/dev/null 2>&1
  report "$data/gf.data" "$results/profile-gramforge-1000000.txt" \
    "gramforge -m 256 -o rr.idx corpus.json (1,000,000 names), self time" gramforge
fi
echo "profile: written to $results" >&2
