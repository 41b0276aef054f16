#!/usr/bin/env bash
# PostgreSQL pg_trgm beside the service benchmark: loads NAMES (one name per line) into
# a private server (started here in a temporary directory and always stopped, set up
# as bench/compare/run.sh does), builds the GIN trigram index, pre-warms both, and times
# each expression REPEATS times (default 20) within one psql session, as a client that
# keeps its connection would: SELECT name ... WHERE name ~* EXPR LIMIT n, with the
# limits of the service benchmark (100 for the first expression, 100000 for the rest).
# Prints the load time and, per expression, rows, median and p99 in ms.
#
#   bench/service/pg_compare.sh NAMES EXPR [EXPR ...]
set -euo pipefail
source "$(dirname "$0")/../lib.sh"
names=$1
shift
repeats=${REPEATS:-20}
pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
pgdir=$(mktemp -d "${TMPDIR:-/tmp}/quarn-svc-pg.XXXXXX")
as_pg=()
if [ "$(id -u)" -eq 0 ]; then
  id postgres >/dev/null 2>&1 || useradd --system --no-create-home postgres
  chown postgres "$pgdir"
  as_pg=(runuser -u postgres --)
fi
started=0
cleanup() {
  [ "$started" = 1 ] && "${as_pg[@]}" "$pgbin/pg_ctl" -D "$pgdir/data" -m fast -w stop >/dev/null 2>&1
  rm -rf "$pgdir"
}
trap cleanup EXIT
"${as_pg[@]}" "$pgbin/initdb" -D "$pgdir/data" -A trust -U bench --locale=C -E UTF8 >/dev/null
pg_settings "$pgdir" >>"$pgdir/data/postgresql.conf"
"${as_pg[@]}" "$pgbin/pg_ctl" -D "$pgdir/data" -l "$pgdir/server.log" -w start >/dev/null
started=1
psql_() { "$pgbin/psql" -X -q -v ON_ERROR_STOP=1 -h "$pgdir" -U bench -d postgres "$@"; }

t0=$EPOCHREALTIME
psql_ -c "CREATE EXTENSION pg_trgm; CREATE EXTENSION pg_prewarm; CREATE TABLE names (name text);"
psql_ -c "\\copy names FROM '$names'"
psql_ -c "CREATE INDEX names_trgm ON names USING gin (name gin_trgm_ops)"
psql_ -c "VACUUM ANALYZE names"
psql_ -At -c "SELECT pg_prewarm('names'), pg_prewarm('names_trgm')" >/dev/null
echo "load: $(awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN{printf "%.0f s", b-a}') (COPY, GIN index, pre-warm)"

limit=100
for expr in "$@"; do
  q="SELECT name FROM names WHERE name ~* '$(printf "%s" "$expr" | sed "s/'/''/g")' LIMIT $limit;"
  {
    echo "\\o /dev/null"
    echo "$q"  # warm-up
    echo "\\timing on"
    for ((i = 0; i < repeats; i++)); do echo "$q"; done
  } | psql_ -At 2>&1 | sed -n 's/^Time: \([0-9.]*\) ms.*/\1/p' | sort -g |
    awk -v e="$expr" -v n="$repeats" -v l="$limit" \
      '{v[NR]=$1} END {printf "%s (LIMIT %d): median %.2f ms, p99 %.2f ms over %d runs\n", e, l, v[int((NR+1)/2)], v[NR], NR}'
  rows=$(psql_ -At -c "SELECT count(*) FROM (${q%;}) s")
  echo "  rows: $rows"
  limit=100000
done
