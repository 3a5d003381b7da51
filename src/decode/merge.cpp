#include "decode/merge.hpp"

#include <charconv>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "decode/detail/key_text.hpp"
#include "resolver/timestamp.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane {

namespace {

OSV_STATIC_TEXT(kMergeTagText, "tag:yaml.org,2002:merge");

Value merge_key_text() noexcept { return Value::string(SharedText(kMergeKeyText)); }

template <class T>
void append_number(std::string& out, T n) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, n);
  out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

std::string key_text(const Value& v) {
  std::string out;
  value_key_string(out, v);
  return out;
}

// Sequence `v` with `f` applied to each item under the stack guard; nullopt
// when `f` changed no item, so untouched trees are never copied.
template <class F>
std::optional<Value> rebuild_items(const Value& v, F&& f) {
  const auto items = v.items().view();
  std::vector<std::optional<Value>> changed(items.size());
  bool any = false;
  for (std::size_t i = 0; i < items.size(); ++i) {
    changed[i] = with_stack_guard([&] { return f(items[i]); });
    any |= changed[i].has_value();
  }
  if (!any) return std::nullopt;
  ValueList out;
  out.reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    out.push_back(changed[i] ? std::move(*changed[i]) : items[i].clone());
  }
  return Value::sequence(std::move(out));
}

// Key text to position in the pair list being rebuilt.
using KeyIndex = std::unordered_map<std::string, std::size_t>;

// One merge value into the mapping being rebuilt; what could not be merged
// comes back.
std::optional<Value> merge_value_tree(ValuePairList& out, KeyIndex& index, Value v) {
  switch (v.kind()) {
    case ValueKind::Null:
      return std::nullopt;
    case ValueKind::Mapping: {
      // A source's own repeated keys collapse first: the later value wins at
      // the earlier position.
      ValuePairList own;
      own.reserve(v.pairs().size());
      KeyIndex own_index;
      for (const ValuePair& p : v.pairs()) {
        auto [it, fresh] = own_index.try_emplace(key_text(p.key), own.size());
        if (fresh) {
          own.emplace_back(p.key.clone(), p.value.clone());
        } else {
          own.edit()[it->second].value = p.value.clone();
        }
      }
      for (ValuePair& p : own.edit()) {
        auto [it, fresh] = index.try_emplace(key_text(p.key), out.size());
        if (fresh) out.emplace_back(std::move(p.key), std::move(p.value));
      }
      return std::nullopt;
    }
    case ValueKind::Sequence: {
      ValueList left;
      for (const Value& item : v.items()) {
        auto rest =
            with_stack_guard([&] { return merge_value_tree(out, index, item.clone()); });
        if (rest) left.push_back(std::move(*rest));
      }
      if (left.empty()) return std::nullopt;
      return Value::sequence(std::move(left));
    }
    default:
      return v;
  }
}

// Rebuilds a pair list that holds merge keys (all keys and values already
// processed).
ValuePairList rebuild_with_merges(std::span<ValuePair> pairs) {
  ValuePairList out;
  out.reserve(pairs.size());
  KeyIndex index;
  bool has_leftover = false;
  std::size_t leftover_pos = 0;
  for (ValuePair& p : pairs) {
    if (!is_merge_marker(p.key)) {
      auto [it, fresh] = index.try_emplace(key_text(p.key), out.size());
      if (fresh) {
        out.emplace_back(std::move(p.key), std::move(p.value));
      } else {
        out.edit()[it->second].value = std::move(p.value);
        if (has_leftover && it->second == leftover_pos) has_leftover = false;
      }
      continue;
    }
    std::optional<Value> left = merge_value_tree(out, index, std::move(p.value));
    if (!left) continue;
    if (has_leftover) {
      Value& slot = out.edit()[leftover_pos].value;
      ValueList list;
      if (slot.kind() == ValueKind::Sequence) {
        list = slot.take_items();
      } else {
        list.push_back(std::move(slot));
      }
      if (left->kind() == ValueKind::Sequence) {
        for (const Value& item : left->items()) list.push_back(item.clone());
      } else {
        list.push_back(std::move(*left));
      }
      slot = Value::sequence(std::move(list));
      continue;
    }
    Value key = merge_key_text();
    auto [it, fresh] = index.try_emplace(key_text(key), out.size());
    if (!fresh) continue;  // a quoted "<<" key was there first
    leftover_pos = out.size();
    has_leftover = true;
    out.emplace_back(std::move(key), std::move(*left));
  }
  return out;
}

// The merge pass as a function from a tree to its merged form (nothing when
// unchanged), so that untouched subtrees keep sharing their storage and a
// subtree shared by many aliases is processed once.
class Merger {
 public:
  std::optional<Value> apply(const Value& v);
  std::optional<Value> normalize(const Value& v);

 private:
  std::optional<Value> apply_list(const Value& v);
  std::optional<Value> apply_pairs(const Value& v);

  struct Done {
    Value original;  // keeps the block alive, so its address is not reused
    std::optional<Value> result;
  };
  std::unordered_map<const void*, Done> memo_;
};

std::optional<Value> Merger::apply(const Value& v) {
  switch (v.kind()) {
    case ValueKind::Tagged: {
      if (v.tag() == kMergeTag) return merge_key_text();
      auto inner = with_stack_guard([&] { return apply(v.inner()); });
      if (!inner) return std::nullopt;
      return Value::tagged(v.tag_text(), std::move(*inner));
    }
    case ValueKind::Sequence:
    case ValueKind::Mapping: {
      const bool shared = v.kind() == ValueKind::Sequence ? v.items().is_shared()
                                                          : v.pairs().is_shared();
      if (!shared) return v.kind() == ValueKind::Sequence ? apply_list(v) : apply_pairs(v);
      const void* id =
          v.kind() == ValueKind::Sequence ? v.items().identity() : v.pairs().identity();
      if (const auto it = memo_.find(id); it != memo_.end()) {
        if (!it->second.result) return std::nullopt;
        return it->second.result->clone();
      }
      auto result = v.kind() == ValueKind::Sequence ? apply_list(v) : apply_pairs(v);
      Done done{v.clone(), std::nullopt};
      if (result) done.result = result->clone();
      memo_.emplace(id, std::move(done));
      return result;
    }
    default:
      return std::nullopt;
  }
}

std::optional<Value> Merger::apply_list(const Value& v) {
  return rebuild_items(v, [this](const Value& item) { return apply(item); });
}

std::optional<Value> Merger::apply_pairs(const Value& v) {
  const auto pairs = v.pairs().view();
  ValuePairList work;
  work.reserve(pairs.size());
  bool any = false;
  bool has_merge = false;
  for (const ValuePair& p : pairs) {
    const bool merge = is_merge_marker(p.key);
    has_merge |= merge;
    // Keys are never merged themselves; merge markers inside them become
    // plain "<<" texts. Values (merge sources included) are merged first.
    auto key = merge ? std::nullopt : with_stack_guard([&] { return normalize(p.key); });
    auto value = with_stack_guard([&] { return apply(p.value); });
    any |= key.has_value() || value.has_value();
    work.emplace_back(key ? std::move(*key) : p.key.clone(),
                      value ? std::move(*value) : p.value.clone());
  }
  if (has_merge) return Value::mapping(rebuild_with_merges(work.edit()));
  if (!any) return std::nullopt;
  return Value::mapping(std::move(work));
}

std::optional<Value> Merger::normalize(const Value& v) {
  switch (v.kind()) {
    case ValueKind::Tagged: {
      if (v.tag() == kMergeTag) return merge_key_text();
      auto inner = with_stack_guard([&] { return normalize(v.inner()); });
      if (!inner) return std::nullopt;
      return Value::tagged(v.tag_text(), std::move(*inner));
    }
    case ValueKind::Sequence:
      return rebuild_items(v, [this](const Value& item) { return normalize(item); });
    case ValueKind::Mapping: {
      ValuePairList out;
      out.reserve(v.pairs().size());
      bool any = false;
      for (const ValuePair& p : v.pairs()) {
        auto key = with_stack_guard([&] { return normalize(p.key); });
        auto value = with_stack_guard([&] { return normalize(p.value); });
        any |= key.has_value() || value.has_value();
        out.emplace_back(key ? std::move(*key) : p.key.clone(),
                         value ? std::move(*value) : p.value.clone());
      }
      if (!any) return std::nullopt;
      return Value::mapping(std::move(out));
    }
    default:
      return std::nullopt;
  }
}

void append_key_text(std::string& out, const Value& v) {
  switch (v.kind()) {
    case ValueKind::Null:
      out += '0';
      return;
    case ValueKind::Bool:
      out += v.as_bool() ? "11" : "10";
      return;
    case ValueKind::Int:
      out += "2:";
      append_number(out, v.as_int());
      out += ';';
      return;
    case ValueKind::BigInt:
      // Spelling and base normalised, so equal integers are one key.
      out += "3:";
      detail::append_big_int_key(out, v);
      out += ';';
      return;
    case ValueKind::Float: {
      const double f = v.as_float();
      std::uint64_t bits;
      std::memcpy(&bits, &f, sizeof bits);
      out += "4:";
      append_number(out, bits);
      out += ';';
      return;
    }
    case ValueKind::String:
      out += "5:";
      append_number(out, v.text().size());
      out += ':';
      out.append(v.text());
      return;
    case ValueKind::Timestamp:
      out += "9:";
      append_timestamp(out, v.as_timestamp());
      out += ';';
      return;
    case ValueKind::Sequence:
      out += "7:";
      append_number(out, v.items().size());
      out += ':';
      for (const Value& item : v.items()) {
        with_stack_guard([&] { append_key_text(out, item); });
      }
      return;
    case ValueKind::Mapping:
      out += "8:";
      append_number(out, v.pairs().size());
      out += ':';
      for (const ValuePair& p : v.pairs()) {
        with_stack_guard([&] {
          append_key_text(out, p.key);
          append_key_text(out, p.value);
        });
      }
      return;
    case ValueKind::Tagged:
      out += "6:";
      append_number(out, v.tag().size());
      out += ':';
      out.append(v.tag());
      with_stack_guard([&] { append_key_text(out, v.inner()); });
      return;
  }
}

}  // namespace

Value merge_key_marker() {
  return Value::tagged(SharedText(kMergeTagText), merge_key_text());
}

void apply_merges(Value& v) {
  Merger merger;
  if (auto merged = merger.apply(v)) v = std::move(*merged);
}

void normalize_merge_tags(Value& v) {
  Merger merger;
  if (auto normal = merger.normalize(v)) v = std::move(*normal);
}

void value_key_string(std::string& out, const Value& v) { append_key_text(out, v); }

}  // namespace ostrevane
