#!/usr/bin/env python3
"""Writes the bundled sample string tables (deterministic: same output on every run).

rrname.txt  owner names in index order, each with its observations:
            name TAB token[ token...], token = type:first[,last-first][:count] (hex)
rdata.txt   rdata values in index order: text TAB len/hex type:first[,last-first][:count]
timefence   "earliest,latest" over all observations, for the index headers

Run from anywhere: python3 data/sample/generate.py
"""
import functools
import ipaddress
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
rng = random.Random(20240611)

LETTER = {1: "4", 2: "n", 5: "c", 6: "s", 15: "m", 16: "t", 28: "6", 33: "v"}
START, END = 1577836800, 1704067199  # 2020-01-01 .. 2023-12-31 UTC

SYL = ["al", "an", "ar", "be", "bo", "ca", "co", "da", "de", "el", "en", "fa", "fi", "ga",
       "go", "ha", "in", "ka", "ko", "la", "li", "lo", "ma", "mi", "mo", "na", "no", "or",
       "pa", "pi", "ra", "re", "ri", "sa", "se", "so", "ta", "te", "to", "ul", "va", "ve",
       "vi", "xa", "yo", "za", "zu"]
WORDS = ["cloud", "data", "net", "shop", "media", "tech", "soft", "web", "bank", "news",
         "travel", "health", "games", "mail", "host", "labs", "group", "store", "learn", "green"]
TLDS = ["com"] * 8 + ["net"] * 3 + ["org"] * 3 + ["de", "io", "nl", "fr", "co.uk", "jp",
                                                    "com.au", "info", "eu", "ch", "se"]
HOSTS = ["www", "mail", "smtp", "imap", "api", "cdn", "static", "ns1", "ns2", "vpn", "m",
         "shop", "blog", "dev", "staging", "app", "portal", "login", "img", "autodiscover",
         "mx1", "mx2", "ftp", "git", "status", "docs", "_dmarc", "_domainkey", "webmail", "cpanel"]


def domain():
    if rng.random() < 0.5:
        core = "".join(rng.choice(SYL) for _ in range(rng.randint(2, 4)))
    else:
        core = rng.choice(WORDS) + rng.choice(["", "-", ""]) + rng.choice(WORDS + SYL)
    if rng.random() < 0.1:
        core += str(rng.randint(1, 99))
    return core + "." + rng.choice(TLDS)


def times():
    first = rng.randint(START, END - 86400)
    last = min(END, first + rng.choice([0, 3600, 86400, 86400 * rng.randint(2, 900)]))
    return first, last


def token(rrtype, first, last, count):
    code = LETTER.get(rrtype, str(rrtype))
    t = "%x" % first if last == first else "%x,%x" % (first, last - first)
    return "%s:%s:%x" % (code, t, count)


def name_key(name):
    # Owner-name order: labels from the right, shorter label first, then bytewise.
    return [(len(l), l.encode()) for l in reversed(name.split("."))]


def wire_name(name):
    out = b""
    for label in name.rstrip(".").split("."):
        out += bytes([len(label)]) + label.encode()
    return out + b"\x00"


def rdata_cmp(a, b):
    # Raw rdata bytes, the record type acting as one more byte after the shorter value.
    (ra, ta), (rb, tb) = a, b
    n = min(len(ra), len(rb))
    if ra[:n] != rb[:n]:
        return -1 if ra[:n] < rb[:n] else 1
    if len(ra) == len(rb):
        return (ta > tb) - (ta < tb)
    if len(ra) < len(rb):
        return -1 if ta < rb[n] else 1
    return 1 if tb < ra[n] else -1


def main():
    names, seen_times, rdata = {}, [], {}
    domains = sorted({domain() for _ in range(700)})
    for d in domains:
        hosts = [d] + [h + "." + d for h in rng.sample(HOSTS, rng.randint(1, 6))]
        if rng.random() < 0.15:  # a deeper tree under some domains
            hosts += ["%s%d.%s.%s" % (rng.choice(["node", "edge", "pod"]), i, rng.choice(["eu", "us", "ap"]), d)
                      for i in range(rng.randint(3, 12))]
        for h in hosts:
            types = [1] if rng.random() < 0.7 else []
            if rng.random() < 0.3:
                types.append(28)
            if h == d:
                types += [2, 6] + ([15] if rng.random() < 0.6 else []) + ([16] if rng.random() < 0.5 else [])
            elif not types:
                types = [5]
            toks = []
            for t in sorted(set(types)):
                f, l = times()
                seen_times += [f, l]
                toks.append(token(t, f, l, rng.randint(1, 5000)))
                # The values behind some of these observations go to the rdata table.
                if rng.random() < 0.45:
                    if t == 1:
                        ip = ipaddress.IPv4Address(rng.choice([0x5DB8D800, 0xC6336400, 0x2D4F0000, 0x68100000]) + rng.randint(0, 65535))
                        rdata[(ip.packed, 1)] = (str(ip), f, l)
                    elif t == 28:
                        ip = ipaddress.IPv6Address((0x2001_0db8 << 96) + rng.getrandbits(40))
                        rdata[(ip.packed, 28)] = (str(ip), f, l)
                    elif t == 2:
                        ns = "ns%d.%s." % (rng.randint(1, 4), rng.choice(domains))
                        rdata[(wire_name(ns), 2)] = (ns, f, l)
                    elif t == 15:
                        mx = "mail.%s." % rng.choice(domains)
                        pref = rng.choice([0, 5, 10, 20])
                        rdata[(bytes([0, pref]) + wire_name(mx), 15)] = ("%d %s" % (pref, mx), f, l)
                    elif t == 5:
                        cn = "%s.%s." % (rng.choice(["edge", "lb", "cdn"]), rng.choice(domains))
                        rdata[(wire_name(cn), 5)] = (cn, f, l)
            names[h] = " ".join(toks)

    with open(os.path.join(HERE, "rrname.txt"), "w") as f:
        for h in sorted(names, key=name_key):
            f.write("%s\t%s\n" % (h, names[h]))
    with open(os.path.join(HERE, "rdata.txt"), "w") as f:
        for key in sorted(rdata, key=functools.cmp_to_key(rdata_cmp)):
            raw, t = key
            text, first, last = rdata[key]
            f.write("%s\t%d/%s %s\n" % (text, len(raw), raw.hex(), token(t, first, last, rng.randint(1, 900))))
    with open(os.path.join(HERE, "timefence"), "w") as f:
        f.write("%d,%d\n" % (min(seen_times), max(seen_times)))


if __name__ == "__main__":
    main()
