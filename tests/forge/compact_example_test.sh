#!/usr/bin/env bash
# Runs scripts/compact_example through hourly builds, daily and monthly compactions and
# retention on small generated data: after every step the set files answer exactly as
# one build of all the observations does, the compactions give that build's bytes, and
# retention gives what gramforge --keep-after gives on it.
set -euo pipefail
bin=${QUARN_BIN_DIR:?}
script=${QUARN_SOURCE_DIR:?}/scripts/compact_example
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export COMPACT_GRACE=0 QUARN_LOGLEVEL=failure
fail() { echo "FAIL: $*" >&2; exit 1; }

# observations DAY HOUR (DAY 0 is 2024-06-10): 150 lines, names shared between hours.
observations() {
  awk -v day="$1" -v hour="$2" 'BEGIN {
    for (i = 0; i < 150; i++) {
      t = 1717977600 + day * 86400 + hour * 3600 + (i * 13) % 3600
      printf "{\"rrname\":\"h%d.example.com\",\"rrtype\":\"A\",\"rdata\":\"192.0.2.%d\",", i % 40, (i + hour) % 30
      printf "\"time_first\":%d,\"time_last\":%d,\"count\":%d}\n", t, t + (i % 5) * 600, 1 + i % 4
    }
  }'
}

answers() {  # the raw answers of both set files
  "$bin/quarnsearch" -f "$work/lc/names.set" -r -L -1 -s .
  "$bin/quarnsearch" -f "$work/lc/rdata.set" -r -L -1 -s .
}

: >"$work/all.json"
for day in 0 1; do
  for hour in 0 5 9; do
    observations $day $hour >"$work/obs-$day-$hour.json"
    cat "$work/obs-$day-$hour.json" >>"$work/all.json"
    "$script" hourly "$work/lc" "$work/obs-$day-$hour.json" "2024-06-1${day}T0$hour"
  done
done
"$bin/gramforge" -q -o "$work/ref-n.idx" -d "$work/ref-d.idx" "$work/all.json"
expected=$("$bin/quarnsearch" -l "$work/ref-n.idx" -r -L -1 -s . && "$bin/quarnsearch" -l "$work/ref-d.idx" -r -L -1 -s .)
[[ $(answers) == "$expected" ]] || fail "hourly files answer differently"
[[ $(wc -l <"$work/lc/names.set") == 6 ]] || fail "names.set does not list the six hourly files"

"$script" daily "$work/lc" 2024-06-10
"$script" daily "$work/lc" 2024-06-11
[[ $(answers) == "$expected" ]] || fail "daily files answer differently"
[[ $(cat "$work/lc/names.set") == $'day/2024-06-10-n.idx\nday/2024-06-11-n.idx' ]] || fail "names.set after daily: $(cat "$work/lc/names.set")"
[[ -z $(ls "$work/lc/hour") ]] || fail "hourly files left after the daily compaction"

"$script" monthly "$work/lc" 2024-06
[[ $(answers) == "$expected" ]] || fail "the monthly file answers differently"
[[ $(cat "$work/lc/rdata.set") == month/2024-06-d.idx ]] || fail "rdata.set after monthly"
cmp -s "$work/lc/month/2024-06-n.idx" "$work/ref-n.idx" || fail "monthly owner-name file differs from one build"
cmp -s "$work/lc/month/2024-06-d.idx" "$work/ref-d.idx" || fail "monthly rdata file differs from one build"

# A cut inside the month rebuilds the file with --keep-after.
cut=$(date -u -d "2024-06-11 06:00:00" +%s)
"$script" retain "$work/lc" "2024-06-11 06:00:00"
"$bin/gramforge" -q --keep-after "$cut" -o "$work/kept-n.idx" "$work/ref-n.idx"
cmp -s "$work/lc/month/2024-06-n.idx" "$work/kept-n.idx" || fail "retention differs from --keep-after"

# A cut after the month drops its files and keeps a later hour.
observations 21 0 >"$work/obs-july.json"
"$script" hourly "$work/lc" "$work/obs-july.json" 2024-07-01T00
"$script" retain "$work/lc" 2024-07-01
[[ $(cat "$work/lc/names.set") == hour/2024-07-01T00-n.idx ]] || fail "names.set after retention: $(cat "$work/lc/names.set")"
[[ ! -e $work/lc/month/2024-06-n.idx ]] || fail "the expired monthly file is still there"
echo "compact_example: all steps passed"
