// An expression planned and compiled once, for any number of searches on any thread.
//
// prepare_expression() does the work of search_context::compile() (plan the trigram
// query, render the matcher pattern, compile it) and keeps what it made immutable: the
// query tree and the matcher's database are only ever read by the searches that install
// them (search_context::install), each of which allocates matcher scratch of its own.
// prepare_exclusion() is the same for an exclusion pattern, which has no query.
//
// Ownership: returned as shared pointers to const; whoever holds one (a search context,
// a cache) keeps the whole thing alive. Nothing in it changes after preparation, so it
// needs no locking.
//
// Failures: as search_context::compile() and compile_exclusion(): null, with the
// failing stage's message in *error (possibly empty); a planner error is also logged at
// level "debug".
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

struct hs_database;

namespace quarn {

struct tgr_result;

struct prepared_expression {
  std::shared_ptr<const tgr_result> query;  // null: table scan (always, for an exclusion)
  std::string pattern_text;                 // the matcher's pattern
  std::shared_ptr<hs_database> database;    // the compiled matcher
  double plan_seconds = 0;                  // parsing, rendering and trigram planning
  double compile_seconds = 0;               // compiling the matcher
  size_t bytes = 0;                         // memory held, roughly: database, tree, text
};

std::shared_ptr<const prepared_expression> prepare_expression(std::string_view expression,
                                                              bool glob, std::string* error);
std::shared_ptr<const prepared_expression> prepare_exclusion(std::string_view expression,
                                                             bool glob, std::string* error);

}  // namespace quarn
