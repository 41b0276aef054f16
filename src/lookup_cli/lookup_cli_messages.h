// Every message text of the quarnlookup program. Printed to standard error as they are
// (each ends in a line feed); tests match them.
#pragma once

namespace quarn::lookup_cli_msg {

inline constexpr const char* kUsage =
    "Usage: quarnlookup <-R store [-R store ...] | -f setfile> <-n name | -V value> [options]\n";
inline constexpr const char* kNoStore = "Error: give at least one record store with -R or -f\n";
inline constexpr const char* kNoTarget = "Error: give exactly one of -n and -V\n";
inline constexpr const char* kSelfWithoutSubtree = "Error: -S needs a subtree name (-n '*.NAME')\n";
inline constexpr const char* kBadType = "Error: unknown record type '%s'\n";
inline constexpr const char* kBadTime = "Error: invalid time '%s' for -%c\n";
inline constexpr const char* kBadNumber = "Error: invalid number '%s' for -%c\n";
inline constexpr const char* kSetFile = "Error: cannot read set file %s: %s\n";
inline constexpr const char* kEmptySetFile = "Error: set file %s lists no record store\n";
inline constexpr const char* kArgumentError = "%s (argument '%s')\n";
inline constexpr const char* kLookupError = "%s\n";
inline constexpr const char* kJsonSkipped = "Error: record of '%s' cannot be written as JSON, skipped\n";
inline constexpr const char* kOutputFailed = "Error: could not write records to standard output\n";

inline constexpr const char* kHelp =
    "Looks up passive-DNS records in record stores: the records of an owner name or of\n"
    "the names under it, or the names behind an rdata value or an address prefix.\n"
    "\n"
    "Stores:\n"
    "  -R, --store FILE      a record store (repeatable; stores merge in the order given)\n"
    "  -f, --set FILE        a set file listing record stores, one per line (relative\n"
    "                        paths are taken from the set file's directory)\n"
    "What:\n"
    "  -n, --name NAME       records of NAME; '*.NAME' for the names under NAME\n"
    "  -S, --self            with '*.NAME', NAME's own records too\n"
    "  -V, --value VALUE     records whose rdata shows as VALUE (\"192.0.2.1\",\n"
    "                        \"ns1.example.net.\", \"10 mail.example.com.\"), or an A/AAAA\n"
    "                        prefix (\"192.0.2.0/24\", \"2001:db8::/32\")\n"
    "  -t, --type TYPE       only records of TYPE (mnemonic or number)\n"
    "Filters and output:\n"
    "  -A TIME               only records last seen at or after TIME\n"
    "  -B TIME               only records first seen at or before TIME\n"
    "  -c                    with -A/-B: records wholly inside the window\n"
    "  -L, --limit N         at most N records (default 10000, -1 for no limit)\n"
    "  -O, --offset N        skip the first N records\n"
    "  -j, --json            Common Output Format JSON lines instead of text\n"
    "  -h, --help            show this help\n"
    "\n"
    "TIME is seconds since 1970, YYYY-MM-DD or \"YYYY-MM-DD HH:MM:SS\" (UTC), -N for N\n"
    "seconds ago, or an age such as 1d12h (units w, d, h, m, s). Records of several stores with the same name, type and value are\n"
    "merged: counts add, the earliest first and the latest last time are kept.\n"
    "Exit status: 0 on success (also when nothing is found), 1 on an error.\n";

}  // namespace quarn::lookup_cli_msg
