#include "planner/tgr_result.h"

#include <cstdio>

#include "common/log.h"

namespace quarn {

void TrigramBitmap::add_padded_text(std::string_view text) {
  // A sliding window of three symbol values over "^^" text "^^".
  uint8_t a = kSymbolPad, b = kSymbolPad;
  for (unsigned char c : text) {
    uint8_t v = trigram_symbol(c);
    set(trigram_ordinal_of_symbols(a, b, v));
    a = b;
    b = v;
  }
  set(trigram_ordinal_of_symbols(a, b, kSymbolPad));
  set(trigram_ordinal_of_symbols(b, kSymbolPad, kSymbolPad));
}

tgr_ptr tgr_new(tgr_op op, size_t count, tgr_op child_op, size_t child_count) {
  auto node = std::make_unique<tgr_result>(op);
  if (op == TGR_INTERSECT_TRIGRAMS) {
    node->trigrams.assign(count, 0);
    return node;
  }
  node->children.resize(count);
  if (op == TGR_UNION && child_count != 0)
    for (auto& slot : node->children) slot = tgr_new(child_op, child_count);
  return node;
}

void tgr_grow(tgr_result* node, size_t extra) {
  if (!node || extra == 0) return;
  if (node->op == TGR_INTERSECT_TRIGRAMS)
    node->trigrams.resize(node->trigrams.size() + extra, 0);
  else
    node->children.resize(node->children.size() + extra);
}

tgr_ptr tgr_from_bitmap(const TrigramBitmap& bits) {
  auto node = std::make_unique<tgr_result>(TGR_INTERSECT_TRIGRAMS);
  bits.for_each([&](uint32_t o) { node->trigrams.push_back(o); });
  return node;
}

tgr_ptr tgr_single(uint32_t ordinal) {
  auto node = std::make_unique<tgr_result>(TGR_INTERSECT_TRIGRAMS);
  node->trigrams.push_back(ordinal);
  return node;
}

tgr_ptr tgr_union_from_bitmap(const TrigramBitmap& bits) {
  auto node = std::make_unique<tgr_result>(TGR_UNION);
  bits.for_each([&](uint32_t o) { node->children.push_back(tgr_single(o)); });
  return node;
}

tgr_ptr tgr_merge_trigrams(const tgr_result* a, const tgr_result* b) {
  if (!a || !b || a->op != TGR_INTERSECT_TRIGRAMS || b->op != TGR_INTERSECT_TRIGRAMS)
    return nullptr;
  auto node = std::make_unique<tgr_result>(TGR_INTERSECT_TRIGRAMS);
  const auto& x = a->trigrams;
  const auto& y = b->trigrams;
  node->trigrams.reserve(x.size() + y.size());
  size_t i = 0, j = 0;
  while (i < x.size() && j < y.size()) {
    if (x[i] < y[j]) {
      node->trigrams.push_back(x[i++]);
    } else if (y[j] < x[i]) {
      node->trigrams.push_back(y[j++]);
    } else {
      node->trigrams.push_back(x[i++]);
      ++j;
    }
  }
  node->trigrams.insert(node->trigrams.end(), x.begin() + i, x.end());
  node->trigrams.insert(node->trigrams.end(), y.begin() + j, y.end());
  return node;
}

tgr_ptr tgr_clone(const tgr_result* node) {
  if (!node) return nullptr;
  auto copy = std::make_unique<tgr_result>(node->op);
  copy->trigrams = node->trigrams;
  copy->children.reserve(node->children.size());
  for (const auto& c : node->children) copy->children.push_back(tgr_clone(c.get()));
  return copy;
}

size_t tgr_count_nodes(const tgr_result* node) {
  if (!node) return 0;
  size_t n = 1;
  for (const auto& c : node->children) n += tgr_count_nodes(c.get());
  return n;
}

void tgr_print(const tgr_result* node, int depth) {
  FILE* out = log_get_stream();
  std::fprintf(out, "%s", log_get_prefix());
  for (int i = 0; i < depth; ++i) std::fputc(' ', out);
  if (!node) {
    std::fprintf(out, "+ TGR: (none)\n");
    return;
  }
  std::fprintf(out, "+ TGR: 0=(%d)", static_cast<int>(node->op));
  if (node->op == TGR_INTERSECT_TRIGRAMS) {
    std::fprintf(out, ", # intersection[s] = %zu | ", node->trigrams.size());
    for (uint32_t o : node->trigrams) {
      char text[4];
      if (trigram_text(o, text) != 0) std::snprintf(text, sizeof text, "???");
      std::fprintf(out, "%d(%s) ", static_cast<int>(o), text);
    }
    std::fputc('\n', out);
    return;
  }
  std::fprintf(out, ", # %s = %zu\n", node->op == TGR_UNION ? "union" : "intersection[c]",
               node->children.size());
  for (const auto& c : node->children) tgr_print(c.get(), depth + 1);
  if (depth == 0) std::fputc('\n', out);
}

static void append_text(std::string& out, const tgr_result* node) {
  if (!node) {
    out += '-';
    return;
  }
  if (node->op == TGR_INTERSECT_TRIGRAMS) {
    out += '{';
    for (size_t i = 0; i < node->trigrams.size(); ++i) {
      char text[4];
      if (trigram_text(node->trigrams[i], text) != 0) std::snprintf(text, sizeof text, "???");
      if (i) out += ' ';
      out += text;
    }
    out += '}';
    return;
  }
  const char* sep = node->op == TGR_UNION ? " | " : " & ";
  out += '(';
  for (size_t i = 0; i < node->children.size(); ++i) {
    if (i) out += sep;
    append_text(out, node->children[i].get());
  }
  out += ')';
}

std::string tgr_to_text(const tgr_result* node) {
  if (!node) return "none";
  std::string out;
  append_text(out, node);
  return out;
}

}  // namespace quarn
