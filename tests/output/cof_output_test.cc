// Lookup records as JSON objects: the direct writer against the generator, byte for
// byte, over names and texts built to hit each escape and UTF-8 shape, the integer
// extremes and a bailiwick present or not; refusals stay refusals.
#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

#include "output/cof_output.h"
#include "output/json_gen.h"
#include "retrieval/rrkit.h"
#include "support/log_capture.h"

namespace quarn {
namespace {

// The object as the generator writes it, with its line feed; nullopt when it refuses.
std::optional<std::string> reference(const StoreRecord& r) {
  JsonGen g(kCofObjectLimit);
  char type_buf[kRrtypeNameSize];
  const bool ok = g.map_open() && g.string("rrname") && g.string(r.name) &&
                  g.string("rrtype") && g.string(rrtype_name(r.rrtype, type_buf)) &&
                  g.string("rdata") && g.string(r.text) && g.string("time_first") &&
                  g.integer(r.time_first) && g.string("time_last") && g.integer(r.time_last) &&
                  g.string("count") && g.unsigned_integer(r.count) &&
                  (r.bailiwick.empty() || (g.string("bailiwick") && g.string(r.bailiwick))) &&
                  g.map_close();
  if (!ok) return std::nullopt;
  return g.text() + "\n";
}

TEST(CofWriter, JsonIsTheGeneratorsBytesAndRefusals) {
  quarn::testing::LogCapture quiet;
  const std::string odd[] = {"www.example.com", "a\"b\\c", std::string("t\b\f\n\r\t\x01\x1f\x7f", 9),
                             "caf\xc3\xa9", "\xe2\x82\xac\xf0\x9f\x98\x80", "caf\xe9", "\xc3",
                             "\xf8\x80\x80\x80\x80", std::string(20000, 'x'), ""};
  CofWriter w;
  int refused = 0;
  for (const std::string& a : odd) {
    for (const std::string& b : {std::string("10 mail.example.com."), a}) {
      StoreRecord r;
      r.name = a;
      r.text = b;
      r.bailiwick = b == a ? std::string_view() : std::string_view(a);
      r.rrtype = b == a ? 65280 : 15;
      r.time_first = b == a ? LLONG_MIN : -1;
      r.time_last = LLONG_MAX;
      r.count = b == a ? ULLONG_MAX : 0;
      std::string out = "kept";
      const std::optional<std::string> want = reference(r);
      EXPECT_EQ(w.append_json(out, r), want.has_value()) << a;
      EXPECT_EQ(out, "kept" + want.value_or("")) << a;
      refused += !want.has_value();
    }
  }
  EXPECT_EQ(refused, 8);  // three bad UTF-8 shapes and the long name, each twice
}

}  // namespace
}  // namespace quarn
