// Every message text of the index loader and writer, in one place. printf formats; the
// loader's lines go through the logger (which adds the line feed), the ones ending in
// "\n" are printed to standard error directly.
#pragma once

namespace quarn::index_msg {

// Loading (level "error" unless noted). kLoadFailed is also tginspect's message, which
// prints it to standard error with a line feed after it.
inline constexpr char kLoadFailed[] = "Error: could not deserialize trigram index from file: %s";
inline constexpr char kOpenFailed[] = "Error opening database file \"%s\": %s";
inline constexpr char kFstatFailed[] = "fstat: %s";
inline constexpr char kNotRegular[] = "Error: \"%s\" is not a regular file";
inline constexpr char kTooSmall[] =
    "Error: trigram index was smaller than minimum header size of %zu bytes";
inline constexpr char kMmapFailed[] = "mmap: %s";
inline constexpr char kBadMagic[] = "Error: trigram database was missing magic header value!";
inline constexpr char kShortRealNref[] = "Error: real nref table was shorter than expected!";
inline constexpr char kNoStringTable[] =
    "Error: could not map string table from unified tgdb file: %s";
inline constexpr char kNoLineIndex[] = "Error: could not map index table from unified tgdb file: %s";
inline constexpr char kStringTableLoaded[] = "String table successfully loaded (%zu bytes).";  // debug
inline constexpr char kLineIndexLoaded[] = "Index successfully loaded (%zu bytes).";          // debug
// Section and list bounds: a mapping past the end of a file would fault on first touch.
inline constexpr char kSectionOutside[] =
    "Error: %s (offset %lu, %lu bytes) extends past the end of the file (%lu bytes)";
inline constexpr char kListOutside[] =
    "Error: reference list of trigram %u (%s) (offset %lu, %lu references) extends past the "
    "end of the file (%lu bytes)";
inline constexpr char kHeaderAreaOutside[] =
    "Error: header length %u leaves no room for the trigram table in a file of %lu bytes";

// IndexWriter
inline constexpr char kWriterEmptyLine[] = "Error: line %lu is empty";
inline constexpr char kWriterNoTab[] = "Error: line %lu has no tab between key and annotations";
inline constexpr char kWriterEmptyKey[] = "Error: line %lu has an empty key";
inline constexpr char kWriterLineFeed[] = "Error: line %lu contains a line feed";
inline constexpr char kWriterOrder[] =
    "Error: line %lu is out of order: key \"%.*s\" sorts before the previous key \"%.*s\"";
inline constexpr char kWriterTooMany[] = "Error: too many lines for one index (limit %lu)";
inline constexpr char kWriterNoLines[] = "Error: an index needs at least one line";
inline constexpr char kWriterFinished[] = "Error: the index writer has already finished or failed";
inline constexpr char kWriterIo[] = "Error: writing %s failed: %s: %s";
inline constexpr char kWriterCreate[] = "Error: could not create %s: %s";

}  // namespace quarn::index_msg
