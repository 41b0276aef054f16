// The streaming observation reader must treat every line exactly as a reader over a
// full JSON tree does. The tree reader is kept here as the oracle; both run over
// hand-written odd lines, generated lines in random shapes and mutations of them.
#include <gtest/gtest.h>
#include <yajl/yajl_tree.h>

#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "forge/input_record.h"
#include "retrieval/rrkit.h"

namespace quarn {
namespace {

// ---- Oracle: the line read through a JSON tree. ----

yajl_val member(yajl_val obj, const char* name) {
  for (size_t i = 0; i < obj->u.object.len; ++i) {
    if (strcmp(obj->u.object.keys[i], name) == 0) return obj->u.object.values[i];
  }
  return nullptr;
}

bool json_integer(yajl_val v, long long lo, long long hi, long long* out) {
  if (v == nullptr || !YAJL_IS_INTEGER(v)) return false;
  const long long x = YAJL_GET_INTEGER(v);
  if (x < lo || x > hi) return false;
  *out = x;
  return true;
}

bool read_time(yajl_val v, bool* present, uint32_t* out) {
  *present = v != nullptr && !YAJL_IS_NULL(v);
  if (!*present) return true;
  long long x = 0;
  if (!json_integer(v, 1, std::numeric_limits<uint32_t>::max(), &x)) return false;
  *out = static_cast<uint32_t>(x);
  return true;
}

// The tree hands out C strings, which cannot hold a NUL, so an escaped NUL is read as
// \u0001: the checks after the reader refuse both alike (a control character in a name,
// a type or an rdata text; a member name that is none of the record's).
std::string nul_escapes_as_soh(std::string_view line) {
  std::string out;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\' && line.compare(i, 6, "\\u0000") == 0) {
      out += "\\u0001";
      i += 5;
    } else if (line[i] == '\\' && i + 1 < line.size()) {
      out.append(line.substr(i, 2));
      ++i;
    } else {
      out.push_back(line[i]);
    }
  }
  return out;
}

ParseStatus tree_parse(std::string_view line, ParsedLine* out, const char** reason) {
  out->clear();
  bool blank = true;
  for (char c : line) blank = blank && (c == ' ' || c == '\t' || c == '\r');
  if (blank) return ParseStatus::kBlank;
  auto bad = [reason](const char* why) {
    *reason = why;
    return ParseStatus::kBad;
  };
  if (line.find('\0') != std::string_view::npos) return bad(kReasonJson);
  const std::string text = nul_escapes_as_soh(line);
  yajl_val tree = yajl_tree_parse(text.c_str(), nullptr, 0);
  struct Free {
    yajl_val t;
    ~Free() { yajl_tree_free(t); }
  } owner{tree};
  if (tree == nullptr || !YAJL_IS_OBJECT(tree)) return bad(kReasonJson);

  yajl_val name = member(tree, "rrname");
  if (name == nullptr || !YAJL_IS_STRING(name) || YAJL_GET_STRING(name)[0] == '\0') {
    return bad(kReasonNoName);
  }
  if (!normalize_owner_name(YAJL_GET_STRING(name), &out->name, reason)) return ParseStatus::kBad;
  yajl_val type = member(tree, "rrtype");
  uint16_t rrtype = 0;
  if (type == nullptr) return bad(kReasonNoType);
  if (YAJL_IS_STRING(type)) {
    rrtype = rrkit_str_to_rrtype(YAJL_GET_STRING(type));
  } else {
    long long t = 0;
    if (json_integer(type, 1, 65535, &t)) rrtype = static_cast<uint16_t>(t);
  }
  if (rrtype == 0 || rrtype == kRrtypeAny) return bad(kReasonUnknownType);
  bool has_first = false, has_last = false;
  uint32_t first = 0, last = 0;
  if (!read_time(member(tree, "time_first"), &has_first, &first) ||
      !read_time(member(tree, "time_last"), &has_last, &last)) {
    return bad(kReasonBadTime);
  }
  if (!has_first && !has_last) {
    if (!read_time(member(tree, "zone_time_first"), &has_first, &first) ||
        !read_time(member(tree, "zone_time_last"), &has_last, &last)) {
      return bad(kReasonBadTime);
    }
  }
  if (!has_first && !has_last) return bad(kReasonNoTime);
  if (!has_first) first = last;
  if (!has_last) last = first;
  if (last < first) return bad(kReasonTimeOrder);
  uint64_t count = 1;
  if (yajl_val c = member(tree, "count"); c != nullptr && !YAJL_IS_NULL(c)) {
    long long n = 0;
    if (!json_integer(c, 0, std::numeric_limits<long long>::max(), &n)) {
      const std::string_view t = YAJL_IS_NUMBER(c) ? YAJL_GET_NUMBER(c) : "";
      const bool digits = !t.empty() && t.find_first_not_of("0123456789") == t.npos;
      return bad(digits ? kReasonCountTooLarge : kReasonBadCount);
    }
    count = static_cast<uint64_t>(n);
  }
  const CountValue value{first, last, count};
  out->name_records.push_back({rrtype, value});
  yajl_val rdata = member(tree, "rdata");
  if (rdata == nullptr) return bad(kReasonNoRdata);
  auto add_one = [&](yajl_val v) -> bool {
    if (v == nullptr || !YAJL_IS_STRING(v)) return false;
    RdataRecord& r = out->add_rdata();
    r.rrtype = rrtype;
    r.value = value;
    return rdata_from_text(rrtype, YAJL_GET_STRING(v), &r.raw);
  };
  if (YAJL_IS_ARRAY(rdata)) {
    if (rdata->u.array.len == 0) return bad(kReasonNoRdata);
    // Bad elements are left out one by one; one good element keeps the line.
    for (size_t i = 0; i < rdata->u.array.len; ++i) {
      if (!add_one(rdata->u.array.values[i])) {
        if (YAJL_IS_STRING(rdata->u.array.values[i])) --out->rdata_used;
        ++out->rdata_bad;
      }
    }
    if (out->rdata_used == 0) return bad(kReasonBadRdata);
  } else if (!add_one(rdata)) {
    return bad(kReasonBadRdata);
  }
  return ParseStatus::kOk;
}

// ---- Comparison. ----

std::string describe(ParseStatus st, const char* reason, const ParsedLine& p) {
  std::string s = st == ParseStatus::kOk ? "ok" : st == ParseStatus::kBlank ? "blank" : "bad";
  if (st == ParseStatus::kBad) s += std::string(" (") + reason + ")";
  s += " name=" + p.name;
  for (const NameRecord& r : p.name_records) {
    s += " n" + std::to_string(r.rrtype) + ":" + std::to_string(r.value.first) + "," +
         std::to_string(r.value.last) + "," + std::to_string(r.value.count);
  }
  s += " bad=" + std::to_string(p.rdata_bad);
  for (size_t i = 0; i < p.rdata_used; ++i) {
    const RdataRecord& r = p.rdata_records[i];
    s += " r" + std::to_string(r.rrtype) + ":" + std::to_string(r.value.first) + "," +
         std::to_string(r.value.last) + "," + std::to_string(r.value.count) + "/";
    for (unsigned char c : r.raw) {
      s += "0123456789abcdef"[c >> 4];
      s += "0123456789abcdef"[c & 15];
    }
  }
  return s;
}

// Both readers on one line; counts the lines each accepted so that a run that only ever
// rejects cannot pass unnoticed.
struct Differ {
  ParsedLine mine, oracle;
  size_t lines = 0, accepted = 0;

  void check(const std::string& line) {
    const char* r1 = nullptr;
    const char* r2 = nullptr;
    const ParseStatus s1 = parse_cof_line(line, &mine, &r1);
    const ParseStatus s2 = tree_parse(line, &oracle, &r2);
    ++lines;
    if (s2 == ParseStatus::kOk) ++accepted;
    ASSERT_EQ(s1, s2) << line;
    if (s1 == ParseStatus::kBad) {
      // The same reason text: the reasons are literals, whose addresses need not agree
      // between the two translation units (sanitizer builds keep them apart).
      ASSERT_STREQ(r1, r2) << line;
    }
    ASSERT_EQ(describe(s1, r1, mine), describe(s2, r2, oracle)) << line;
  }
};

TEST(CofParse, OddLinesAgreeWithTheTreeReader) {
  const std::string base =
      R"("rrtype":"A","rdata":"192.0.2.1","time_first":10,"time_last":20)";
  const std::vector<std::string> lines = {
      "{\"rrname\":\"a.example.\"," + base + "}",
      // Duplicates: the first wins, even when it is null or bad.
      "{\"rrname\":\"a.example.\",\"rrname\":\"b.example.\"," + base + "}",
      "{\"count\":null,\"rrname\":\"a.example.\",\"count\":5," + base + "}",
      "{\"count\":-1,\"rrname\":\"a.example.\",\"count\":5," + base + "}",
      "{\"rrname\":\"a.\"," + base + ",\"rdata\":\"bad\",\"time_first\":1}",
      // Numbers at and past the 64-bit edges, and spellings that are not integers.
      "{\"rrname\":\"a.\"," + base + ",\"count\":9223372036854775807}",
      "{\"rrname\":\"a.\"," + base + ",\"count\":9223372036854775808}",
      "{\"rrname\":\"a.\"," + base + ",\"count\":9223372036854775810}",
      "{\"rrname\":\"a.\"," + base + ",\"count\":9223372036854775879}",
      "{\"rrname\":\"a.\"," + base + ",\"count\":99999999999999999999}",
      "{\"rrname\":\"a.\"," + base + ",\"count\":-9223372036854775807}",
      "{\"rrname\":\"a.\"," + base + ",\"count\":-9223372036854775808}",
      "{\"rrname\":\"a.\"," + base + ",\"count\":-0}",
      "{\"rrname\":\"a.\"," + base + ",\"count\":1.0}",
      "{\"rrname\":\"a.\"," + base + ",\"count\":1e3}",
      "{\"rrname\":\"a.\"," + base + ",\"count\":1E3}",
      "{\"rrname\":\"a.\",\"rrtype\":1.0,\"rdata\":\"192.0.2.1\",\"time_first\":10}",
      "{\"rrname\":\"a.\",\"rrtype\":28,\"rdata\":\"::1\",\"zone_time_last\":4294967295}",
      "{\"rrname\":\"a.\",\"rrtype\":1,\"rdata\":\"1.2.3.4\",\"zone_time_last\":4294967296}",
      "{\"rrname\":\"a.\",\"rrtype\":255,\"rdata\":\"1.2.3.4\",\"time_last\":7}",
      // An escaped NUL makes a text bad and a member name none of ours.
      "{\"rrname\":\"a.ex\\u0000ample.\"," + base + "}",
      "{\"rrname\":\"\\u0000a\"," + base + "}",
      "{\"rrname\\u0000junk\":\"a.example.\"," + base + "}",
      "{\"rrname\":\"a.\",\"rrtype\":\"A\\u0000AAA\",\"rdata\":\"1.2.3.4\",\"time_last\":7}",
      "{\"rrname\":\"a.\",\"rrtype\":\"A\",\"rdata\":[\"1.2.3.4\\u0000x\"],\"time_last\":7}",
      // rdata shapes.
      "{\"rrname\":\"a.\",\"rrtype\":\"A\",\"rdata\":[],\"time_last\":7}",
      "{\"rrname\":\"a.\",\"rrtype\":\"A\",\"rdata\":[\"1.2.3.4\",5,\"1.2.3.5\"],\"time_last\":7}",
      "{\"rrname\":\"a.\",\"rrtype\":\"A\",\"rdata\":[\"1.2.3.4\",[\"1.1.1.1\"]],\"time_last\":7}",
      "{\"rrname\":\"a.\",\"rrtype\":\"A\",\"rdata\":[{\"x\":\"1.1.1.1\"}],\"time_last\":7}",
      "{\"rrname\":\"a.\",\"rrtype\":\"A\",\"rdata\":{\"a\":[\"1.1.1.1\"]},\"time_last\":7}",
      "{\"rrname\":\"a.\",\"rrtype\":\"A\",\"rdata\":null,\"time_last\":7}",
      // Nested members of the same names are not the record's members.
      "{\"x\":{\"rrname\":\"n.\",\"rrtype\":\"A\"},\"rrname\":\"a.\",\"rrtype\":\"A\","
      "\"rdata\":\"1.2.3.4\",\"time_last\":7,\"y\":[{\"count\":1}]}",
      "{\"x\":[[[[[[{\"rdata\":[\"1\"]}]]]]]],\"rrname\":\"a.\"," + base + "}",
      // Whole-line faults.
      "[1,2]", "5", "\"a\"", "null", "{}", "{} ", "{}{}", "{} x", "{\"a\":1,}", "{\"a\"}",
      "{/* c */\"rrname\":\"a.\"," + base + "}",
      "{\"rrname\":\"a.\"," + base + "} // trailing",
      "{\"rrname\":\"a.\"," + base + "}\r", " \t{\"rrname\":\"a.\"," + base + "}",
      "{\"rrname\":\"a\xff.\"," + base + "}", "{\"rrname\":\"a\\ud800.\"," + base + "}",
      std::string(3000, '[') + std::string(3000, ']'),
      "{\"deep\":" + std::string(3000, '[') + std::string(3000, ']') + ",\"rrname\":\"a.\"," +
          base + "}",
      "", "   ", "\r",
      // Parser memory beyond the per-line block: deep nesting, long escaped texts.
      "{\"deep\":" + std::string(10000, '[') + std::string(10000, ']') + ",\"rrname\":\"a.\"," +
          base + "}",
      "{\"rrname\":\"a.\",\"rrtype\":\"TXT\",\"rdata\":\"\\\"" + std::string(40000, 'x') +
          "\\u0041\\\"\",\"time_last\":7,\"note\":\"\\n" + std::string(70000, 'y') + "\"}",
  };
  Differ d;
  for (const std::string& line : lines) {
    d.check(line);
    if (::testing::Test::HasFatalFailure()) return;
  }
  EXPECT_GT(d.accepted, 10u);
}

// ---- Generated lines. ----

class Generator {
 public:
  explicit Generator(uint32_t seed) : rng_(seed) {}

  size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
  bool chance(int percent) { return static_cast<int>(pick(100)) < percent; }

  std::string number() {
    static const char* const kNumbers[] = {
        "1", "0", "-1", "1.0", "1e3", "1E3", "-0", "2.5e-3", "65535", "65536",
        "4294967295", "4294967296", "1600000000", "1600000100",
        "9223372036854775807", "9223372036854775808", "99999999999999999999", "10", "20"};
    return kNumbers[pick(std::size(kNumbers))];
  }

  std::string text() {
    static const char* const kTexts[] = {
        "a.example.", "A.Example.COM", ".", "", "x y", "a\\tb", "\\u0041.example",
        "a\\u0000b", "\\u0000", "\\\"q\\\"", "A", "AAAA", "MX", "TXT", "NOPE", "CNAME",
        "192.0.2.1", "2001:db8::1", "10 mail.example.", "\\\"txt\\\" \\\"two\\\"",
        "1.2.3", "caf\\u00e9.example", "\\u00e9\\ud83d\\ude00", "ns.example. a. 1 2 3 4 5"};
    return std::string("\"") + kTexts[pick(std::size(kTexts))] + "\"";
  }

  std::string value(int depth) {
    switch (pick(depth > 2 ? 4 : 7)) {
      case 0: return number();
      case 1: return text();
      case 2: return chance(50) ? "null" : chance(50) ? "true" : "false";
      case 3: return text();
      case 4: {
        std::string s = "[";
        for (size_t i = 0, n = pick(4); i < n; ++i) s += (i ? "," : "") + value(depth + 1);
        return s + "]";
      }
      default: {
        std::string s = "{";
        for (size_t i = 0, n = pick(4); i < n; ++i) {
          s += (i ? "," : "") + key() + ":" + value(depth + 1);
        }
        return s + "}";
      }
    }
  }

  std::string key() {
    static const char* const kKeys[] = {
        "rrname", "rrtype", "rdata", "time_first", "time_last", "zone_time_first",
        "zone_time_last", "count", "bailiwick", "rrname\\u0000x", "rdat", "sensor"};
    return std::string("\"") + kKeys[pick(std::size(kKeys))] + "\"";
  }

  // A member value of the shape its name expects most of the time.
  std::string field_value(const std::string& name) {
    if (chance(70)) return good_value(name);
    if (chance(15)) return value(1);
    if (name == "rrtype") return chance(60) ? text() : number();
    if (name == "rdata") {
      if (chance(50)) return text();
      std::string s = "[";
      for (size_t i = 0, n = pick(4); i < n; ++i) {
        s += (i ? "," : "") + (chance(85) ? text() : value(2));
      }
      return s + "]";
    }
    if (name == "rrname") return text();
    return number();
  }

  // A value the member accepts, of the line's record type.
  std::string good_value(const std::string& name) {
    static const char* const kTypes[][2] = {{"\"A\"", "\"192.0.2.1\""},
                                            {"28", "\"2001:db8::1\""},
                                            {"\"MX\"", "\"10 Mail.Example.\""},
                                            {"\"TXT\"", "\"\\\"a b\\\" c\""}};
    if (name == "rrname") return "\"Host" + std::to_string(pick(100)) + ".Example.\"";
    if (name == "rrtype") return kTypes[type_][0];
    if (name == "rdata") {
      if (chance(50)) return kTypes[type_][1];
      std::string s = "[";
      for (size_t i = 0, n = 1 + pick(3); i < n; ++i) s += (i ? "," : "") + std::string(kTypes[type_][1]);
      return s + "]";
    }
    if (name == "count") return std::to_string(pick(1000));
    return name.find("first") != std::string::npos ? "1600000000" : "1600000100";
  }

  // An observation line: the usual members in random order, some repeated, some left
  // out, with unrelated members between them.
  std::string line() {
    std::vector<std::string> members;
    type_ = pick(4);
    static const char* const kNames[] = {"rrname", "rrtype", "rdata", "time_first",
                                         "time_last", "zone_time_first", "zone_time_last",
                                         "count"};
    for (const char* n : kNames) {
      const std::string name = n;
      if (chance(12)) continue;
      const int copies = chance(10) ? 2 : 1;
      for (int i = 0; i < copies; ++i) {
        members.push_back("\"" + name + "\":" + field_value(name));
      }
    }
    for (size_t i = 0, n = pick(3); i < n; ++i) members.push_back(key() + ":" + value(0));
    std::shuffle(members.begin(), members.end(), rng_);
    std::string s = "{";
    for (size_t i = 0; i < members.size(); ++i) s += (i ? (chance(10) ? " , " : ",") : "") + members[i];
    return s + "}";
  }

  std::string mutate(std::string s) {
    static const char kBytes[] = "{}[]\":,\\0123456789.eE-u /*\t\r ";
    for (size_t k = 0, n = 1 + pick(3); k < n && !s.empty(); ++k) {
      const size_t at = pick(s.size());
      switch (pick(3)) {
        case 0: s[at] = kBytes[pick(sizeof kBytes - 1)]; break;
        case 1: s.insert(at, 1, kBytes[pick(sizeof kBytes - 1)]); break;
        default: s.erase(at, 1 + pick(3)); break;
      }
    }
    return s;
  }

 private:
  std::mt19937 rng_;
  size_t type_ = 0;  // record type of the line being made
};

TEST(CofParse, GeneratedAndMutatedLinesAgreeWithTheTreeReader) {
  Generator g(20240611);
  Differ d;
  for (int i = 0; i < 3000; ++i) {
    const std::string line = g.line();
    d.check(line);
    d.check(g.mutate(line));
    if (::testing::Test::HasFatalFailure()) return;
  }
  // Enough of them must be accepted for the contents to have been compared.
  EXPECT_GT(d.accepted, 200u);
}

TEST(CofParse, EveryTruncationAgreesWithTheTreeReader) {
  const std::string lines[] = {
      R"({"rrname":"www.Example.com.","rrtype":"A","rdata":["192.0.2.1","192.0.2.2"],)"
      R"("time_first":1600000000,"time_last":1600000100,"count":3,"x":{"y":[1,2.5,null]}})",
      R"({ "count" : 100 , "rrtype" : 15 , "rdata" : "10 mx.example." , "rrname" : "a\u0041." ,)"
      R"( "zone_time_last" : 7 } )",
  };
  Differ d;
  for (const std::string& line : lines) {
    for (size_t n = 0; n <= line.size(); ++n) {
      d.check(line.substr(0, n));
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
  EXPECT_GE(d.accepted, 2u);
}

}  // namespace
}  // namespace quarn
