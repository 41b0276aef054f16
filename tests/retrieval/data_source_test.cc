// Data sources: the index list's kind rule, and the fileset's path resolution, paced
// reloads, retirement of indexes still in use, kind rejection and repeated entries, and
// both sources following index files replaced on disk.
#include "retrieval/data_source.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "index/crafted_index.h"
#include "retrieval/rdata_order.h"
#include "retrieval/search_context.h"
#include "retrieval/tgdb_merger.h"

namespace quarn {
namespace {

using testing::LogCapture;
using testing::ScratchDir;

class DataSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    names_a_ = dir_.file("a.idx");
    names_b_ = dir_.file("b.idx");
    rdata_ = dir_.file("r.idx");
    testing::write_index(names_a_, "a.example\t4:10:1\nshared.example\t4:10:2\n");
    testing::write_index(names_b_, "b.example\t4:10:1\nshared.example\t4:10:3\n");
    IndexWriterOptions rd;
    rd.kind = IndexKind::kRdata;
    rd.compare = [](std::string_view a, std::string_view b) { return rdata_line_compare(a, b); };
    testing::write_index(rdata_, "1.2.3.4\t4/01020304 4:10:1\n", rd);
    set_file_ = dir_.file("set");
  }

  // Writes the set file and gives it a modification time distinct from any earlier one,
  // so that a change is seen without waiting for the clock.
  void write_set(const std::string& text) {
    std::ofstream(set_file_, std::ios::trunc) << text;
    struct timeval times[2] = {{1000000 + mtime_, 0}, {1000000 + mtime_, 0}};
    ++mtime_;
    ASSERT_EQ(::utimes(set_file_.c_str(), times), 0);
  }

  // Replaces path the way index files are meant to be replaced: a new file renamed over.
  void replace_by_rename(const std::string& path, const std::string& text) {
    const std::string tmp = path + ".new";
    testing::write_index(tmp, text);
    ASSERT_EQ(std::rename(tmp.c_str(), path.c_str()), 0);
  }

  // Overwrites path in place with the bytes of from, the way a plain cp does.
  static void copy_in_place(const std::string& from, const std::string& path) {
    std::ifstream in(from, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  }

  std::unique_ptr<fileset> make_fileset() {
    return fileset::create(set_file_, [this] { return TimePoint{now_, 0}; });
  }

  static std::vector<std::string> keys(data_source& source) {
    search_context ctx;
    std::vector<std::string> out;
    auto m = source.open(ctx);
    if (!m) return out;
    while (auto r = m->next()) out.push_back(r->key + ":" + std::to_string(r->auxdata[0].count));
    return out;
  }

  ScratchDir dir_;
  std::string names_a_, names_b_, rdata_, set_file_;
  int64_t now_ = 100000;
  int mtime_ = 0;
};

TEST_F(DataSourceTest, IndexListFixesItsKindWithTheFirstFile) {
  index_list list;
  search_context ctx;
  EXPECT_EQ(list.open(ctx), nullptr);  // nothing loaded yet
  ASSERT_TRUE(list.add(names_a_));
  ASSERT_TRUE(list.add(names_b_));
  LogCapture log(LOG_ERROR);
  EXPECT_FALSE(list.add(rdata_));
  EXPECT_TRUE(log.contains("rdata file " + rdata_ + " rejected from rrname file list"));
  EXPECT_FALSE(list.add(dir_.file("missing.idx")));
  EXPECT_EQ(list.size(), 2u);
  EXPECT_EQ(keys(list), (std::vector<std::string>{"a.example:1", "b.example:1", "shared.example:5"}));
}

TEST_F(DataSourceTest, IndexListFollowsAFileReplacedOrChangedOnDisk) {
  index_list list;
  ASSERT_TRUE(list.add(names_a_));
  search_context running_ctx;
  auto running = list.open(running_ctx);  // keeps the first version
  ASSERT_TRUE(running);

  replace_by_rename(names_a_, "new.example\t4:10:7\n");
  {
    LogCapture log(LOG_INFO);
    EXPECT_EQ(keys(list), (std::vector<std::string>{"new.example:7"}));
    EXPECT_TRUE(log.contains("Reloaded index file " + names_a_));
  }
  std::vector<std::string> old;
  while (auto r = running->next()) old.push_back(r->key);
  EXPECT_EQ(old, (std::vector<std::string>{"a.example", "shared.example"}));

  // A shorter file written into the mapped one: reading the old mapping past the new end
  // would fault.
  replace_by_rename(names_b_, "b.example\t4:10:1\n");
  copy_in_place(names_b_, names_a_);
  EXPECT_EQ(keys(list), (std::vector<std::string>{"b.example:1"}));

  std::ofstream(names_a_, std::ios::trunc) << "not an index";
  LogCapture log(LOG_ERROR);
  EXPECT_EQ(keys(list), std::vector<std::string>{});
  EXPECT_TRUE(log.contains("Dropped index file " + names_a_));
  EXPECT_EQ(list.size(), 0u);
}

TEST_F(DataSourceTest, FilesetFollowsAFileReplacedUnderTheSameName) {
  write_set("a.idx\n");
  auto fs = make_fileset();
  replace_by_rename(names_a_, "new.example\t4:10:7\n");
  write_set("a.idx\n");
  now_ += 10;
  LogCapture log(LOG_INFO);
  EXPECT_EQ(keys(*fs), (std::vector<std::string>{"new.example:7"}));
  EXPECT_TRUE(log.contains("Fileset " + set_file_ + ": " + dir_.path() + "/a.idx changed on disk"));
  EXPECT_EQ(fs->loaded_count(), 1u);

  // Caught half-written, the entry is empty until its file changes again.
  std::ofstream(names_a_, std::ios::trunc) << "half";
  EXPECT_EQ(keys(*fs), std::vector<std::string>{});
  replace_by_rename(names_a_, "a.example\t4:10:1\n");
  EXPECT_EQ(keys(*fs), (std::vector<std::string>{"a.example:1"}));
}

TEST_F(DataSourceTest, SetFileRewrittenWithTheSameMetadataIsReread) {
  write_set("a.idx\n");
  struct stat before;
  ASSERT_EQ(::stat(set_file_.c_str(), &before), 0);
  auto fs = make_fileset();
  std::ofstream(set_file_, std::ios::trunc) << "b.idx\n";  // same inode and size
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, set_file_.c_str(), times, 0), 0);
  now_ += 10;
  EXPECT_EQ(keys(*fs), (std::vector<std::string>{"b.example:1", "shared.example:3"}));
}

TEST_F(DataSourceTest, SetFileLinesResolveAgainstItsDirectory) {
  write_set("a.idx\n" + names_b_ + "\n");
  LogCapture log(LOG_DEBUG);
  auto fs = make_fileset();
  EXPECT_TRUE(log.contains("Loading fileset: " + set_file_));
  EXPECT_TRUE(log.contains("Fileset " + set_file_ + " loading " + dir_.path() + "/a.idx"));
  EXPECT_EQ(fs->entry_count(), 2u);
  EXPECT_EQ(fs->loaded_count(), 2u);
  EXPECT_FALSE(fs->is_rdata());
  EXPECT_EQ(keys(*fs), (std::vector<std::string>{"a.example:1", "b.example:1", "shared.example:5"}));
}

TEST_F(DataSourceTest, ReloadWaitsMoreThanTheIntervalAndRetiresDroppedFiles) {
  write_set("a.idx\nb.idx\n");
  auto fs = make_fileset();
  const Tgdb* kept = fs->entry_index(0);
  ASSERT_NE(kept, nullptr);

  // A merger opened now keeps reading b even after b is retired.
  search_context running_ctx;
  auto running = fs->open(running_ctx);
  ASSERT_TRUE(running);

  write_set("a.idx\n");
  now_ += fileset::kReloadIntervalSeconds;  // exactly the interval: not yet
  EXPECT_EQ(keys(*fs).size(), 3u);
  EXPECT_EQ(fs->entry_count(), 2u);

  now_ += 1;
  {
    LogCapture log(LOG_DEBUG);
    EXPECT_EQ(keys(*fs), (std::vector<std::string>{"a.example:1", "shared.example:2"}));
    EXPECT_TRUE(log.contains("Fileset " + set_file_ + " unloading " + dir_.path() + "/b.idx"));
    EXPECT_FALSE(log.contains("loading " + dir_.path() + "/a.idx"));  // kept, not reloaded
  }
  EXPECT_EQ(fs->entry_count(), 1u);
  EXPECT_EQ(fs->entry_index(0), kept);

  std::vector<std::string> old;
  while (auto r = running->next()) old.push_back(r->key);
  EXPECT_EQ(old, (std::vector<std::string>{"a.example", "b.example", "shared.example"}));
}

TEST_F(DataSourceTest, UnchangedSetFileIsNotReread) {
  write_set("a.idx\n");
  auto fs = make_fileset();
  now_ += 60;
  LogCapture log(LOG_DEBUG);
  EXPECT_EQ(keys(*fs).size(), 2u);
  EXPECT_FALSE(log.contains("loading"));
}

TEST_F(DataSourceTest, OtherKindIsRejectedAndTheRestIsSearched) {
  write_set("a.idx\nr.idx\n");
  LogCapture log(LOG_ERROR);
  auto fs = make_fileset();
  EXPECT_TRUE(log.contains("rdata file " + rdata_ + " rejected from rrname fileset " + set_file_));
  EXPECT_EQ(fs->entry_count(), 2u);
  EXPECT_EQ(fs->loaded_count(), 1u);
  EXPECT_EQ(keys(*fs), (std::vector<std::string>{"a.example:1", "shared.example:2"}));
}

TEST_F(DataSourceTest, UnreadableAndMissingFilesLeaveEntriesWithoutIndex) {
  write_set("missing.idx\n\n");
  LogCapture log(LOG_ERROR);
  auto fs = make_fileset();
  EXPECT_TRUE(log.contains("Fileset " + set_file_ + ": cannot read " + dir_.path() +
                           "/missing.idx: No such file or directory"));
  EXPECT_EQ(fs->entry_count(), 2u);  // the empty line names the directory itself
  EXPECT_EQ(fs->loaded_count(), 0u);
  search_context ctx;
  EXPECT_EQ(fs->open(ctx), nullptr);
}

TEST_F(DataSourceTest, SetFileListingOneFileTwiceIsRefused) {
  ::testing::internal::CaptureStderr();
  write_set("a.idx\na.idx\n");
  auto fs = make_fileset();
  EXPECT_EQ(fs->entry_count(), 0u);
  search_context ctx;
  EXPECT_EQ(fs->open(ctx), nullptr);

  write_set("a.idx\nb.idx\n");
  now_ += 10;
  EXPECT_EQ(keys(*fs), (std::vector<std::string>{"a.example:1", "b.example:1", "shared.example:5"}));
  const Tgdb* a = fs->entry_index(0);
  // Two names of one file are one file: refused, and the entries before stay in use.
  write_set("a.idx\n./a.idx\nb.idx\n");
  now_ += 10;
  EXPECT_EQ(keys(*fs).size(), 3u);
  EXPECT_EQ(fs->entry_index(0), a);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Error: set file '" + set_file_ + "' lists one file twice ('" + dir_.path() +
                     "/a.idx' and '" + dir_.path() + "/a.idx')"),
            std::string::npos) << err;
  EXPECT_NE(err.find("('" + dir_.path() + "/a.idx' and '" + dir_.path() + "/./a.idx')"),
            std::string::npos) << err;

  index_list list;
  LogCapture log;
  ASSERT_TRUE(list.add(names_a_));
  EXPECT_FALSE(list.add(dir_.path() + "/./a.idx"));
  EXPECT_TRUE(log.contains("is the same file as " + names_a_));
  EXPECT_EQ(list.size(), 1u);
}

// Neither a FIFO as the set file nor one listed in it may block the search that reloads.
TEST_F(DataSourceTest, FifoSetFileOrEntryIsRefusedWithoutBlocking) {
  const std::string fifo = dir_.file("fifo.idx");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  write_set("fifo.idx\na.idx\n");
  auto fs = make_fileset();
  EXPECT_EQ(fs->entry_count(), 2u);
  EXPECT_EQ(fs->loaded_count(), 1u);
  EXPECT_EQ(keys(*fs), (std::vector<std::string>{"a.example:1", "shared.example:2"}));

  ASSERT_EQ(::unlink(set_file_.c_str()), 0);
  ASSERT_EQ(::mkfifo(set_file_.c_str(), 0600), 0);
  now_ += 10;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(keys(*fs).size(), 2u);  // the current entries stay
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Error: set file '" + set_file_ + "' is not a regular file\n");
}

TEST_F(DataSourceTest, SetFileThatVanishesKeepsTheCurrentEntries) {
  write_set("a.idx\n");
  auto fs = make_fileset();
  ASSERT_EQ(::unlink(set_file_.c_str()), 0);
  now_ += 10;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(keys(*fs).size(), 2u);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "setfile_updated: stat('" + set_file_ + "') failed: No such file or directory\n");
  EXPECT_EQ(fs->loaded_count(), 1u);
}

}  // namespace
}  // namespace quarn
