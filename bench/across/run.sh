#!/usr/bin/env bash
# Answers across daily index files under time filters, and what the lookups in the
# files that the time filter skips cost.
#
# Usage: [BEFORE=/path/to/older/quarnsearch] bench/across/run.sh [count [per_day [repeats]]]
#   (expects a release build in build/; BEFORE is a quarnsearch built from another commit,
#   run beside build/bin/quarnsearch on the same files)
#
# (a) count observations (default 300000) over two days, built into one file and into two
#     daily files; for -A and -B bounds, the number of result lines (-r, every key) that
#     differ between the two layouts.
# (b) 30 daily files of per_day observations each (default 20000); search time (median
#     of repeats searches in one process, default 5) of -A searches that only the last day's file can answer, so
#     29 files are skipped and looked up for every result key.
set -euo pipefail
cd "$(dirname "$0")/../.."
ninja -C build quarnsearch gramforge >/dev/null
count=${1:-300000}
per_day=${2:-20000}
repeats=${3:-5}
work=${TMPDIR:-/tmp}/across-bench
mkdir -p "$work"
gen=bench/across/gen_observations.py
forge=build/bin/gramforge
day0=1717977600
programs=(build/bin/quarnsearch)
[ -n "${BEFORE:-}" ] && programs=("$BEFORE" build/bin/quarnsearch)

build_day() {  # day count names tag
  local f="$work/$4"
  if [ ! -e "$f.rrname" ]; then
    python3 "$gen" "$1" "$2" "$3" 7 >"$f.json"
    "$forge" -q --force -o "$f.rrname" -d "$f.rdata" "$f.json"
  fi
}

echo "== (a) two days, $count observations: result lines differing, 1 file vs 2 daily files"
half=$((count / 2))
build_day 0 "$half" 60000 two-d0
build_day 1 "$half" 60000 two-d1
if [ ! -e "$work/two-all.rrname" ]; then
  "$forge" -q --force -o "$work/two-all.rrname" -d "$work/two-all.rdata" "$work/two-d0.json" "$work/two-d1.json"
fi
for qs in "${programs[@]}"; do
  echo "-- $qs"
  for filter in "-A $((day0 + 86400))" "-A $((day0 + 86400 + 43200))" \
                "-B $((day0 + 86399))" "-B $((day0 + 43200))"; do
    for kind in rrname rdata; do
      # shellcheck disable=SC2086
      "$qs" -l "$work/two-all.$kind" -r -L -1 $filter -s . 2>/dev/null | sort >"$work/one.out"
      # shellcheck disable=SC2086
      "$qs" -l "$work/two-d0.$kind" -l "$work/two-d1.$kind" -r -L -1 $filter -s . \
        2>/dev/null | sort >"$work/two.out"
      printf '%-16s %-7s results %7d  differing %7d\n' "$filter" "$kind" \
        "$(wc -l <"$work/one.out")" "$(comm -3 "$work/one.out" "$work/two.out" | wc -l)"
    done
  done
done

echo "== (b) 30 daily files of $per_day observations: -A the last day, median of $repeats"
for d in $(seq 0 29); do
  build_day "$d" "$per_day" 60000 "d30-$d"
done
last=$((day0 + 29 * 86400))
# One process per case runs the search `repeats` times from standard input; each search's
# own "Total Search Time" (stat log) leaves out loading the 30 files.
source bench/lib.sh
for kind in rrname rdata; do
  lists=()
  for d in $(seq 0 29); do lists+=(-l "$work/d30-$d.$kind"); done
  # every key of the day; a few hundred keys of both kinds; a few dozen
  for expr in . 'dns4[0-9]|z4[0-9]\.' 'h1234[0-9]\.|10\.3\.1[0-9]\.'; do
    for qs in "${programs[@]}"; do
      printf '%-7s %-30s %-40s %s\n' "$kind" "$expr" "$qs" "$(search_times "$qs" "$repeats" "$last" "$work" "$expr" "${lists[@]}")"
    done
  done
done
