#include "output/query_message.h"

#include <strings.h>
#include <yajl/yajl_tree.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <type_traits>

#include "common/log.h"
#include "output/json_messages.h"
#include "output/status_message.h"
#include "retrieval/rrkit.h"

namespace quarn {

namespace {

// The tree parser builds and frees nested values recursively, so a message of a few
// hundred kilobytes of brackets could exhaust the stack; real queries nest two deep.
constexpr int kQueryMaxDepth = 32;

// Record types that need DNSSEC validation to be meaningful; the service refuses them.
constexpr uint16_t kDnssecRrtypes[] = {43, 46, 47, 48, 50, 51, 59, 60, 32769};

struct TreeDeleter {
  void operator()(yajl_val v) const { yajl_tree_free(v); }
};
using Tree = std::unique_ptr<std::remove_pointer_t<yajl_val>, TreeDeleter>;

// True when objects and arrays nest deeper than `limit` outside of strings.
bool nests_deeper_than(std::string_view text, int limit) {
  int depth = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;  // the escaped character cannot end the string
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      if (++depth > limit) return true;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return false;
}

// The value at query.<key> if it has the wanted type, else null (counts as missing).
yajl_val query_field(yajl_val root, const char* key, yajl_type type) {
  const char* path[] = {"query", key, nullptr};
  return yajl_tree_get(root, path, type);
}

std::string fail(int code, const char* text = nullptr) { return build_status_message(code, text); }

void log_parse_failure(const char* reason) {
  // yajl's verbose messages quote the input over several lines; keep the log one line.
  std::string line = (reason != nullptr && reason[0] != '\0') ? reason : kQueryParseNoReason;
  std::replace(line.begin(), line.end(), '\n', ' ');
  while (!line.empty() && line.back() == ' ') line.pop_back();
  QLOG(LOG_ERROR, kQueryParseErrorFmt, line.c_str());
}

// Reads an optional integer field. False (with the status message in *error) when it is
// a number but not one that fits a 64-bit integer; absent or non-numeric leaves it unset.
bool optional_integer(yajl_val root, const char* key, bool* set, int64_t* value,
                      std::optional<std::string>* error) {
  yajl_val v = query_field(root, key, yajl_t_number);
  if (v == nullptr) return true;
  if (!YAJL_IS_INTEGER(v)) {
    *error = fail(kStatusIllegalType);
    return false;
  }
  *set = true;
  *value = YAJL_GET_INTEGER(v);
  return true;
}

// Parses the message into a tree; nullptr (logged) for anything the parser must not
// see or cannot read.
Tree parse_tree(std::string_view message) {
  // The parser reads a NUL-terminated text: an embedded NUL would silently cut the
  // message, so it is refused like any other malformed message.
  if (message.find('\0') != std::string_view::npos) {
    log_parse_failure(kQueryParseNulByte);
    return nullptr;
  }
  if (nests_deeper_than(message, kQueryMaxDepth)) {
    log_parse_failure("message nests too deeply");
    return nullptr;
  }
  std::string text(message);
  char errbuf[kQueryParseErrorSize];
  errbuf[0] = '\0';
  Tree tree(yajl_tree_parse(text.c_str(), errbuf, sizeof errbuf));
  if (tree == nullptr) log_parse_failure(errbuf);
  return tree;
}

struct RequiredFields {
  yajl_val method = nullptr;
  yajl_val what = nullptr;
  yajl_val ret = nullptr;
  yajl_val value = nullptr;
  yajl_val rrtype = nullptr;
  yajl_val limit = nullptr;
};

// Finds the required fields in their fixed order; the first missing one is the answer.
std::optional<std::string> find_required(yajl_val root, RequiredFields& f) {
  f.method = query_field(root, "search_method", yajl_t_string);
  f.what = query_field(root, "search_what", yajl_t_string);
  if (f.method == nullptr) return fail(kStatusMissingParameter, kQueryMissingSearchMethod);
  if (f.what == nullptr) return fail(kStatusMissingParameter, kQueryMissingSearchWhat);
  f.ret = query_field(root, "return_what", yajl_t_string);
  if (f.ret == nullptr) return fail(kStatusMissingParameter, kQueryMissingReturnWhat);
  f.value = query_field(root, "value", yajl_t_string);
  if (f.value == nullptr) return fail(kStatusMissingParameter, kQueryMissingValue);
  f.rrtype = query_field(root, "rrtype", yajl_t_string);
  if (f.rrtype == nullptr) return fail(kStatusMissingParameter, kQueryMissingRrtype);
  f.limit = query_field(root, "limit", yajl_t_number);
  if (f.limit == nullptr) return fail(kStatusMissingParameter, kQueryMissingLimit);
  return std::nullopt;
}

// Method, scope and return option, in that order.
std::optional<std::string> read_choices(const RequiredFields& f, bool scope_must_be_known,
                                        query_request& request) {
  const char* method_text = YAJL_GET_STRING(f.method);
  if (strcasecmp(method_text, "regex") == 0) {
    request.regex = true;
  } else if (strcasecmp(method_text, "glob") == 0) {
    request.regex = false;
  } else {
    return fail(kStatusInvalidMethod);
  }

  const char* what_text = YAJL_GET_STRING(f.what);
  if (strcasecmp(what_text, "rrnames") == 0) {
    request.scope = 0;
  } else if (strcasecmp(what_text, "rdata") == 0) {
    request.scope = 1;
  } else if (scope_must_be_known) {
    return fail(kStatusInvalidScope);
  } else {
    request.scope = 0;
  }
  request.search_what.assign(what_text, std::min(std::strlen(what_text), kQueryMaxSearchWhat));

  const char* ret_text = YAJL_GET_STRING(f.ret);
  if (strcasecmp(ret_text, "terse") == 0) {
    request.details = false;
  } else if (strcasecmp(ret_text, "details") == 0) {
    request.details = true;
  } else {
    return fail(kStatusInvalidReturn);
  }
  return std::nullopt;
}

// The record type: a mnemonic or "any"; DNSSEC types are refused.
std::optional<std::string> read_rrtype(yajl_val field, query_request& request) {
  const char* type_text = YAJL_GET_STRING(field);
  if (strcasecmp(type_text, "any") == 0) {
    request.rrtype = 0;
  } else {
    uint16_t type = rrkit_str_to_rrtype(type_text);
    if (type == 0) return fail(kStatusInvalidRrtype);
    if (std::find(std::begin(kDnssecRrtypes), std::end(kDnssecRrtypes), type) !=
        std::end(kDnssecRrtypes)) {
      return fail(kStatusInvalidRrtype, kQueryDnssecRrtype);
    }
    request.rrtype = type;
  }
  return std::nullopt;
}

// The limit, then the length of the value.
std::optional<std::string> read_limit_and_value(const RequiredFields& f, query_request& request) {
  // The limit is an unsigned count: a negative integer stands for a practically
  // unlimited one, as -L -1 does on the command line, and callers may send it for that.
  // A fractional or out-of-range number has no integer value and is refused like 0.
  if (!YAJL_IS_INTEGER(f.limit) || YAJL_GET_INTEGER(f.limit) == 0) return fail(kStatusInvalidLimit);
  request.limit = static_cast<uint64_t>(YAJL_GET_INTEGER(f.limit));

  const char* value_text = YAJL_GET_STRING(f.value);
  size_t value_len = std::strlen(value_text);
  if (value_len > kQueryMaxValue) return fail(kStatusValueTooLong, kQueryValueTooLong);
  request.value.assign(value_text, value_len);
  return std::nullopt;
}

// The time bounds, the offset, the exclusion and with_records, each optional.
std::optional<std::string> read_optional_fields(yajl_val root, query_request& request) {
  std::optional<std::string> error;
  if (!optional_integer(root, "time_first_before", &request.time_first_before_set,
                        &request.time_first_before, &error) ||
      !optional_integer(root, "time_first_after", &request.time_first_after_set,
                        &request.time_first_after, &error) ||
      !optional_integer(root, "time_last_before", &request.time_last_before_set,
                        &request.time_last_before, &error) ||
      !optional_integer(root, "time_last_after", &request.time_last_after_set,
                        &request.time_last_after, &error)) {
    return error;
  }
  bool offset_set = false;
  int64_t offset = 0;
  if (!optional_integer(root, "offset", &offset_set, &offset, &error)) return error;
  if (offset < 0) return fail(kStatusIllegalType);
  request.offset = static_cast<uint64_t>(offset);

  if (yajl_val exclude = query_field(root, "exclude", yajl_t_string)) {
    request.exclude = YAJL_GET_STRING(exclude);
  }
  // Only a JSON true asks for the records: false, or any other type, leaves them out.
  request.with_records = query_field(root, "with_records", yajl_t_true) != nullptr;
  return std::nullopt;
}

}  // namespace

std::optional<std::string> parse_query_message(std::string_view message, query_request& request,
                                                bool scope_must_be_known) {
  Tree tree = parse_tree(message);
  if (tree == nullptr) return fail(kStatusInternalError, kQueryParserFailed);
  yajl_val root = tree.get();
  request = query_request{};

  RequiredFields fields;
  if (auto answer = find_required(root, fields)) return answer;
  if (auto answer = read_choices(fields, scope_must_be_known, request)) return answer;
  if (auto answer = read_rrtype(fields.rrtype, request)) return answer;
  if (auto answer = read_limit_and_value(fields, request)) return answer;
  return read_optional_fields(root, request);
}

}  // namespace quarn
