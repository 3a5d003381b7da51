#include "schema/json_value.hpp"

#include <optional>

#include "decode/merge.hpp"
#include "schema/prepass.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane::schema {

namespace {

Value scalar_value(const YamlNode& node, ResolverMode mode) {
  const std::string* tag = node.read_tag();
  const OptionalTag tag_view = tag ? OptionalTag(std::string_view(*tag)) : std::nullopt;
  if (node.kind() == NodeKind::Null) {
    // An empty node reads as null, unless a tag types its empty text (as
    // `!!str` with nothing after it does when the document is loaded).
    if (!tag_view) return Value::null();
    return resolve_plain_scalar(mode, std::string_view(), true, tag_view);
  }
  return resolve_plain_scalar(mode, node.text(), node.scalar_style() == ScalarStyle::Plain,
                              tag_view);
}

Value convert(const YamlNode& node, ResolverMode mode, bool* cut_off) {
  switch (node.kind()) {
    case NodeKind::Sequence: {
      ValueList items;
      items.reserve(node.item_count());
      for (const YamlNode& item : node.items()) {
        items.push_back(with_stack_guard([&] { return convert(item, mode, cut_off); }));
      }
      return Value::sequence(std::move(items));
    }
    case NodeKind::Mapping: {
      ValuePairList pairs;
      pairs.reserve(node.pair_count());
      for (std::size_t i = 0; i < node.pair_count(); ++i) {
        Value key = with_stack_guard([&] { return convert(node.key(i), mode, cut_off); });
        Value value = with_stack_guard([&] { return convert(node.value(i), mode, cut_off); });
        pairs.emplace_back(std::move(key), std::move(value));
      }
      return Value::mapping(std::move(pairs));
    }
    case NodeKind::Alias:
      if (cut_off != nullptr && is_cut_off(node)) *cut_off = true;
      return Value::null();
    case NodeKind::Null:
    case NodeKind::Scalar:
      return scalar_value(node, mode);
  }
  return Value::null();
}

}  // namespace

Value node_to_shallow_value(const YamlNode& node, ResolverMode mode) {
  switch (node.kind()) {
    case NodeKind::Sequence:
      return Value::sequence();
    case NodeKind::Mapping:
      return Value::mapping();
    case NodeKind::Alias:
      return Value::null();
    case NodeKind::Scalar:
    case NodeKind::Null:
      return scalar_value(node, mode);
  }
  return Value::null();
}

Value node_to_json_value_guarded(const YamlNode& node, ResolverMode mode, bool* cut_off) {
  return with_stack_guard([&] { return convert(node, mode, cut_off); });
}

std::string node_key_string(const YamlNode& key, ResolverMode mode) {
  std::string out;
  merged_key_string(out, node_to_json_value_guarded(key, mode));
  return out;
}

}  // namespace ostrevane::schema
