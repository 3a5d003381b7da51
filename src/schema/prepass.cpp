#include "schema/prepass.hpp"

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "roundtrip/alias_budget.hpp"
#include "roundtrip/anchors.hpp"
#include "roundtrip/passes/passes.hpp"
#include "schema/json_value.hpp"
#include "util/limits.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane::schema {

namespace {

// An empty node at `at`'s start.
YamlNode empty_at(const YamlNode& at) {
  YamlNode node;
  node.span = at.span;
  node.end_offset = at.span.offset;
  node.end_line = at.span.line;
  node.end_column = at.span.column;
  return node;
}

class Expander {
 public:
  explicit Expander(const YamlNode& root) : index_(root) {}

  YamlNode expand(const YamlNode& node, std::uint32_t depth) {
    // Every node visited is charged, an alias (one node) as well as what it
    // expands to; once the budget is spent, everything after it is cut off.
    if (depth > limits::kNodeAliasDepth ||
        !budget_.charge(node.kind() == NodeKind::Alias ? AliasCharge{1, 0} : node_charge(node))) {
      YamlNode cut = empty_at(node);
      cut.set_alias(std::string());
      return cut;
    }
    switch (node.kind()) {
      case NodeKind::Sequence:
      case NodeKind::Mapping: {
        NodeList children;
        children.reserve(node.children().size());
        for (const YamlNode& child : node.children()) {
          children.push_back(with_stack_guard([&] { return expand(child, depth); }));
        }
        YamlNode copy = empty_at(node);
        if (node.kind() == NodeKind::Sequence) {
          copy.set_sequence(std::move(children));
        } else {
          copy.set_mapping(std::move(children));
        }
        if (node.tag()) copy.copy_tag_from(node);
        return copy;
      }
      case NodeKind::Alias: {
        const YamlNode* target = index_.target(node);
        if (target == nullptr) return empty_at(node);
        YamlNode copy = with_stack_guard([&] { return expand(*target, depth + 1); });
        copy.span = node.span;
        return copy;
      }
      case NodeKind::Scalar:
      case NodeKind::Null:
        return node.clone();
    }
    return empty_at(node);
  }

 private:
  AnchorIndex index_;
  AliasBudget budget_ = AliasBudget::for_node_trees();
};

// The pairs of `pairs` (key, value, key, value, ...) as a dict built from
// them holds them: a repeated key once, at its first position, with its last
// value. `name(i)` is the identity of pair i's key, or nothing for a key that
// never repeats; `keep(key, value, name)` takes each pair kept, in order.
template <class Name, class Keep>
void keep_last_values(NodeList& pairs, Name name, Keep keep) {
  const std::size_t n = pairs.size() / 2;
  std::unordered_map<std::string_view, std::size_t> last;
  for (std::size_t i = 0; i < n; ++i) {
    if (const std::optional<std::string_view> text = name(i)) last[*text] = i;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const std::optional<std::string_view> text = name(i);
    if (!text) {
      keep(std::move(pairs[2 * i]), std::move(pairs[2 * i + 1]), std::string_view());
      continue;
    }
    const auto it = last.find(*text);
    if (it == last.end()) continue;  // a later repeat of a key already kept
    const std::size_t from = it->second;
    last.erase(it);
    keep(std::move(pairs[2 * i]), std::move(pairs[2 * from + 1]), *text);
  }
}

class Merger {
 public:
  Merger(ResolverMode mode, MergeRule rule) : mode_(mode), rule_(rule) {}

  void apply(YamlNode& node) {
    if (node.kind() == NodeKind::Sequence) {
      for (YamlNode& item : node.items()) with_stack_guard([&] { apply(item); });
      return;
    }
    if (node.kind() != NodeKind::Mapping) return;
    bool has_merge = false;
    for (std::size_t i = 0; i < node.pair_count(); ++i) {
      with_stack_guard([&] { apply(node.value(i)); });
      has_merge |= is_merge(node.key(i));
    }
    if (has_merge) {
      merge(node);
      if (node.kind() != NodeKind::Mapping) return;  // cut off
    }
    keep_last_values_of(node);
  }

 private:
  // Repeated keys as loads' dict keeps them. Keys compare as Python
  // compares them (1, 1.0 and 0x1 are one key), as merging does; the "<<"
  // pairs left by merge keys that could not be merged, and keys cut off,
  // are not compared.
  void keep_last_values_of(YamlNode& node) {
    keys_.build(node, mode_, rule_ == MergeRule::Decoded);
    if (!keys_.any_repeat()) return;
    NodeList pairs = std::move(node.edit_children());
    NodeList kept;
    kept.reserve(pairs.size());
    keep_last_values(
        pairs,
        [&](std::size_t i) -> std::optional<std::string_view> {
          // A cut-off key's value is unknown: it is taken for no other.
          if (keys_.is_merge(i) || is_cut_off(pairs[2 * i])) return std::nullopt;
          return keys_.text(i);
        },
        [&](YamlNode&& key, YamlNode&& value, std::string_view) {
          kept.push_back(std::move(key));
          kept.push_back(std::move(value));
        });
    node.edit_children() = std::move(kept);
  }

  // Replaces the merge keys of `node` by the pairs they merge in; a node
  // whose merge source was cut off is cut off itself.
  void merge(YamlNode& node) {
    NodeList pairs = std::move(node.edit_children());
    NodeList ordinary;
    ordinary.reserve(pairs.size());
    std::unordered_set<std::string> seen;
    for (std::size_t i = 0; i < pairs.size(); i += 2) {
      if (is_merge(pairs[i])) continue;
      seen.insert(node_key_string(pairs[i], mode_));
      ordinary.push_back(std::move(pairs[i]));
      ordinary.push_back(std::move(pairs[i + 1]));
    }
    for (std::size_t i = 0; i < pairs.size(); i += 2) {
      if (!is_merge(pairs[i])) continue;
      bool cut = false;
      std::optional<YamlNode> rest = filter(std::move(pairs[i + 1]), ordinary, seen, cut);
      if (cut) {
        // Which keys the source held is unknown: so is the whole mapping.
        NodeList().swap(ordinary);
        node.set_alias(std::string());
        return;
      }
      if (!rest) continue;
      YamlNode key = std::move(pairs[i]);
      key.set_tag(std::nullopt);
      key.set_scalar("<<", ScalarStyle::Plain);
      ordinary.push_back(std::move(key));
      ordinary.push_back(std::move(*rest));
    }
    node.edit_children() = std::move(ordinary);
  }

  // Appends the pairs `source` merges in to `out`; returns what cannot be
  // merged. Sets `cut` when a source was cut off by the expansion limits.
  std::optional<YamlNode> filter(YamlNode source, NodeList& out,
                                 std::unordered_set<std::string>& seen, bool& cut) {
    switch (source.kind()) {
      case NodeKind::Null:
        return std::nullopt;
      case NodeKind::Alias:
        if (is_cut_off(source)) {
          cut = true;
          return std::nullopt;
        }
        return source;
      case NodeKind::Mapping:
        merge_pairs(source, out, seen);
        return std::nullopt;
      case NodeKind::Scalar:
        // "~" and "null" merge nothing, as an empty node does.
        if (node_to_json_value_guarded(source, mode_).is_null()) return std::nullopt;
        return source;
      case NodeKind::Sequence: {
        NodeList left;
        for (YamlNode& item : source.items()) {
          std::optional<YamlNode> rest =
              with_stack_guard([&] { return filter(std::move(item), out, seen, cut); });
          if (rest) left.push_back(std::move(*rest));
        }
        if (left.empty()) return std::nullopt;
        source.set_sequence(std::move(left));
        return source;
      }
      default:
        return source;
    }
  }

  // A mapping source: keys already present are dropped; a key repeated in
  // the source keeps its first position and its last value, as loads does.
  void merge_pairs(YamlNode& source, NodeList& out, std::unordered_set<std::string>& seen) {
    const std::size_t n = source.pair_count();
    std::vector<std::string> texts;
    texts.reserve(n);
    for (std::size_t i = 0; i < n; ++i) texts.push_back(node_key_string(source.key(i), mode_));
    keep_last_values(
        source.edit_children(),
        [&](std::size_t i) { return std::optional<std::string_view>(texts[i]); },
        [&](YamlNode&& key, YamlNode&& value, std::string_view text) {
          if (!seen.emplace(text).second) return;
          out.push_back(std::move(key));
          out.push_back(std::move(value));
        });
  }

  bool is_merge(const YamlNode& key) const noexcept { return is_merge_key(key, mode_, rule_); }

  ResolverMode mode_;
  MergeRule rule_;
  MappingKeys keys_;
};

}  // namespace

bool is_merge_key(const YamlNode& key, ResolverMode mode, MergeRule rule) noexcept {
  return rule == MergeRule::Decoded ? ostrevane::is_decoded_merge_key(key, mode)
                                    : ostrevane::is_merge_key(key);
}

bool needs_preparation(const YamlNode& root, ResolverMode mode, MergeRule rule) {
  MappingKeys keys;
  std::vector<const YamlNode*> stack{&root};
  while (!stack.empty()) {
    const YamlNode* node = stack.back();
    stack.pop_back();
    if (node->kind() == NodeKind::Alias) return true;
    if (node->kind() == NodeKind::Mapping) {
      for (std::size_t i = 0; i < node->pair_count(); ++i) {
        if (is_merge_key(node->key(i), mode, rule)) return true;
      }
      keys.build(*node, mode, rule == MergeRule::Decoded);
      if (keys.any_repeat()) return true;
    }
    push_children(*node, stack);
  }
  return false;
}

YamlNode prepare_document(const YamlNode& root, ResolverMode mode, MergeRule rule) {
  YamlNode copy = with_stack_guard([&] {
    Expander expander(root);
    return expander.expand(root, 0);
  });
  Merger merger(mode, rule);
  with_stack_guard([&] { merger.apply(copy); });
  return copy;
}

}  // namespace ostrevane::schema
