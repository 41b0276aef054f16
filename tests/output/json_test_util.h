// Helpers for the JSON output tests: parsing a line back into a tree and capturing
// what the code under test logs.
#pragma once

#include <yajl/yajl_tree.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/log.h"
#include "support/log_capture.h"

namespace quarn::testing_json {

// A parsed JSON text; ok() is false when the text is not exactly one JSON value.
class Parsed {
 public:
  explicit Parsed(const std::string& text) {
    char err[1024];
    tree_ = yajl_tree_parse(text.c_str(), err, sizeof err);
  }
  ~Parsed() { yajl_tree_free(tree_); }
  Parsed(const Parsed&) = delete;
  Parsed& operator=(const Parsed&) = delete;

  bool ok() const { return tree_ != nullptr; }

  yajl_val at(std::initializer_list<const char*> keys) const {
    std::vector<const char*> path(keys);
    path.push_back(nullptr);
    return yajl_tree_get(tree_, path.data(), yajl_t_any);
  }
  // Keys of the object at path, in document order (empty if not an object).
  std::vector<std::string> keys(std::initializer_list<const char*> path) const {
    std::vector<std::string> out;
    yajl_val v = path.size() == 0 ? tree_ : at(path);
    if (!YAJL_IS_OBJECT(v)) return out;
    for (size_t i = 0; i < v->u.object.len; ++i) out.emplace_back(v->u.object.keys[i]);
    return out;
  }
  std::string str(std::initializer_list<const char*> path) const {
    yajl_val v = at(path);
    return YAJL_IS_STRING(v) ? YAJL_GET_STRING(v) : "<not a string>";
  }
  long long integer(std::initializer_list<const char*> path) const {
    yajl_val v = at(path);
    return YAJL_IS_INTEGER(v) ? YAJL_GET_INTEGER(v) : -424242;
  }

 private:
  yajl_val tree_ = nullptr;
};

// Captures log lines at level "error" or more important.
struct LogCapture : quarn::testing::LogCapture {
  LogCapture() : quarn::testing::LogCapture(LOG_ERROR) {}
};

}  // namespace quarn::testing_json
