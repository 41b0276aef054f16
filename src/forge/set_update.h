// Adding a build's outputs to a set file, and dropping the files it merged, in one
// atomic step.
//
// A set file lists index files one per line (retrieval/my_fileset.h: an absolute path,
// or a path relative to the set file's directory; lines are taken as they stand). A
// long-running search or the service re-reads it while it changes, so it must only
// ever see the old list or the new one: update_set_file writes the new list under a
// temporary name beside the set file, syncs it, and renames it over the set file, then
// syncs the directory. The set file's lines keep their order and spelling; a line is
// dropped only when it names (by device and inode) one of `drop`; an output is appended
// only when no line names it already, so that the set never lists a file twice. A new
// line is spelled relative to the set file's directory when the output lies under it,
// absolutely otherwise. A missing set file is created.
//
// Concurrent updates of set files in one directory are serialised with a lock on the
// directory, so two builds finishing at once cannot lose each other's lines.
// `step` (may be empty) is called with "set-staged" once the new list is complete and
// synced under its temporary name, just before the rename.
//
// Failures (false, *error set; the set file is unchanged and the temporary file gone):
// the set file cannot be read or is not a regular file, an output name holds a line
// feed, an output cannot be found, or writing, syncing or renaming fails.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "forge/temp_files.h"
#include "index/tgdb.h"

namespace quarn {

inline constexpr const char* kSetErrRead = "cannot read set file %s: %s";
inline constexpr const char* kSetErrNotRegular = "set file %s is not a regular file";
inline constexpr const char* kSetErrWrite = "cannot write set file %s: %s";
inline constexpr const char* kSetErrLock = "cannot lock the directory of set file %s: %s";
inline constexpr const char* kSetErrNewline = "cannot list a file name holding a line feed: %s";
inline constexpr const char* kSetErrOutput = "cannot find output %s to list it: %s";

struct SetFileChange {
  std::vector<std::string> add;     // files to list, named as the program was given them
  std::vector<FileIdentity> drop;   // files whose lines are removed (device and inode)
};

bool update_set_file(const std::string& set_path, const SetFileChange& change,
                     TempFiles& temps, const std::function<void(const char*)>& step,
                     std::string* error);

}  // namespace quarn
