// Input lines: plain, gzip, zstd and xz files, carriage returns, over-long lines,
// concatenated and truncated streams, and missing files.
#include "forge/line_input.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdio>
#include <fstream>
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

std::string gzip_of(const std::string& text) {
  std::string out(compressBound(static_cast<uLong>(text.size())) + 64, '\0');
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string zstd_of(const std::string& text) {
  std::string out(ZSTD_compressBound(text.size()), '\0');
  out.resize(ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3));
  return out;
}

std::string xz_of(const std::string& text) {
  std::string out(lzma_stream_buffer_bound(text.size()), '\0');
  size_t pos = 0;
  lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr,
                          reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                          reinterpret_cast<uint8_t*>(out.data()), &pos, out.size());
  out.resize(pos);
  return out;
}

struct ReadBack {
  std::vector<std::string> lines;
  bool failed, damaged;
  std::string error;
};

ReadBack read_back(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
  std::string error;
  auto in = LineInput::open(path, &error);
  EXPECT_TRUE(in) << error;
  ReadBack r;
  std::string_view line;
  while (in->next(&line)) r.lines.emplace_back(line);
  r.failed = in->failed();
  r.damaged = in->damaged();
  r.error = in->error();
  EXPECT_EQ(in->bytes_read(), bytes.size());
  unlink(path.c_str());
  return r;
}

// Every compression a collector uses reads back the same lines, frames and members
// concatenated; cut short, it keeps the lines before the break and names the last one.
TEST(LineInput, CompressedFormatsWholeConcatenatedAndCut) {
  const std::string dir = fresh_dir("codecs");
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "line " + std::to_string(i) + "\n";
  const std::string half = text.substr(0, text.find('\n', text.size() / 2) + 1);
  const std::string rest = text.substr(half.size());
  for (auto codec : {gzip_of, zstd_of, xz_of}) {
    const std::string path = dir + "/in";
    ReadBack whole = read_back(path, codec(half) + codec(rest));
    EXPECT_FALSE(whole.failed) << whole.error;
    ASSERT_EQ(whole.lines.size(), 100000u);
    EXPECT_EQ(whole.lines.back(), "line 99999");

    const std::string packed = codec(text);
    ReadBack cut = read_back(path, packed.substr(0, packed.size() * 3 / 4));
    EXPECT_TRUE(cut.failed && cut.damaged);
    EXPECT_LT(cut.lines.size(), 100000u);
    for (size_t i = 0; i < cut.lines.size(); ++i) ASSERT_EQ(cut.lines[i], "line " + std::to_string(i));
    EXPECT_EQ(cut.error, "input " + path + " is damaged after line " +
                             std::to_string(cut.lines.size()) + ": unexpected end of file");

    std::string spoiled = packed;
    spoiled[spoiled.size() / 2] ^= 0x55;
    ReadBack bad = read_back(path, spoiled);
    EXPECT_TRUE(bad.failed && bad.damaged) << bad.error;
  }
  rmdir(dir.c_str());
}

}  // namespace
}  // namespace quarn
