// The query optimiser: rewrites a generated trigram query into a smaller, flatter one
// that selects the same lines or more (never fewer). Every rule either drops a
// condition, merges conditions that are conjoined anyway, or factors a shared condition
// out of a union; none adds a demand that the input did not make.
#include <algorithm>
#include <unordered_map>
#include <vector>

#include "common/log.h"
#include "planner/messages.h"
#include "planner/tgr_result.h"

namespace quarn {

namespace msg = planner_msg;

namespace {

// Passes tried after the second one before giving up on a clean tree.
constexpr int kExtraPasses = 16;

bool has_empty_node(const tgr_result* n) {
  if (!n || n->empty()) return true;
  for (const auto& c : n->children)
    if (has_empty_node(c.get())) return true;
  return false;
}

// An empty union or intersection imposes no condition.
bool imposes_nothing(const tgr_result* n) { return n->empty(); }

// Every ordinal of `small` is also in `big`.
bool is_subset(const std::vector<uint32_t>& small, const std::vector<uint32_t>& big) {
  for (uint32_t o : small)
    if (std::find(big.begin(), big.end(), o) == big.end()) return false;
  return true;
}

// Flattens nested intersections and merges trigram lists. Gives the single
// remaining trigram item when the node unwraps, else nullptr (node changed in place).
tgr_ptr merge_intersection(tgr_result& node) {
  // Trigram lists and nested intersections among the children, and what they hold.
  size_t trigram_items = 0, trigram_count = 0, nested_items = 0, nested_count = 0;
  for (const auto& item : node.children) {
    if (item->op == TGR_INTERSECT_CHILDREN) {
      ++nested_items;
      nested_count += item->children.size();
    } else if (item->op == TGR_INTERSECT_TRIGRAMS) {
      ++trigram_items;
      trigram_count += item->trigrams.size();
    }
  }
  if (trigram_count == 0 && nested_count == 0) return nullptr;

  if (nested_count != 0) {
    std::vector<tgr_ptr> flat;
    flat.reserve(node.children.size() + nested_count);
    for (auto& item : node.children) {
      if (item->op != TGR_INTERSECT_CHILDREN) {
        flat.push_back(std::move(item));
        continue;
      }
      for (auto& grandchild : item->children) {
        if (grandchild && grandchild->op == TGR_INTERSECT_TRIGRAMS) {
          ++trigram_items;
          trigram_count += grandchild->trigrams.size();
        }
        flat.push_back(std::move(grandchild));
      }
    }
    node.children = std::move(flat);
    QLOG(LOG_DETAIL, msg::kFlattenedIntersections, nested_count, nested_items);
  }

  if (trigram_items >= 2) {
    // The first trigram item keeps its place and receives every list; duplicates are
    // dropped keeping first appearance.
    TrigramBitmap seen;
    tgr_result* first = nullptr;
    std::vector<uint32_t> merged;
    merged.reserve(trigram_count);
    std::vector<tgr_ptr> kept;
    kept.reserve(node.children.size());
    for (auto& item : node.children) {
      if (!item || item->op != TGR_INTERSECT_TRIGRAMS) {
        kept.push_back(std::move(item));
        continue;
      }
      for (uint32_t o : item->trigrams) {
        if (seen.test(o)) continue;
        seen.set(o);
        merged.push_back(o);
      }
      if (!first) {
        first = item.get();
        kept.push_back(std::move(item));
      }
    }
    first->trigrams = std::move(merged);
    node.children = std::move(kept);
    QLOG(LOG_DETAIL, msg::kMergedTrigramLists, trigram_count, trigram_items);
  }

  if (node.children.size() == 1 && node.children[0] &&
      node.children[0]->op == TGR_INTERSECT_TRIGRAMS) {
    QLOG(LOG_DETAIL, "%s", msg::kCollapsedPair);
    return std::move(node.children[0]);
  }
  return nullptr;
}

}  // namespace

tgr_ptr tgr_optimise(tgr_ptr node) {
  // Nothing, or an empty node, imposes no condition. An empty union is
  // read the same way: a union without alternatives never arises from a pattern that
  // can match, and reading it as "no line" would risk losing matches.
  if (!node) return nullptr;
  if (node->empty()) return nullptr;
  if (node->op == TGR_INTERSECT_TRIGRAMS) return node;

  // Children first.
  size_t collapsed = 0;
  for (auto& child : node->children) {
    child = tgr_optimise(std::move(child));
    if (!child) ++collapsed;
  }

  // An unconstrained alternative makes a union unconstrained; an unconstrained
  // item of an intersection just drops out.
  const size_t n = node->children.size();
  if (n > 0 && (collapsed == n || (node->op == TGR_UNION && collapsed > 0))) {
    QLOG(LOG_DETAIL, msg::kCollapsedBranch, n);
    return nullptr;
  }
  if (collapsed > 0) {
    std::erase_if(node->children, [](const tgr_ptr& c) { return !c; });
    QLOG(LOG_DETAIL, msg::kRemovedCollapsed, collapsed, n);
  }

  // Intersections: flatten and merge.
  if (node->op == TGR_INTERSECT_CHILDREN) {
    if (tgr_ptr only = merge_intersection(*node)) return only;
  }

  // Empty children impose no condition.
  if (node->op == TGR_UNION) {
    for (const auto& c : node->children)
      if (imposes_nothing(c.get())) return nullptr;
  } else {
    size_t before = node->children.size();
    std::erase_if(node->children, [](const tgr_ptr& c) { return imposes_nothing(c.get()); });
    size_t removed = before - node->children.size();
    if (removed > 0) {
      QLOG(LOG_DETAIL, msg::kReducedChildren, removed);
      // Every item dropped out: the intersection demands nothing.
      if (node->children.empty()) return nullptr;
    }
  }

  // Fold a single child into its parent.
  if (node->children.size() == 1) {
    tgr_ptr child = std::move(node->children[0]);
    node->op = child->op;
    node->children = std::move(child->children);
    node->trigrams = std::move(child->trigrams);
    QLOG(LOG_DETAIL, "%s", msg::kFoldedChild);
  }
  if (node->op != TGR_UNION || node->children.size() < 2) return node;

  // Unions of two or more children.
  bool all_unions = true, all_trigrams = true;
  for (const auto& c : node->children) {
    all_unions = all_unions && c->op == TGR_UNION;
    all_trigrams = all_trigrams && c->op == TGR_INTERSECT_TRIGRAMS;
  }
  if (all_unions) {
    QLOG(LOG_DETAIL, msg::kCollapsedUnion, node->children.size());
    auto flat = std::make_unique<tgr_result>(TGR_UNION);
    for (auto& c : node->children)
      for (auto& g : c->children) flat->children.push_back(std::move(g));
    return flat;
  }
  if (all_trigrams) return tgr_factor_common(std::move(node));
  return node;
}

tgr_ptr tgr_factor_common(tgr_ptr union_node) {
  if (!union_node || union_node->op != TGR_UNION || union_node->children.empty())
    return union_node;
  for (const auto& c : union_node->children)
    if (!c || c->op != TGR_INTERSECT_TRIGRAMS) return union_node;

  const auto& kids = union_node->children;
  TrigramBitmap common;
  for (uint32_t o : kids[0]->trigrams) {
    bool everywhere = true;
    for (size_t i = 1; i < kids.size() && everywhere; ++i)
      everywhere = std::find(kids[i]->trigrams.begin(), kids[i]->trigrams.end(), o) !=
                   kids[i]->trigrams.end();
    if (everywhere) common.set(o);
  }
  if (common.empty()) return union_node;

  tgr_ptr shared = tgr_from_bitmap(common);
  for (auto& c : union_node->children) {
    std::erase_if(c->trigrams, [&](uint32_t o) { return common.test(o); });
    // An emptied child demands nothing beyond the common part, so the union it sits in
    // becomes unconstrained on the next pass and only the common part remains.
    if (c->trigrams.empty()) QLOG(LOG_DEBUG, "%s", msg::kEmptyDifference);
  }
  auto result = std::make_unique<tgr_result>(TGR_INTERSECT_CHILDREN);
  result->children.push_back(std::move(shared));
  result->children.push_back(std::move(union_node));
  return result;
}

tgr_ptr tgr_remove_redundant(tgr_ptr tree) {
  tree = tgr_optimise(std::move(tree));

  if (tree && tree->op == TGR_UNION && tree->children.size() >= 2 &&
      std::all_of(tree->children.begin(), tree->children.end(),
                  [](const tgr_ptr& c) { return c && c->op == TGR_INTERSECT_TRIGRAMS; })) {
    auto& kids = tree->children;
    const size_t before = kids.size();
    size_t released = 0;
    // A child that demands everything a sibling demands admits only lines the sibling
    // admits already, so it adds nothing to the union. Each child i releases every live
    // sibling j holding all of i's trigrams in at least as many entries; such a j holds
    // every one of i's trigrams, so only the children holding i's rarest trigram need a
    // look (unions of single trigrams run to tens of thousands of children).
    std::unordered_map<uint32_t, std::vector<size_t>> holders;
    for (size_t j = 0; j < kids.size(); ++j)
      for (uint32_t o : kids[j]->trigrams) {
        auto& list = holders[o];
        if (list.empty() || list.back() != j) list.push_back(j);
      }
    for (size_t i = 0; i < kids.size(); ++i) {
      if (!kids[i] || kids[i]->trigrams.empty()) continue;
      const std::vector<size_t>* rarest = nullptr;
      for (uint32_t o : kids[i]->trigrams) {
        const auto& list = holders[o];
        if (!rarest || list.size() < rarest->size()) rarest = &list;
      }
      for (size_t j : *rarest) {
        if (j == i || !kids[i] || !kids[j] || kids[j]->trigrams.empty()) continue;
        if (kids[j]->trigrams.size() < kids[i]->trigrams.size()) continue;
        if (!is_subset(kids[i]->trigrams, kids[j]->trigrams)) continue;
        kids[j].reset();
        ++released;
      }
    }
    if (released > 0) {
      std::erase_if(kids, [](const tgr_ptr& c) { return !c; });
      QLOG(LOG_DETAIL, msg::kRemovedRedundant, released, before);
    }
  }

  // Factoring in the second pass can leave emptied children behind; they impose no
  // condition, but a reader of the final tree must never meet one (an index walker
  // would read an empty list as "no line"), so passes repeat until none is left.
  tree = tgr_optimise(std::move(tree));
  for (int pass = 0; tree && has_empty_node(tree.get()); ++pass) {
    if (pass == kExtraPasses) return nullptr;  // no filter is always sound
    tree = tgr_optimise(std::move(tree));
  }
  return tree;
}

}  // namespace quarn
