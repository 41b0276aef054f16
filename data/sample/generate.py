#!/usr/bin/env python3
"""Writes the bundled sample observations (deterministic: same output on every run).

observations.json.gz  passive-DNS observations, one JSON object a line, as sensors
                      report them, gzip-compressed as feeds usually are: rrname,
                      rrtype, rdata (a list of presentation texts), time_first,
                      time_last (seconds since 1970, UTC) and count.

About 700 domains with a few hosts each (some with a deeper tree of nodes), the usual
record types of a zone apex (NS, SOA, MX, TXT) and of hosts (A, AAAA, CNAME), and
addresses that change over time. A few observations are reported twice, by different
sensors with different times and counts, as a real feed does; gramforge folds them.

Build the sample indexes from it with
    gramforge -o rrname.idx -d rdata.idx data/sample/observations.json.gz
Run from anywhere: python3 data/sample/generate.py
"""
import gzip
import ipaddress
import json
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
rng = random.Random(20240611)

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
# Address blocks the hosts live in.
V4_BLOCKS = [0x5DB8D800, 0xC6336400, 0x2D4F0000, 0x68100000]


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


def rdata_of(rrtype, host, zone, domains):
    if rrtype == "A":
        return [str(ipaddress.IPv4Address(rng.choice(V4_BLOCKS) + rng.randint(0, 65535)))]
    if rrtype == "AAAA":
        return [str(ipaddress.IPv6Address((0x2001_0db8 << 96) + rng.getrandbits(40)))]
    if rrtype == "CNAME":
        return ["%s.%s." % (rng.choice(["edge", "lb", "cdn"]), rng.choice(domains))]
    if rrtype == "NS":
        provider = rng.choice([zone, rng.choice(domains)])
        return ["ns%d.%s." % (i, provider) for i in range(1, rng.randint(2, 4))]
    if rrtype == "MX":
        return ["%d mail.%s." % (rng.choice([0, 5, 10, 20]), rng.choice([zone, rng.choice(domains)]))]
    if rrtype == "SOA":
        return ["ns1.%s. hostmaster.%s. %d 7200 3600 1209600 300"
                % (zone, zone, rng.randint(2020010100, 2023123199))]
    if rrtype == "TXT":
        if host.startswith("_dmarc."):
            return ['"v=DMARC1; p=%s"' % rng.choice(["none", "quarantine", "reject"])]
        return ['"v=spf1 mx include:_spf.%s ~all"' % rng.choice(domains)]
    raise ValueError(rrtype)


def types_of(host, zone):
    if host == zone:
        types = ["NS", "SOA"] + (["MX"] if rng.random() < 0.6 else []) + \
                (["TXT"] if rng.random() < 0.5 else [])
        return types + (["A"] if rng.random() < 0.7 else [])
    if host.startswith("_"):
        return ["TXT"]
    types = ["A"] if rng.random() < 0.7 else []
    if rng.random() < 0.3:
        types.append("AAAA")
    return types or ["CNAME"]


def observation(host, rrtype, rdata):
    first, last = times()
    return {"count": rng.randint(1, 5000), "time_first": first, "time_last": last,
            "rrtype": rrtype, "rrname": host + ".", "rdata": rdata}


def main():
    domains = sorted({domain() for _ in range(700)})
    out = []
    for d in domains:
        hosts = [d] + [h + "." + d for h in rng.sample(HOSTS, rng.randint(1, 6))]
        if rng.random() < 0.15:  # a deeper tree under some domains
            hosts += ["%s%d.%s.%s" % (rng.choice(["node", "edge", "pod"]), i,
                                      rng.choice(["eu", "us", "ap"]), d)
                      for i in range(rng.randint(3, 12))]
        for h in hosts:
            for t in types_of(h, d):
                # Addresses move now and then: a second value of the same name and type.
                for _ in range(2 if t in ("A", "AAAA") and rng.random() < 0.2 else 1):
                    o = observation(h, t, rdata_of(t, h, d, domains))
                    out.append(o)
                    if rng.random() < 0.03:  # the same answer seen by another sensor
                        again = observation(h, t, o["rdata"])
                        out.append(again)
    rng.shuffle(out)  # feeds arrive in no particular order
    text = "".join(json.dumps(o, separators=(",", ":")) + "\n" for o in out)
    # mtime 0 and no file name in the header: the same bytes on every run.
    with open(os.path.join(HERE, "observations.json.gz"), "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=0, compresslevel=9) as f:
            f.write(text.encode())


if __name__ == "__main__":
    main()
