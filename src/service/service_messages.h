// Every message text of the quarnbackendd program in one place. Texts ending in "\n" are
// printed directly to standard error; the others are log lines (the logger adds the
// line feed) or "msg" texts of fin lines. Clients and tests match these texts.
#pragma once

namespace quarn::service_msg {

// Command line (standard error).
inline constexpr const char* kNoSource = "Error: at least one of --rrnames, --rdata or --records is required\n";
inline constexpr const char* kBadNumber = "Error: option --%s needs a positive integer, not '%s'\n";
inline constexpr const char* kBadSeconds = "Error: option --%s needs a positive number of seconds, not '%s'\n";
inline constexpr const char* kBadListen = "Error: --listen needs HOST:PORT, not '%s'\n";
inline constexpr const char* kCannotRead = "Error: cannot read %s: %s\n";
inline constexpr const char* kWrongKind = "Error: %s holds %s indexes, not %s\n";
inline constexpr const char* kNoIndex = "Error: %s holds no loadable index file\n";
inline constexpr const char* kNoStore = "Error: %s holds no loadable record store\n";
inline constexpr const char* kStoreTwice = "Error: %s lists the record store %s twice\n";
inline constexpr const char* kNotIndexOrSet = "Error: %s is neither an index file nor a set file\n";
inline constexpr const char* kBadKeys = "Error: keys file %s: %s\n";
inline constexpr const char* kBindFailed = "Error: cannot listen on %s:%d\n";
inline constexpr const char* kBadLogLevel = "Warning: invalid log level '%s' in QUARN_LOGLEVEL\n";
inline constexpr const char* kUnknownOption = "Error: unknown option or missing argument\n";

// Keys file problems (the reason in kBadKeys).
inline constexpr const char* kKeysUnreadable = "cannot be read";
inline constexpr const char* kKeysEmpty = "holds no key";
inline constexpr const char* kKeysBadLine = "line %zu holds an empty key";

// Program log lines.
inline constexpr const char* kListening = "Listening on %s:%d with %u workers, queue %u";
inline constexpr const char* kReloading = "SIGHUP: re-reading set files and keys";
inline constexpr const char* kKeysKept = "Keys file %s no longer reads (%s): keeping the old keys";
inline constexpr const char* kStoreDropped = "Record store %s left out: %s";
inline constexpr const char* kStoresKept = "Record stores of %s not re-read (%s): keeping the loaded ones";
inline constexpr const char* kDraining = "SIGTERM: draining for %.1f s";
inline constexpr const char* kStopped = "Exiting...";
inline constexpr const char* kAccess =
    "%s %s %s %s %s [%.*s] fin=%d results=%llu ms=%.1f key=%s";
inline constexpr const char* kSearchPrefix = "search-%u";

// fin texts that the code table has no text for.
inline constexpr const char* kServerBusy = "server busy";
inline constexpr const char* kBadKey = "missing or invalid API key";
inline constexpr const char* kShuttingDown = "server shutting down";
inline constexpr const char* kDamagedIndex = "an index file turned out damaged during the search";
inline constexpr const char* kBodyTooLarge = "request body over 64 KiB";
inline constexpr const char* kUrlTooLong = "request URL over 8 KiB";
inline constexpr const char* kNoRoute = "no such route";
inline constexpr const char* kNoSourceForScope = "no index files are loaded for this scope";
inline constexpr const char* kNoRecords = "no record stores are loaded (start the service with --records)";
inline constexpr const char* kDamagedStore = "a record store turned out damaged during the lookup";
inline constexpr const char* kUnwritableRecord = "a record could not be written as JSON";
inline constexpr const char* kMissingRrname = "missing rrname";
inline constexpr const char* kMissingValue = "missing value";

}  // namespace quarn::service_msg
