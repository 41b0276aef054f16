#!/usr/bin/env bash
# Side-by-side comparison of quarnsearch with the tools an analyst would otherwise use on
# the same names: ripgrep and grep -E -i over a text file, and PostgreSQL with a pg_trgm
# GIN index (a private server this script starts and always stops).
#
#   bench/compare/run.sh [COUNT ...]        default: 1000000 10000000
#
# Environment: WORK (corpora and indexes, default /tmp/quarn-compare), REPEATS (timed
# warm runs per query and tool, default 5), BUILD_DIR (release build, default build),
# RESULTS (default bench/compare/results), QUERIES (default bench/compare/queries.tsv),
# GF_THREADS (gramforge's --threads, default the number of cores; the searches and
# PostgreSQL use one core either way).
#
# Per COUNT it generates the corpus (kept in WORK/COUNT and reused), builds the indexes
# with gramforge, loads PostgreSQL, then times every query with every tool and writes
# RESULTS/raw-COUNT.tsv and RESULTS/build-COUNT.tsv; at the end report.py turns all raw
# files present into RESULTS/report.md and one chart per COUNT. Installs the peers it
# needs with apt-get when they are missing (never part of the project's own set-up).
set -euo pipefail
cd "$(dirname "$0")/../.."
source bench/lib.sh
repo=$PWD
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1000000 10000000)
work=${WORK:-/tmp/quarn-compare}
gf_threads=${GF_THREADS:-$(nproc)}
repeats=${REPEATS:-5}
build=${BUILD_DIR:-build}
results=${RESULTS:-$repo/bench/compare/results}
queries=${QUERIES:-$repo/bench/compare/queries.tsv}
export LC_ALL=C

# ---- peers and build -------------------------------------------------------------------
need=()
for p in ripgrep postgresql postgresql-contrib gnuplot-nox python3 time; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "compare: installing ${need[*]}" >&2
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 quarnsearch gramforge bench_compare_corpus >/dev/null
bin=$repo/$build/bin
[ -d "$bin" ] || bin=$build/bin
pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
mkdir -p "$results" "$work"

# ---- private PostgreSQL server ---------------------------------------------------------
# The server refuses to run as root, so as root it runs as the packaged "postgres" user.
pgdir=$(mktemp -d "${TMPDIR:-/tmp}/quarn-compare-pg.XXXXXX")
as_pg=()
if [ "$(id -u)" -eq 0 ]; then
  id postgres >/dev/null 2>&1 || useradd --system --no-create-home postgres
  chown postgres "$pgdir"
  as_pg=(runuser -u postgres --)
fi
pg_started=0
cleanup() {
  if [ "$pg_started" = 1 ]; then
    "${as_pg[@]}" "$pgbin/pg_ctl" -D "$pgdir/data" -m fast -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$pgdir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# A free TCP port number keeps the socket name unique even though only the socket is used.
pgport=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"${as_pg[@]}" "$pgbin/initdb" -D "$pgdir/data" -A trust -U bench --locale=C -E UTF8 >/dev/null
{ pg_settings "$pgdir"; echo "port = $pgport"; } >>"$pgdir/data/postgresql.conf"
"${as_pg[@]}" "$pgbin/pg_ctl" -D "$pgdir/data" -l "$pgdir/server.log" -w start >/dev/null
pg_started=1
psql_() { "$pgbin/psql" -X -q -v ON_ERROR_STOP=1 -h "$pgdir" -p "$pgport" -U bench -d postgres "$@"; }
psql_ -c "CREATE EXTENSION IF NOT EXISTS pg_trgm; CREATE EXTENSION IF NOT EXISTS pg_prewarm;"

# ---- helpers ---------------------------------------------------------------------------
median() { sort -g | awk '{v[NR]=$1} END {if (NR==0) print "nan"; else if (NR%2) print v[(NR+1)/2]; else print (v[NR/2]+v[NR/2+1])/2}'; }
ms_since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN{printf "%.3f\n", (b-a)*1000}'; }
stat_of() { sed -n "s/^search-[0-9]*: *$1: \([0-9.]*\).*/\1/p" "$2" | tail -1; }
sql_quote() { printf "%s" "$1" | sed "s/'/''/g"; }
# Runs a command, prints its wall time in ms. Output goes to a file, not /dev/null:
# grep notices /dev/null and stops at the first match, which would time nothing.
timed_ms() {
  local t0=$EPOCHREALTIME
  "$@" >"$work/peer.out" 2>&1 || true
  ms_since "$t0"
}

for count in "${counts[@]}"; do
  dir=$work/$count
  mkdir -p "$dir"
  if [ ! -s "$dir/corpus.json" ] || [ ! -s "$dir/names.txt" ]; then
    echo "== generating $count names in $dir" >&2
    "$bin/bench_compare_corpus" "$count" "$dir"
  fi
  names=$dir/names.txt
  idx=$dir/names.idx
  buildtsv=$results/build-$count.tsv
  printf 'metric\tvalue\n' >"$buildtsv"
  put() { printf '%s\t%s\n' "$1" "$2" >>"$buildtsv"; }
  put names "$(wc -l <"$names")"
  put corpus_bytes "$(stat -c %s "$dir/corpus.json")"
  put names_txt_bytes "$(stat -c %s "$names")"

  echo "== gramforge: owner-name index of $count names" >&2
  /usr/bin/time -f '%e %M' -o "$dir/gf.time" "$bin/gramforge" --force -q -m 256 --threads "$gf_threads" -o "$idx" "$dir/corpus.json"
  read -r secs kb <"$dir/gf.time"
  put gramforge_seconds "$secs"
  put gramforge_threads "$gf_threads"
  put gramforge_peak_kb "$kb"
  put index_bytes "$(stat -c %s "$idx")"
  /usr/bin/time -f '%e %M' -o "$dir/gf2.time" "$bin/gramforge" --force -q -m 256 --threads "$gf_threads" -o "$dir/both-names.idx" \
    -d "$dir/rdata.idx" "$dir/corpus.json"
  read -r secs kb <"$dir/gf2.time"
  put gramforge_both_seconds "$secs"
  put gramforge_both_peak_kb "$kb"
  put rdata_index_bytes "$(stat -c %s "$dir/rdata.idx")"
  rm -f "$dir/both-names.idx"

  echo "== PostgreSQL: COPY and CREATE INDEX of $count names" >&2
  psql_ -c "DROP TABLE IF EXISTS names"
  # One session, so the backend's peak resident size covers COPY and CREATE INDEX.
  pglog=$dir/pg-load.txt
  psql_ -At >"$pglog" <<EOF
\timing on
CREATE TABLE names (name text);
\copy names FROM '$names'
CREATE INDEX names_trgm ON names USING gin (name gin_trgm_ops);
\timing off
VACUUM ANALYZE names;
SELECT 'sizes ' || pg_table_size('names') || ' ' || pg_relation_size('names_trgm');
SELECT 'hwm ' || substring(pg_read_file('/proc/' || pg_backend_pid() || '/status') from 'VmHWM:\s*([0-9]+)');
EOF
  hwm=$(sed -n 's/^hwm //p' "$pglog")
  mapfile -t load_ms < <(sed -n 's/^Time: \([0-9.]*\) ms.*/\1/p' "$pglog")
  put pg_copy_seconds "$(awk -v v="${load_ms[1]}" 'BEGIN{print v/1000}')"
  put pg_index_seconds "$(awk -v v="${load_ms[2]}" 'BEGIN{print v/1000}')"
  put pg_backend_peak_kb "${hwm:-nan}"
  read -r _ tbytes ibytes < <(grep '^sizes ' "$pglog")
  put pg_table_bytes "$tbytes"
  put pg_gin_bytes "$ibytes"
  psql_ -At -c "SELECT pg_prewarm('names'), pg_prewarm('names_trgm')" >/dev/null

  echo "== queries at $count names ($repeats warm runs each)" >&2
  cat "$idx" "$names" >/dev/null
  raw=$results/raw-$count.tsv
  printf 'id\tclass\tkind\texpr\tours_all_ms\tours_limit_ms\tours_inproc_ms\trg_ms\tgrep_ms\tpg_count_ms\tpg_limit_ms\tn_ours\tn_rg\tn_grep\tn_pg\tn_ours_limit\tn_pg_limit\ttrigram_matches\tpattern_matches\tbytes_read\tpages_read\tours_search_ms\n' >"$raw"
  mapfile -t qlines < <(grep -v '^#' "$queries" | grep -v '^$')
  err=$dir/qs.err
  id=0
  for line in "${qlines[@]}"; do
    IFS=$'\t' read -r cls kind expr peer <<<"$line"
    [ "$peer" = "-" ] && peer=$expr
    id=$((id + 1))
    g=(); [ "$kind" = glob ] && g=(-g)
    qs_all=(); qs_lim=(); rgt=(); grt=(); sst=()
    # Run 0 warms the caches and, with -v, gives the counts and quarnsearch's statistics;
    # the timed runs go without -v, as an analyst runs it (the timing report costs two
    # clock reads per result).
    "$bin/quarnsearch" -l "$idx" "${g[@]}" -L -1 -v -s "$expr" >/dev/null 2>"$err"
    "$bin/quarnsearch" -l "$idx" "${g[@]}" -v -s "$expr" >/dev/null 2>"$err.lim"
    sst+=("$(awk -v s="$(stat_of 'Total Search Time' "$err")" 'BEGIN{print s*1000}')")
    for ((r = 0; r <= repeats; r++)); do  # run 0 only warms
      if [ $r -gt 0 ]; then
        t0=$EPOCHREALTIME
        "$bin/quarnsearch" -l "$idx" "${g[@]}" -L -1 -s "$expr" >/dev/null 2>/dev/null
        qs_all+=("$(ms_since "$t0")")
        t0=$EPOCHREALTIME
        "$bin/quarnsearch" -l "$idx" "${g[@]}" -s "$expr" >/dev/null 2>/dev/null
        qs_lim+=("$(ms_since "$t0")")
      fi
      t=$(timed_ms rg -i -c -j1 -e "$peer" "$names")
      [ $r -gt 0 ] && rgt+=("$t")
      t=$(timed_ms grep -E -i -c -e "$peer" "$names")
      [ $r -gt 0 ] && grt+=("$t")
    done
    n_ours=$(stat_of Results "$err")
    n_ours_lim=$(stat_of Results "$err.lim")
    n_rg=$(rg -i -c -j1 -e "$peer" "$names" || true); n_rg=${n_rg:-0}
    n_grep=$(grep -E -i -c -e "$peer" "$names" || true)
    tm=$(stat_of 'Trigram Matches' "$err"); pm=$(stat_of 'Pattern Matches' "$err")
    br=$(sed -n 's/.*Total Bytes Read: \([0-9]*\)  (\([0-9]*\) pages).*/\1 \2/p' "$err" | tail -1)
    # PostgreSQL: the same statements repeated in one session, timed by the client.
    q=$(sql_quote "$peer")
    {
      echo '\timing on'
      for ((r = 0; r <= repeats; r++)); do echo "SELECT 'count ' || count(*) FROM names WHERE name ~* '$q';"; done
      echo '\o /dev/null'
      for ((r = 0; r <= repeats; r++)); do
        echo "SELECT name FROM names WHERE name ~* '$q' LIMIT 10000;"
        echo '\echo rows :ROW_COUNT'
      done
    } | psql_ -At >"$dir/pg-q.txt"
    mapfile -t pgt < <(sed -n 's/^Time: \([0-9.]*\) ms.*/\1/p' "$dir/pg-q.txt")
    n_pg=$(sed -n 's/^count //p' "$dir/pg-q.txt" | tail -1)
    n_pg_lim=$(sed -n 's/^rows //p' "$dir/pg-q.txt" | tail -1)
    pg_count=$(printf '%s\n' "${pgt[@]:1:repeats}" | median)
    pg_limit=$(printf '%s\n' "${pgt[@]:repeats+2:repeats}" | median)
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' \
      "$id" "$cls" "$kind" "$expr" \
      "$(printf '%s\n' "${qs_all[@]}" | median)" "$(printf '%s\n' "${qs_lim[@]}" | median)" "nan" \
      "$(printf '%s\n' "${rgt[@]}" | median)" "$(printf '%s\n' "${grt[@]}" | median)" "$pg_count" "$pg_limit" \
      "$n_ours" "$n_rg" "$n_grep" "$n_pg" "$n_ours_lim" "$n_pg_lim" "$tm" "$pm" "${br% *}" "${br#* }" \
      "$(printf '%s\n' "${sst[@]}" | median)" >>"$raw"
    if [ "$n_ours" != "$n_rg" ] || [ "$n_ours" != "$n_grep" ] || [ "$n_ours" != "$n_pg" ]; then
      echo "compare: COUNT MISMATCH for [$expr]: ours $n_ours, rg $n_rg, grep $n_grep, pg $n_pg" >&2
    fi
    echo "  $id $cls $expr: $n_ours matches" >&2
  done

  # One warm process per kind reads every expression on standard input, so that start-up
  # and index loading stay out of the per-query time ("Total Elapsed" of each search).
  for kind in regex glob; do
    g=(); [ "$kind" = glob ] && g=(-g)
    mapfile -t ids < <(printf '%s\n' "${qlines[@]}" | awk -F'\t' -v k="$kind" '$2==k{print NR}')
    printf '%s\n' "${qlines[@]}" | awk -F'\t' -v k="$kind" '$2==k{print $3}' >"$dir/stdin-$kind.txt"
    for ((r = 0; r <= repeats; r++)); do
      "$bin/quarnsearch" -l "$idx" "${g[@]}" -L -1 -v <"$dir/stdin-$kind.txt" >/dev/null 2>"$dir/inproc-$kind-$r.err"
    done
    for ((j = 0; j < ${#ids[@]}; j++)); do
      n=$((j + 1))
      v=$(for ((r = 1; r <= repeats; r++)); do
            sed -n "s/^search-$n: *Total Elapsed: \([0-9.]*\) s/\1/p" "$dir/inproc-$kind-$r.err" | awk '{print $1*1000}'
          done | median)
      awk -F'\t' -v OFS='\t' -v id="${ids[$j]}" -v v="$v" 'NR>1 && $1==id {$7=v} {print}' "$raw" >"$raw.tmp"
      mv "$raw.tmp" "$raw"
    done
  done
  psql_ -c "DROP TABLE names"
done

python3 "$repo/bench/compare/report.py" "$results"
echo "compare: report in $results/report.md" >&2
