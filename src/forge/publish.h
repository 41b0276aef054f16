// Moving finished outputs under their final names, all or none.
//
// A build stages each output beside its final name and publishes them only once all are
// complete. publish_outputs first checks every target (none may be a directory), then
// moves any file that a forced build replaces aside under "<target>.gf-old-<pid>",
// renames each staged file into place with a rename that refuses to replace an existing
// file, and removes the set-aside files only when every rename succeeded. On failure
// the renames done so far are undone (the staged files are back under their staged
// names, for the caller to remove) and the set-aside files are put back, so the targets
// are as before. Without `force`, a target that exists, even one that a concurrent
// build created after the start of this one, makes publishing fail. After the last
// rename each target directory is synced, so a published index survives a crash.
#pragma once

#include <string>
#include <vector>

namespace quarn {

struct StagedOutput {
  std::string staged;  // complete file under its temporary name
  std::string target;  // final name, in the same directory
};

// Error texts of publishing.
inline constexpr const char* kPublishErrIsDir = "output is a directory: %s";
inline constexpr const char* kPublishErrExists = "output file exists: %s (use --force to replace it)";
inline constexpr const char* kPublishErrRename = "cannot rename %s to %s: %s";

// true when every staged file took its target name; false with *error set otherwise
// (targets unchanged, staged files still in place).
bool publish_outputs(const std::vector<StagedOutput>& outputs, bool force, std::string* error);

// Whether two output names denote the same file: the same base name in the same
// directory (compared by device and inode, so "a.idx" and "./a.idx" match). Names whose
// directory does not exist are compared as written.
bool same_output_path(const std::string& a, const std::string& b);

}  // namespace quarn
