// Random search expressions for property tests, with strings derived from them.
//
// Generates a small pattern description in both dialects (regular expression and glob),
// renders it as expression text, and samples strings that the expression is meant to
// match (plus mutations and unrelated names). The matcher stays the judge of what
// matches: samples are only candidates, so the generator may be approximate.
#pragma once

#include <bitset>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace quarn::testing {

struct gen_node {
  enum kind_t { literal, klass, any, group, sequence } kind = literal;
  std::string text;             // literal
  std::bitset<256> members;     // klass
  std::vector<gen_node> kids;   // group alternatives, sequence items
  uint32_t min = 1, max = 1;    // repetition (max 0 = unbounded)
  bool start = false, end = false;  // anchors of a sequence
};

class expression_gen {
 public:
  explicit expression_gen(uint64_t seed) : rng_(seed) {}

  // A random regular expression and its description.
  gen_node regex_tree();
  // A random glob (always a sequence).
  gen_node glob_tree();

  static std::string render_regex(const gen_node& n);
  static std::string render_glob(const gen_node& n);

  // A string meant to match n: for an unanchored regex, random text may surround it.
  std::string sample(const gen_node& n, bool glob);
  // A random edit of s (insert, delete, replace, case flip, duplicate a slice).
  std::string mutate(const std::string& s);
  // A random DNS-like name.
  std::string random_name();

  std::mt19937_64& rng() { return rng_; }

 private:
  int pick(int n) { return static_cast<int>(rng_() % static_cast<uint64_t>(n)); }
  bool chance(int percent) { return pick(100) < percent; }
  char random_byte();
  std::string random_literal();
  gen_node random_class(bool glob);
  gen_node atom(int depth);
  gen_node sequence(int depth, bool top);
  gen_node small_sequence();
  void apply_repeat(gen_node& n);
  void sample_into(const gen_node& n, std::string& out);

  std::mt19937_64 rng_;
};

}  // namespace quarn::testing
