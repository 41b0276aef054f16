#!/usr/bin/env python3
"""Writes passive-DNS observations (JSON lines) for one day of a multi-day data set.

Usage: gen_observations.py DAY COUNT NAMES SEED > day.json

Day DAY starts at 2024-06-10 00:00 UTC plus DAY days. Each observation picks its owner
name from a pool of NAMES names shared by every day (so that most keys recur on other
days), a type (A, AAAA, NS, MX) and a value from a pool per type, and first/last times
inside the day. The same arguments give the same bytes.
"""
import random
import sys

DAY0 = 1717977600
DAY = 86400


def main():
    day, count, names, seed = (int(a) for a in sys.argv[1:5])
    rng = random.Random(seed * 1000003 + day)
    out = sys.stdout
    start = DAY0 + day * DAY
    for _ in range(count):
        n = rng.randrange(names)
        name = "h%d.z%d.example" % (n, n % 997)
        kind = rng.random()
        if kind < 0.55:
            rrtype, rdata = "A", "10.%d.%d.%d" % (n % 7, rng.randrange(256), rng.randrange(8))
        elif kind < 0.7:
            rrtype, rdata = "AAAA", "2001:db8::%x" % rng.randrange(4096)
        elif kind < 0.9:
            rrtype, rdata = "NS", "ns%d.dns%d.example" % (rng.randrange(2), n % 50)
        else:
            rrtype, rdata = "MX", "10 mx%d.example" % (n % 300)
        first = start + rng.randrange(80000)
        last = first + (0 if rng.random() < 0.3 else rng.randrange(DAY - 1 - (first - start)))
        out.write('{"rrname":"%s","rrtype":"%s","rdata":"%s","time_first":%d,'
                  '"time_last":%d,"count":%d}\n'
                  % (name, rrtype, rdata, first, last, 1 + rng.randrange(20)))


if __name__ == "__main__":
    main()
