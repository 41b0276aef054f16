#!/usr/bin/env bash
# Record store at scale: what writing it costs gramforge beside the two indexes, how big
# it is beside the rdata index, and how fast lookups are, in-process and over HTTP.
#
#   bench/store/run.sh COUNT WORKDIR
#
# COUNT distinct owner names come from the comparison's corpus generator
# (bench_compare_corpus), kept in WORKDIR/corpus.json and names.txt and reused when
# present. gramforge builds, each under /usr/bin/time -v, the owner-name index alone,
# the rdata index alone, both, and both plus the record store. Lookups pick real keys of
# the corpus: random exact names, the zone whose subtree holds the number of names
# closest to 10,000, the /24 (and its /16 and /8) of the first A value, and the
# name-server value behind the most names. store_bench --open times them in-process;
# then quarnbackendd --records answers the same ones on a free port, timed with curl.
#
# Environment: BUILD_DIR (default build), MEM (gramforge -m for every build, default
# 4096: the store writer holds its distinct values in memory), RESULTS (default
# bench/store/results), KEEP_CORPUS=1 keeps the corpus (indexes and store are always
# removed at the end), SKIP_SINGLE=1 leaves out the builds of one index alone (when
# only the store's cost beside both indexes is wanted and time is short), KEEP_STORE=1
# keeps WORKDIR/store.qrs (to time other readers on the same file), SUFFIX names the
# results file store-COUNT-DATE-SUFFIX.txt. Writes RESULTS/store-COUNT-DATE.txt with the load average beside
# each step: the machine may be shared, so wall times are noisy; CPU times less so.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 COUNT WORKDIR" >&2; exit 2; }
count=$1
work=$2
cd "$(dirname "$0")/../.."
repo=$PWD
build=${BUILD_DIR:-build}
mem=${MEM:-4096}
results=${RESULTS:-$repo/bench/store/results}
export LC_ALL=C
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 gramforge bench_compare_corpus store_bench quarnbackendd >/dev/null
bin=$repo/$build/bin
[ -d "$bin" ] || bin=$build/bin
mkdir -p "$work" "$results"
out=$results/store-$count-$(date -u +%Y-%m-%d)${SUFFIX:+-$SUFFIX}.txt
: >"$out"
say() { echo "$*" | tee -a "$out"; }
load() { cut -d' ' -f1-3 /proc/loadavg; }

server=""
cleanup() {
  [ -z "$server" ] || { kill "$server" 2>/dev/null; wait "$server" 2>/dev/null || true; }
  rm -f "$work"/*.idx "$work"/*.time
  [ "${KEEP_STORE:-0}" = 1 ] || rm -f "$work"/*.qrs
  [ "${KEEP_CORPUS:-0}" = 1 ] || rm -f "$work/corpus.json" "$work/names.txt"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say "# record store benchmark, $count names, $(date -u +%FT%TZ), $(nproc) cores, $(git rev-parse --short HEAD)"
say "# load average (1, 5, 15 min) is given per step: other work shares the machine"
say "# GLIBC_TUNABLES=${GLIBC_TUNABLES:-} MEM=$mem"

# ---- corpus ------------------------------------------------------------------------------
if [ ! -s "$work/corpus.json" ] || [ ! -s "$work/names.txt" ]; then
  /usr/bin/time -f '%e' -o "$work/gen.time" "$bin/bench_compare_corpus" "$count" "$work" 2>/dev/null
  say "corpus generated in $(cat "$work/gen.time") s (load $(load))"
fi
say "corpus $(stat -c %s "$work/corpus.json") bytes, $(wc -l <"$work/names.txt") names"

# ---- builds ------------------------------------------------------------------------------
# timed LABEL CMD...: runs CMD under time -v; sets wall, cpu (user + sys) and peak (KiB).
timed() {
  local label=$1
  shift
  local l
  l=$(load)
  /usr/bin/time -v -o "$work/$label.time" "$@"
  wall=$(awk -F': ' '/Elapsed/ {n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s}' "$work/$label.time")
  cpu=$(awk -F': ' '/User time/ {u = $2} /System time/ {s = $2} END {printf "%.2f", u + s}' "$work/$label.time")
  peak=$(awk -F': ' '/Maximum resident/ {print $2}' "$work/$label.time")
  printf '%-34s %8.2f s wall %8.2f s CPU %9d KiB peak   (load %s)\n' "$label" "$wall" "$cpu" "$peak" "$l" | tee -a "$out"
}
size() { stat -c %s "$1"; }
gf=("$bin/gramforge" --force -q -m "$mem")
corpus=$work/corpus.json
say ""
say "## gramforge -m $mem"
if [ "${SKIP_SINGLE:-0}" != 1 ]; then
  timed "owner-name index (-o)" "${gf[@]}" -o "$work/o.idx" "$corpus"
  say "  owner-name index $(size "$work/o.idx") bytes"
  timed "rdata index (-d)" "${gf[@]}" -d "$work/d.idx" "$corpus"
  say "  rdata index $(size "$work/d.idx") bytes"
fi
timed "both indexes (-o -d)" "${gf[@]}" -o "$work/od-n.idx" -d "$work/od-d.idx" "$corpus"
both_wall=$wall both_cpu=$cpu
timed "both indexes and store (-o -d -R)" "${gf[@]}" -o "$work/odr-n.idx" -d "$work/odr-d.idx" \
  -R "$work/store.qrs" "$corpus"
store=$work/store.qrs
ssize=$(size "$store")
rsize=$(size "$work/odr-d.idx")
say "  owner-name index $(size "$work/odr-n.idx") bytes, rdata index $rsize bytes, store $ssize bytes"
say "$(awk -v a="$wall" -v b="$both_wall" -v c="$cpu" -v d="$both_cpu" -v s="$ssize" -v r="$rsize" 'BEGIN {
  printf "store adds %.1f%% wall, %.1f%% CPU to the build of both indexes (target at most 40%%)\n", (a - b) / b * 100, (c - d) / d * 100
  printf "store size / rdata index size = %.3f (target at most 1)", s / r }')"

# ---- keys --------------------------------------------------------------------------------
# The zone (last 2 to 4 labels) with the number of names under it closest to 10,000.
zone=$(awk -F. '{ for (k = 2; k <= 4 && k < NF; k++) { s = $(NF - k + 1); for (i = NF - k + 2; i <= NF; i++) s = s "." $i; n[s]++ } }
  END { best = ""; bd = 1e9; for (s in n) { d = log(n[s] / 10000); if (d < 0) d = -d; if (d < bd) { bd = d; best = s } } print best, n[best] }' "$work/names.txt")
zone_names=${zone#* }
zone=${zone% *}
# awk, not head, ends these pipes: head would leave its writer to die of SIGPIPE.
a=$(grep -m1 -o '"rrtype":"A","rdata":\["[0-9.]*"' "$corpus" | grep -o '[0-9.]*"$' | tr -d '"')
IFS=. read -r a1 a2 a3 _ <<<"$a"
# Only inside rdata: owner names may start with ns1. too.
ns=$(grep -F '"rrtype":"NS"' "$corpus" | grep -o '"rdata":\[[^]]*' | grep -o '"ns[12]\.[^"]*"' | sort | uniq -c | sort -rn | awk 'NR == 1')
ns_names=$(awk '{print $1}' <<<"$ns")
ns=$(awk '{print $2}' <<<"$ns" | tr -d '"')
say ""
say "## keys: subtree *.$zone ($zone_names names), /24 $a1.$a2.$a3.0/24, largest name-server value $ns ($ns_names names)"

# ---- in-process lookups -------------------------------------------------------------------
say ""
say "## in-process lookups (store_bench --open; load $(load))"
"$bin/store_bench" --open "$store" "$work/names.txt" "name=*.$zone" "value=$a1.$a2.$a3.0/24" \
  "value=$a1.$a2.0.0/16" "value=$a1.0.0.0/8" "ns=$ns" "name=*.compute.internal" | tee -a "$out"

# ---- service lookups ----------------------------------------------------------------------
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$bin/quarnbackendd" --records "$store" --port "$port" --workers 2 2>"$work/server.log" &
server=$!
for _ in $(seq 100); do
  curl -sf "http://127.0.0.1:$port/v1/status" >/dev/null 2>&1 && break
  sleep 0.1
done
base="http://127.0.0.1:$port/v1/lookup"
say ""
say "## through quarnbackendd --records (curl time_total, loopback; load $(load))"
# 500 exact names, one request each; p50 and p99 of the request time.
shuf -n 500 --random-source=<(yes 2>/dev/null || true) "$work/names.txt" | while read -r name; do
  curl -s -o /dev/null -w '%{time_total}\n' "$base/rrset?rrname=$name"
done | sort -g | awk '{t[NR] = $1} END {printf "exact name: %d requests, p50 %.3f ms, p99 %.3f ms (target p50 at most 1 ms)\n", NR, t[int(NR / 2) + 1] * 1000, t[int(NR * 0.99)] * 1000}' | tee -a "$out"
# One name over one kept-alive connection, as a client library would ask: no process
# start or connection set-up in the times.
one=$(awk 'NR == 1000' "$work/names.txt")
wrk -t1 -c1 -d5s --latency "$base/rrset?rrname=$one" | awk -v n="$one" '/ 50%/ {p50 = $2} / 99%/ {p99 = $2}
  /Requests\/sec/ {r = $2} END {printf "exact name %s with wrk, 1 connection: p50 %s, p99 %s, %s requests/s\n", n, p50, p99, r}' | tee -a "$out"
# range ROUTE QUERY: five requests after a warm-up; median time and records streamed.
range() {
  curl -s -o /dev/null "$base/$1?$2&limit=1000000"
  local n
  n=$(curl -s "$base/$1?$2&limit=1000000" | grep -c '"rrname"' || true)
  for _ in 1 2 3 4 5; do curl -s -o /dev/null -w '%{time_total}\n' "$base/$1?$2&limit=1000000"; done |
    sort -g | awk -v q="$2" -v n="$n" 'NR == 3 {printf "%-44s %9d records, median %9.3f ms, %12.0f records/s\n", q, n, $1 * 1000, n / $1}' | tee -a "$out"
}
range rrset "rrname=*.$zone"
range rdata "value=$a1.$a2.$a3.0/24"
range rdata "value=$a1.0.0.0/8"
range rdata "value=$ns&rrtype=NS"
say ""
say "finished $(date -u +%FT%TZ) (load $(load))"
