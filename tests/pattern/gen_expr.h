// Random regular expressions in our dialect, for the property tests.
//
// The generator favours realistic shapes (short literals, small classes, bounded
// repeats of at most 3) but also emits the corners of the dialect: escapes, anchors in
// every alternative, empty alternatives, stacked repetitions, named classes, ']' and '-'
// as bracket members. Some outputs are not valid (a '^' after an atom, say); callers skip
// those that fail to parse.
#pragma once

#include <random>
#include <string>

namespace quarn::testing {

class ExprGen {
 public:
  // Without embedded anchors, '^' and '$' only start and end top-level alternatives,
  // which is what the matcher's engine supports.
  explicit ExprGen(uint32_t seed, bool embedded_anchors = true)
      : rng_(seed), embedded_anchors_(embedded_anchors) {}

  std::string expr() { return alternation(0); }

  // A candidate text over an alphabet that the expressions talk about.
  std::string text() {
    static const char kChars[] = "abcABC01.-x]\\^[_ z\t\x01\x80";
    std::string s;
    const int len = static_cast<int>(pick(9));
    for (int i = 0; i < len; ++i) s.push_back(kChars[pick(sizeof kChars - 1)]);
    return s;
  }

  uint32_t pick(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }

 private:
  std::string alternation(int depth) {
    std::string s = sequence(depth);
    while (pick(4) == 0) s += "|" + sequence(depth);
    return s;
  }

  std::string sequence(int depth) {
    std::string s;
    const bool anchors = embedded_anchors_ || depth == 0;
    if (anchors && pick(8) == 0) s += "^";
    const int n = static_cast<int>(pick(4));
    for (int i = 0; i < n; ++i) s += atom(depth) + repeat();
    if (anchors && pick(8) == 0) s += "$";
    return s;
  }

  std::string repeat() {
    switch (pick(14)) {
      case 0: return "*";
      case 1: return "+";
      case 2: return "?";
      case 3: return "{" + std::to_string(1 + pick(3)) + "}";
      case 4: return "{" + std::to_string(pick(3)) + ",}";
      case 5: {
        const uint32_t m = pick(3);
        return "{" + std::to_string(m) + "," + std::to_string(m + 1 + pick(2)) + "}";
      }
      case 6: return "*?";  // a repeated repetition
      default: return "";
    }
  }

  std::string atom(int depth) {
    switch (pick(12)) {
      case 0: return ".";
      case 1:
      case 2: return bracket();
      case 3: return depth < 3 ? "(" + alternation(depth + 1) + ")" : "a";
      case 4: {
        static const char kEsc[] = "$()*+.?[\\^{|";
        return std::string("\\") + kEsc[pick(sizeof kEsc - 1)];
      }
      case 5: return "]";
      default: {
        static const char kLit[] = "abcABx01-_ ";
        std::string s(1, kLit[pick(sizeof kLit - 1)]);
        if (pick(2)) s.push_back(kLit[pick(sizeof kLit - 1)]);
        return s;
      }
    }
  }

  std::string bracket() {
    static const char* kParts[] = {"a",  "b",  "c",         "x",         "a-c",  "A-C",
                                   "0-9", "_", "[:digit:]", "[:upper:]", ".",    "^",
                                   "\\", "[",  "Z-a", "[:space:]", "[:cntrl:]", "[:blank:]"};
    std::string s = "[";
    if (pick(3) == 0) s += "^";
    if (pick(6) == 0) s += "]";
    if (pick(8) == 0) s += "-";
    const int n = 1 + static_cast<int>(pick(3));
    for (int i = 0; i < n; ++i) s += kParts[pick(sizeof kParts / sizeof kParts[0])];
    if (pick(8) == 0) s += "-";
    return s + "]";
  }

  std::mt19937 rng_;
  bool embedded_anchors_;
};

}  // namespace quarn::testing
