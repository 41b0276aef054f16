// Input lines: plain and gzip files, carriage returns, over-long lines, truncated
// streams and missing files.
#include "forge/line_input.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

namespace quarn {
namespace {

std::string fresh_dir(const char* tag) {
  std::string d = std::string(testing::TempDir()) + "/" + tag + "-" + std::to_string(getpid());
  mkdir(d.c_str(), 0700);
  return d;
}

TEST(LineInput, PlainGzipLongLinesAndMissingFiles) {
  const std::string dir = fresh_dir("lines");
  const std::string text = "one\r\ntwo\n\n" + std::string(kMaxInputLine + 10, 'x') + "\nlast";
  const std::string plain = dir + "/plain.txt", packed = dir + "/packed";
  FILE* f = fopen(plain.c_str(), "wb");
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
  gzFile gz = gzopen(packed.c_str(), "wb");
  gzwrite(gz, text.data(), static_cast<unsigned>(text.size()));
  gzclose(gz);

  for (const std::string& path : {plain, packed}) {
    std::string error;
    auto in = LineInput::open(path, &error);
    ASSERT_TRUE(in) << error;
    std::vector<std::string> lines;
    std::vector<bool> longs;
    std::string_view line;
    while (in->next(&line)) {
      lines.emplace_back(line);
      longs.push_back(in->too_long());
    }
    EXPECT_FALSE(in->failed()) << in->error();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "one");
    EXPECT_EQ(lines[1], "two");
    EXPECT_EQ(lines[2], "");
    EXPECT_TRUE(longs[3]);
    EXPECT_EQ(lines[3].size(), kMaxInputLine);
    EXPECT_EQ(lines[4], "last");
    EXPECT_FALSE(longs[4]);
    EXPECT_EQ(in->line_number(), 5u);
  }

  // A gzip stream cut short is a read error, not a quiet end.
  std::string packed_data;
  {
    FILE* p = fopen(packed.c_str(), "rb");
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) packed_data.append(buf, n);
    fclose(p);
  }
  FILE* p = fopen(packed.c_str(), "wb");
  fwrite(packed_data.data(), 1, packed_data.size() / 2, p);
  fclose(p);
  std::string error;
  auto in = LineInput::open(packed, &error);
  ASSERT_TRUE(in);
  std::string_view line;
  while (in->next(&line)) {
  }
  EXPECT_TRUE(in->failed());

  EXPECT_FALSE(LineInput::open(dir + "/missing", &error));
  EXPECT_NE(error.find("missing"), std::string::npos);
  unlink(plain.c_str());
  unlink(packed.c_str());
  rmdir(dir.c_str());
}

}  // namespace
}  // namespace quarn
