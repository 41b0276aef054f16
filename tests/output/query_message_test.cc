#include "output/query_message.h"

#include <gtest/gtest.h>

#include <string>

#include "output/json_test_util.h"

namespace quarn {
namespace {

using testing_json::LogCapture;
using testing_json::Parsed;

struct Fields {
  std::string method = "\"regex\"";
  std::string what = "\"rrnames\"";
  std::string ret = "\"details\"";
  std::string value = "\"^www\\\\.\"";
  std::string rrtype = "\"A\"";
  std::string limit = "100";
  std::string extra;  // appended members, each starting with a comma
};

// A query message with the given members; a member whose text is empty is left out.
std::string message(const Fields& f) {
  std::string body;
  auto add = [&](const char* key, const std::string& v) {
    if (v.empty()) return;
    if (!body.empty()) body += ",";
    body += std::string("\"") + key + "\":" + v;
  };
  add("search_method", f.method);
  add("search_what", f.what);
  add("return_what", f.ret);
  add("value", f.value);
  add("rrtype", f.rrtype);
  add("limit", f.limit);
  return "{\"query\":{" + body + f.extra + "}}";
}

// Parses and expects failure; returns {code, msg} of the status message.
std::pair<long long, std::string> refusal(const std::string& text, bool strict = true) {
  query_request req;
  std::optional<std::string> fin = parse_query_message(text, req, strict);
  if (!fin) return {0, "<accepted>"};
  Parsed p(*fin);
  return {p.integer({"fin"}), p.str({"msg"})};
}

using Refusal = std::pair<long long, std::string>;

TEST(QueryMessage, AcceptsAFullQuery) {
  Fields f;
  f.method = "\"GLOB\"";
  f.what = "\"RData\"";
  f.ret = "\"Terse\"";
  f.rrtype = "\"mx\"";
  f.extra =
      ",\"time_first_before\":1600000000,\"time_first_after\":-5,\"time_last_before\":7,"
      "\"time_last_after\":8,\"offset\":20,\"exclude\":\"*.test\"";
  query_request req;
  req.exclude = "stale";
  req.time_first_before_set = true;
  ASSERT_EQ(parse_query_message(message(f), req, true), std::nullopt);
  EXPECT_EQ(req.value, "^www\\.");
  EXPECT_EQ(req.search_what, "RData");
  EXPECT_FALSE(req.regex);
  EXPECT_EQ(req.scope, 1);
  EXPECT_FALSE(req.details);
  EXPECT_EQ(req.rrtype, 15);
  EXPECT_EQ(req.limit, 100u);
  EXPECT_TRUE(req.time_first_before_set && req.time_first_after_set && req.time_last_before_set &&
              req.time_last_after_set);
  EXPECT_EQ(req.time_first_before, 1600000000);
  EXPECT_EQ(req.time_first_after, -5);
  EXPECT_EQ(req.time_last_before, 7);
  EXPECT_EQ(req.time_last_after, 8);
  EXPECT_EQ(req.offset, 20u);
  EXPECT_EQ(req.exclude, "*.test");

  // A minimal query resets everything the previous one set.
  ASSERT_EQ(parse_query_message(message(Fields{}), req, true), std::nullopt);
  EXPECT_TRUE(req.regex);
  EXPECT_EQ(req.scope, 0);
  EXPECT_TRUE(req.details);
  EXPECT_EQ(req.rrtype, 1);
  EXPECT_FALSE(req.time_first_before_set || req.time_first_after_set ||
               req.time_last_before_set || req.time_last_after_set);
  EXPECT_EQ(req.offset, 0u);
  EXPECT_EQ(req.exclude, std::nullopt);
}

TEST(QueryMessage, MissingFieldsInOrder) {
  EXPECT_EQ(refusal("{\"other\":{}}"), Refusal(400, "query message was missing search_method field"));
  EXPECT_EQ(refusal("[1,2]"), Refusal(400, "query message was missing search_method field"));
  Fields f;
  f.method = "5";  // wrong type counts as missing
  f.what = "";
  EXPECT_EQ(refusal(message(f)), Refusal(400, "query message was missing search_method field"));
  f = Fields{};
  f.what = "";
  f.ret = "";
  EXPECT_EQ(refusal(message(f)), Refusal(400, "query message was missing search_what field"));
  f = Fields{};
  f.ret = "true";
  f.value = "";
  EXPECT_EQ(refusal(message(f)), Refusal(400, "query message was missing return_what field"));
  f = Fields{};
  f.value = "null";
  EXPECT_EQ(refusal(message(f)), Refusal(400, "query message was missing value field"));
  f = Fields{};
  f.rrtype = "1";
  EXPECT_EQ(refusal(message(f)), Refusal(400, "query message was missing rrtype field"));
  f = Fields{};
  f.limit = "\"10\"";
  EXPECT_EQ(refusal(message(f)), Refusal(400, "query message was missing limit field"));
}

TEST(QueryMessage, InvalidChoices) {
  Fields f;
  f.method = "\"regexp\"";
  f.what = "\"nowhere\"";  // method is checked first
  EXPECT_EQ(refusal(message(f)), Refusal(805, "query message contained invalid search method"));
  f.method = "\"regex\"";
  EXPECT_EQ(refusal(message(f)), Refusal(806, "query message contained invalid search scope"));

  // Without the strict flag an unknown scope is searched as owner names, text kept
  // up to its limit.
  f.what = "\"" + std::string(600, 'w') + "\"";
  query_request req;
  ASSERT_EQ(parse_query_message(message(f), req, false), std::nullopt);
  EXPECT_EQ(req.scope, 0);
  EXPECT_EQ(req.search_what, std::string(kQueryMaxSearchWhat, 'w'));

  f = Fields{};
  f.ret = "\"verbose\"";
  EXPECT_EQ(refusal(message(f)), Refusal(807, "query message contained invalid return option"));
}

TEST(QueryMessage, Rrtypes) {
  Fields f;
  query_request req;
  f.rrtype = "\"ANY\"";
  ASSERT_EQ(parse_query_message(message(f), req, true), std::nullopt);
  EXPECT_EQ(req.rrtype, 0);
  f.rrtype = "\"aaaa\"";
  ASSERT_EQ(parse_query_message(message(f), req, true), std::nullopt);
  EXPECT_EQ(req.rrtype, 28);

  for (const char* dnssec : {"DNSKEY", "ds", "RRSIG", "NSEC", "NSEC3", "NSEC3PARAM", "CDS",
                             "CDNSKEY", "DLV"}) {
    f.rrtype = std::string("\"") + dnssec + "\"";
    EXPECT_EQ(refusal(message(f)), Refusal(808, "query message contained dnssec-related rrtype"))
        << dnssec;
  }
  for (const char* bad : {"NOTATYPE", ""}) {
    f.rrtype = std::string("\"") + bad + "\"";
    EXPECT_EQ(refusal(message(f)), Refusal(808, "query message contained invalid rrtype")) << bad;
  }
  // The type is checked before the limit.
  f.limit = "0";
  EXPECT_EQ(refusal(message(f)).first, 808);
}

TEST(QueryMessage, Limits) {
  Fields f;
  for (const char* bad : {"0", "1.5", "1e3", "99999999999999999999"}) {
    f.limit = bad;
    EXPECT_EQ(refusal(message(f)), Refusal(809, "query message contained invalid limit")) << bad;
  }
  query_request req;
  f.limit = "9223372036854775807";
  ASSERT_EQ(parse_query_message(message(f), req, true), std::nullopt);
  EXPECT_EQ(req.limit, 9223372036854775807u);
  // A negative limit is a count with no practical bound.
  f.limit = "-1";
  ASSERT_EQ(parse_query_message(message(f), req, true), std::nullopt);
  EXPECT_EQ(req.limit, UINT64_MAX);
}

TEST(QueryMessage, ValueLength) {
  Fields f;
  query_request req;
  f.value = "\"" + std::string(kQueryMaxValue, 'v') + "\"";
  ASSERT_EQ(parse_query_message(message(f), req, true), std::nullopt);
  EXPECT_EQ(req.value.size(), 4095u);
  f.value = "\"" + std::string(kQueryMaxValue + 1, 'v') + "\"";
  EXPECT_EQ(refusal(message(f)), Refusal(810, "query message search string is too long"));
  // The length counts bytes of the decoded value, not of its escaped form.
  f.value = "\"" + std::string(4094, 'v') + "\\u00e9\"";
  EXPECT_EQ(refusal(message(f)).first, 810);
}

TEST(QueryMessage, OptionalFieldsOfTheWrongKind) {
  Fields f;
  query_request req;
  // Not numbers (or not a string for exclude): treated as absent.
  f.extra = ",\"time_first_before\":\"1\",\"offset\":null,\"exclude\":3";
  ASSERT_EQ(parse_query_message(message(f), req, true), std::nullopt);
  EXPECT_FALSE(req.time_first_before_set);
  EXPECT_EQ(req.offset, 0u);
  EXPECT_EQ(req.exclude, std::nullopt);
  // Numbers that are no usable integer are refused rather than turned into nonsense.
  for (const char* extra : {",\"time_last_after\":1.5", ",\"time_first_after\":1e40",
                            ",\"offset\":-1", ",\"offset\":0.5"}) {
    f.extra = extra;
    EXPECT_EQ(refusal(message(f)), Refusal(416, "parameter had illegal type")) << extra;
  }
}

TEST(QueryMessage, MalformedMessagesAreParserErrors) {
  const Refusal parser_error(500, "unexpected error in json parser");
  LogCapture log;
  EXPECT_EQ(refusal("{\"query\":"), parser_error);
  EXPECT_EQ(refusal(""), parser_error);
  EXPECT_EQ(refusal(message(Fields{}) + " {}"), parser_error);
  std::string logged = log.text();
  EXPECT_NE(logged.find("Error in yajl_tree_parse(): "), std::string::npos) << logged;
  // One log line per failure, however the parser formats its message.
  EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 3) << logged;

  std::string with_nul = message(Fields{});
  with_nul.insert(20, 1, '\0');
  EXPECT_EQ(refusal(with_nul), parser_error);
  // Deep nesting is refused before the parser's recursion could exhaust the stack;
  // brackets inside strings do not count.
  EXPECT_EQ(refusal(std::string(100000, '[') + std::string(100000, ']')), parser_error);
  Fields f;
  f.value = "\"" + std::string(100, '[') + "\"";
  query_request req;
  EXPECT_EQ(parse_query_message(message(f), req, true), std::nullopt);
}

}  // namespace
}  // namespace quarn
