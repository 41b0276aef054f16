#!/usr/bin/env python3
"""Turns the comparison's result files into a Markdown report and one chart per corpus.

    report.py RESULTS_DIR

Reads RESULTS_DIR/build-COUNT.tsv and RESULTS_DIR/raw-COUNT.tsv (written by run.sh) for
every COUNT present and writes RESULTS_DIR/report.md and RESULTS_DIR/chart-COUNT.png
(gnuplot, log scale, one group of bars per query). Times are medians of warm runs in
milliseconds; a ratio is ours / peer, so below 1 means quarnsearch was faster.
"""
import csv
import glob
import math
import os
import re
import statistics
import subprocess
import sys

TOOLS = [  # column, label in tables and chart
    ("ours_all_ms", "quarnsearch -L -1 (process)"),
    ("ours_inproc_ms", "quarnsearch -L -1 (in one process)"),
    ("ours_limit_ms", "quarnsearch default limit (process)"),
    ("rg_ms", "rg -i -c -j1"),
    ("grep_ms", "grep -E -i -c"),
    ("pg_count_ms", "pg count(*)"),
    ("pg_limit_ms", "pg LIMIT 10000"),
]
CLASSES = ["selective", "medium", "broad"]


def num(v):
    try:
        x = float(v)
        return None if math.isnan(x) else x
    except (TypeError, ValueError):
        return None


def fmt_ms(v):
    if v is None:
        return "n/a"
    return f"{v:.1f}" if v >= 10 else f"{v:.2f}"


def ratio(a, b):
    if a is None or b is None or b <= 0:
        return "n/a"
    return f"{a / b:.2f}"


def mib(kb):
    v = num(kb)
    return "n/a" if v is None else f"{v / 1024:.0f}"


def mb(b):
    v = num(b)
    return "n/a" if v is None else f"{v / 1e6:.1f}"


def read_tsv(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f, delimiter="\t", quoting=csv.QUOTE_NONE))


def counts_agree(r):
    return r["n_ours"] == r["n_rg"] == r["n_grep"] == r["n_pg"]


def chart(results, count, rows):
    data = os.path.join(results, f"chart-{count}.dat")
    png = os.path.join(results, f"chart-{count}.png")
    shown = [t for t in TOOLS if t[0] != "ours_limit_ms" and t[0] != "pg_limit_ms"]
    with open(data, "w") as f:
        for r in rows:
            vals = []
            for col, _ in shown:
                v = num(r[col])
                vals.append(f"{max(v, 0.01):.3f}" if v is not None else "NaN")
            f.write(f'"{r["id"]}:{r["class"][0]}" ' + " ".join(vals) + "\n")
    plots = ", ".join(
        f"'{data}' using {i + 2}{':xtic(1)' if i == 0 else ''} title '{label}'"
        for i, (_, label) in enumerate(shown))
    script = f"""
set terminal pngcairo size 2000,700 font 'sans,10'
set output '{png}'
set title 'Warm median time per query, {int(count):,} names (log scale; s/m/b = selective/medium/broad)'
set ylabel 'milliseconds'
set logscale y
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.9 border -1
set boxwidth 0.9
set xtics rotate by -60 font ',8'
set key outside top center horizontal
set grid ytics
plot {plots}
"""
    subprocess.run(["gnuplot"], input=script, text=True, check=True)
    os.remove(data)
    return os.path.basename(png)


def section(results, count, build, rows):
    out = []
    b = {r["metric"]: r["value"] for r in build}
    n = int(b.get("names", count))
    out.append(f"## {n:,} names\n")

    gf = num(b.get("gramforge_seconds"))
    pg_build = None
    if num(b.get("pg_copy_seconds")) is not None and num(b.get("pg_index_seconds")) is not None:
        pg_build = num(b["pg_copy_seconds"]) + num(b["pg_index_seconds"])
    idx = num(b.get("index_bytes"))
    pgb = None
    if num(b.get("pg_table_bytes")) is not None and num(b.get("pg_gin_bytes")) is not None:
        pgb = num(b["pg_table_bytes"]) + num(b["pg_gin_bytes"])
    out.append("### Building\n")
    out.append("| | quarn | PostgreSQL | ours / pg |")
    out.append("|---|---|---|---|")
    out.append(f"| build time, s | gramforge (owner names) {b.get('gramforge_seconds')} | "
               f"COPY {num(b.get('pg_copy_seconds')) or 0:.1f} + CREATE INDEX "
               f"{num(b.get('pg_index_seconds')) or 0:.1f} = {pg_build or 0:.1f} | {ratio(gf, pg_build)} |")
    out.append(f"| peak memory, MiB | {mib(b.get('gramforge_peak_kb'))} (budget -m 256) | "
               f"backend {mib(b.get('pg_backend_peak_kb'))} (maintenance_work_mem 256MB, shared buffers counted as touched) | "
               f"{ratio(num(b.get('gramforge_peak_kb')), num(b.get('pg_backend_peak_kb')))} |")
    out.append(f"| size, MB | index {mb(idx)} | table {mb(b.get('pg_table_bytes'))} + GIN "
               f"{mb(b.get('pg_gin_bytes'))} = {mb(pgb)} | {ratio(idx, pgb)} |")
    out.append("")
    out.append(f"Input: {mb(b.get('corpus_bytes'))} MB of observation lines; the names as text "
               f"(what rg and grep read): {mb(b.get('names_txt_bytes'))} MB. gramforge building the "
               f"owner-name and rdata indexes together: {b.get('gramforge_both_seconds')} s, peak "
               f"{mib(b.get('gramforge_both_peak_kb'))} MiB, rdata index {mb(b.get('rdata_index_bytes'))} MB.\n")

    bad = [r for r in rows if not counts_agree(r)]
    out.append("### Match counts\n")
    if bad:
        out.append(f"**{len(bad)} of {len(rows)} queries disagree:**\n")
        out.append("| id | expression | quarnsearch | rg | grep | pg |")
        out.append("|---|---|---|---|---|---|")
        for r in bad:
            out.append(f"| {r['id']} | `{r['expr']}` | {r['n_ours']} | {r['n_rg']} | {r['n_grep']} | {r['n_pg']} |")
        out.append("")
    else:
        out.append(f"All {len(rows)} queries: quarnsearch, rg, grep and PostgreSQL report the same "
                   "number of matching names.\n")

    out.append("### Medians per class (ms) and ratios ours / peer\n")
    out.append("| class | queries | " + " | ".join(label for _, label in TOOLS) +
               " | process / pg count | in-process / pg count | process / rg | process / grep | limit / pg limit |")
    out.append("|---|---|" + "---|" * (len(TOOLS) + 5))
    for cls in CLASSES:
        sel = [r for r in rows if r["class"] == cls]
        if not sel:
            continue
        med = {}
        for col, _ in TOOLS:
            vals = [num(r[col]) for r in sel if num(r[col]) is not None]
            med[col] = statistics.median(vals) if vals else None
        out.append(f"| {cls} | {len(sel)} | " + " | ".join(fmt_ms(med[c]) for c, _ in TOOLS) + " | " +
                   " | ".join([ratio(med["ours_all_ms"], med["pg_count_ms"]),
                               ratio(med["ours_inproc_ms"], med["pg_count_ms"]),
                               ratio(med["ours_all_ms"], med["rg_ms"]),
                               ratio(med["ours_all_ms"], med["grep_ms"]),
                               ratio(med["ours_limit_ms"], med["pg_limit_ms"])]) + " |")
    out.append("")

    png = chart(results, count, rows)
    out.append(f"![warm median time per query]({png})\n")

    out.append("### Per query\n")
    out.append("Times in ms (warm medians). *matches* is the count every tool agreed on (or "
               "quarnsearch's when they did not); the last four columns are quarnsearch's own "
               "statistics for the -L -1 search.\n")
    out.append("| id | class | kind | expression | matches | " +
               " | ".join(label for _, label in TOOLS) +
               " | trigram matches | pattern matches | bytes read | pages |")
    out.append("|---|---|---|---|---|" + "---|" * (len(TOOLS) + 4))
    for r in rows:
        expr = r["expr"].replace("|", "\\|")
        flag = "" if counts_agree(r) else " (!)"
        out.append(f"| {r['id']} | {r['class']} | {r['kind']} | `{expr}` | {r['n_ours']}{flag} | " +
                   " | ".join(fmt_ms(num(r[c])) for c, _ in TOOLS) +
                   f" | {r['trigram_matches']} | {r['pattern_matches']} | {r['bytes_read']} | {r['pages_read']} |")
    out.append("")
    return out


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: report.py RESULTS_DIR\n")
        return 2
    results = sys.argv[1]
    counts = sorted((int(m.group(1)) for m in
                     (re.search(r"raw-(\d+)\.tsv$", p) for p in glob.glob(os.path.join(results, "raw-*.tsv")))
                     if m), key=int)
    out = ["# quarnsearch beside ripgrep, grep and PostgreSQL pg_trgm\n",
           "Written by `bench/compare/run.sh` (see README.md beside it for how to run it and what "
           "each column means). Same names, same expressions, same machine, one run. Times are "
           "medians of warm runs in milliseconds; ratios are ours / peer, so below 1 means "
           "quarnsearch was faster. PostgreSQL times are measured by psql inside one session "
           "(no connection start); rg and grep times are whole processes; quarnsearch is shown "
           "both ways.\n"]
    for count in counts:
        build_path = os.path.join(results, f"build-{count}.tsv")
        build = read_tsv(build_path) if os.path.exists(build_path) else []
        out += section(results, count, build, read_tsv(os.path.join(results, f"raw-{count}.tsv")))
    with open(os.path.join(results, "report.md"), "w") as f:
        f.write("\n".join(out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
