#include "decode/merge.hpp"

#include <charconv>
#include <cstring>
#include <optional>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

// Inlined: the hash of a short key costs less than a call, and the core
// needs no link to the library.
#define XXH_INLINE_ALL
#include <xxhash.h>

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

// Whether `f` can change `v`: only merge markers and containers can hold
// something to merge or normalise; every other scalar stays as it is.
bool may_hold_merges(const Value& v) noexcept { return v.kind() >= ValueKind::Sequence; }

// Sequence `v` with `f` applied to each item under the stack guard; nullopt
// when `f` changed no item, so untouched trees are never copied.
template <class F>
std::optional<Value> rebuild_items(const Value& v, F&& f) {
  const auto items = v.items().view();
  ValueList out;  // built from the first changed item on
  bool building = false;
  for (std::size_t i = 0; i < items.size(); ++i) {
    std::optional<Value> changed;
    if (may_hold_merges(items[i])) changed = with_stack_guard([&] { return f(items[i]); });
    if (!building) {
      if (!changed) continue;
      building = true;
      out.reserve(items.size());
      for (std::size_t j = 0; j < i; ++j) out.push_back(items[j].clone());
    }
    out.push_back(changed ? std::move(*changed) : items[i].clone());
  }
  if (!building) return std::nullopt;
  return Value::sequence(std::move(out));
}

// The integer a key equals as the loaded dict compares keys: false and true
// are 0 and 1, and a float with an integral value is that integer. Merging
// must treat such keys as one, or a merged true would overwrite an explicit
// 1 once both land in one dict.
std::optional<std::int64_t> as_dict_integer(const Value& key) noexcept {
  switch (key.kind()) {
    case ValueKind::Int:
      return key.as_int();
    case ValueKind::Bool:
      return key.as_bool() ? 1 : 0;
    case ValueKind::Float: {
      const double f = key.as_float();
      // 2^63 is exact as a double; NaN and the infinities fail the tests.
      if (!(f >= -9223372036854775808.0 && f < 9223372036854775808.0)) return std::nullopt;
      const auto i = static_cast<std::int64_t>(f);
      if (static_cast<double>(i) != f) return std::nullopt;
      return i;
    }
    default:
      return std::nullopt;
  }
}

// The pairs of a list being rebuilt, indexed by key identity: the equality
// that value_key_string's texts define, except that keys the loaded dict
// takes for equal numbers (as_dict_integer) are one key. Positions are those of the list,
// handed in anew on each call since the list grows; keys are hashed and
// compared where they stand, and only keys that are neither strings nor
// other plain scalars build their identity text.
class KeyIndex {
 public:
  explicit KeyIndex(LoadedTags loaded_tags) noexcept : loaded_tags_(loaded_tags) {}

  LoadedTags loaded_tags() const noexcept { return loaded_tags_; }

  // Empties the index, sized for `expected` keys; the storage is kept from
  // one list to the next.
  void reset(std::size_t expected) {
    hashes_.clear();
    hashes_.reserve(expected);
    std::size_t n = 16;
    while (n < 2 * expected) n *= 2;
    slots_.assign(n, 0);
  }

  // The position of the pair whose key equals `key`, and false; or `pos`,
  // now recorded for `key`, and true (the caller then appends the pair at
  // `pos`, the list's end).
  std::pair<std::size_t, bool> try_emplace(std::span<const ValuePair> pairs, const Value& key,
                                           std::size_t pos) {
    if (2 * (hashes_.size() + 1) > slots_.size()) grow();
    const std::uint64_t h = hash(key);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
      const std::uint32_t at = slots_[i];
      if (at == 0) {
        slots_[i] = static_cast<std::uint32_t>(pos + 1);
        hashes_.push_back(h);
        return {pos, true};
      }
      if (hashes_[at - 1] == h && same_key(pairs[at - 1].key, key)) return {at - 1, false};
    }
  }

 private:
  // The key as the dict will hold it: without its custom tags when the
  // loader drops them.
  const Value& loaded(const Value& key) const noexcept {
    const Value* k = &key;
    if (loaded_tags_ == LoadedTags::Dropped) {
      while (k->kind() == ValueKind::Tagged) k = &k->inner();
    }
    return *k;
  }

  std::uint64_t hash(const Value& tagged_key) {
    const Value& key = loaded(tagged_key);
    switch (key.kind()) {
      case ValueKind::String: {
        const std::string_view text = key.text();
        return XXH3_64bits_withSeed(text.data(), text.size(), 5);
      }
      case ValueKind::Null:
        return 0;
      case ValueKind::Bool:
      case ValueKind::Int:
      case ValueKind::Float:
        if (const auto i = as_dict_integer(key)) {
          return XXH3_64bits_withSeed(&*i, sizeof *i, 2);
        }
        [[fallthrough]];
      default:
        text_a_.clear();
        value_key_string(text_a_, key);
        return XXH3_64bits(text_a_.data(), text_a_.size());
    }
  }

  bool same_key(const Value& tagged_a, const Value& tagged_b) {
    const Value& a = loaded(tagged_a);
    const Value& b = loaded(tagged_b);
    if (const auto i = as_dict_integer(a)) {
      const auto j = as_dict_integer(b);
      return j && *i == *j;
    }
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
      case ValueKind::String:
        return a.text() == b.text();
      case ValueKind::Null:
        return true;
      default:
        text_a_.clear();
        text_b_.clear();
        value_key_string(text_a_, a);
        value_key_string(text_b_, b);
        return text_a_ == text_b_;
    }
  }

  void grow() {
    std::vector<std::uint32_t> slots(std::max<std::size_t>(16, 2 * slots_.size()), 0);
    const std::size_t mask = slots.size() - 1;
    for (std::size_t pos = 0; pos < hashes_.size(); ++pos) {
      std::size_t i = hashes_[pos] & mask;
      while (slots[i] != 0) i = (i + 1) & mask;
      slots[i] = static_cast<std::uint32_t>(pos + 1);
    }
    slots_ = std::move(slots);
  }

  std::vector<std::uint32_t> slots_;   // position + 1, 0 when free
  std::vector<std::uint64_t> hashes_;  // by position
  std::string text_a_;
  std::string text_b_;
  LoadedTags loaded_tags_;
};

// One merge value into the mapping being rebuilt; what could not be merged
// comes back.
// `own_index` is scratch for the keys of one source mapping.
std::optional<Value> merge_value_tree(ValuePairList& out, KeyIndex& index, KeyIndex& own_index,
                                      Value v) {
  if (index.loaded_tags() == LoadedTags::Dropped && v.kind() == ValueKind::Tagged) {
    // The tags will be dropped: a tagged mapping loads as a mapping.
    const Value* inner = &v;
    while (inner->kind() == ValueKind::Tagged) inner = &inner->inner();
    Value untagged = inner->clone();
    v = std::move(untagged);
  }
  switch (v.kind()) {
    case ValueKind::Null:
      return std::nullopt;
    case ValueKind::Mapping: {
      const auto source = v.pairs().view();
      own_index.reset(source.size());
      bool repeated = false;
      for (std::size_t i = 0; i < source.size() && !repeated; ++i) {
        repeated = !own_index.try_emplace(source, source[i].key, i).second;
      }
      if (!repeated) {
        for (const ValuePair& p : source) {
          const auto [at, fresh] = index.try_emplace(out.view(), p.key, out.size());
          if (fresh) out.emplace_back(p.key.clone(), p.value.clone());
        }
        return std::nullopt;
      }
      // A source's own repeated keys collapse first: the later value wins at
      // the earlier position.
      ValuePairList own;
      own.reserve(source.size());
      own_index.reset(source.size());
      for (const ValuePair& p : source) {
        const auto [at, fresh] = own_index.try_emplace(own.view(), p.key, own.size());
        if (fresh) {
          own.emplace_back(p.key.clone(), p.value.clone());
        } else {
          own.edit()[at].value = p.value.clone();
        }
      }
      for (ValuePair& p : own.edit()) {
        const auto [at, fresh] = index.try_emplace(out.view(), p.key, out.size());
        if (fresh) out.emplace_back(std::move(p.key), std::move(p.value));
      }
      return std::nullopt;
    }
    case ValueKind::Sequence: {
      ValueList left;
      for (const Value& item : v.items()) {
        auto rest =
            with_stack_guard([&] { return merge_value_tree(out, index, own_index, item.clone()); });
        if (rest) left.push_back(std::move(*rest));
      }
      if (left.empty()) return std::nullopt;
      return Value::sequence(std::move(left));
    }
    default:
      return v;
  }
}

// Pairs a merge value can add: a bound that saves regrowing the list.
std::size_t merged_pairs(const Value& v) noexcept {
  if (v.kind() == ValueKind::Mapping) return v.pairs().size();
  if (v.kind() != ValueKind::Sequence) return 0;
  std::size_t n = 0;
  for (const Value& item : v.items()) {
    if (item.kind() == ValueKind::Mapping) n += item.pairs().size();
  }
  return n;
}

// Rebuilds a pair list that holds merge keys (all keys and values already
// processed); `index` and `own_index` are scratch.
ValuePairList rebuild_with_merges(std::span<ValuePair> pairs, KeyIndex& index,
                                  KeyIndex& own_index) {
  std::size_t room = pairs.size();
  for (const ValuePair& p : pairs) {
    if (is_merge_marker(p.key)) room += merged_pairs(p.value);
  }
  ValuePairList out;
  out.reserve(room);
  index.reset(room);
  bool has_leftover = false;
  std::size_t leftover_pos = 0;
  for (ValuePair& p : pairs) {
    if (!is_merge_marker(p.key)) {
      const auto [at, fresh] = index.try_emplace(out.view(), p.key, out.size());
      if (fresh) {
        out.emplace_back(std::move(p.key), std::move(p.value));
      } else {
        out.edit()[at].value = std::move(p.value);
        if (has_leftover && at == leftover_pos) has_leftover = false;
      }
      continue;
    }
    std::optional<Value> left = merge_value_tree(out, index, own_index, std::move(p.value));
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
    const auto [at, fresh] = index.try_emplace(out.view(), key, out.size());
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
  explicit Merger(LoadedTags loaded_tags) noexcept
      : index_(loaded_tags),
        own_index_(loaded_tags),
        merge_here_(loaded_tags != LoadedTags::Called) {}
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
  // Scratch of rebuild_with_merges, kept from one mapping to the next.
  KeyIndex index_;
  KeyIndex own_index_;
  // False when the conversion merges, after the tag callbacks ran.
  bool merge_here_;
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
      const bool shared =
          v.kind() == ValueKind::Sequence ? v.items().is_shared() : v.pairs().is_shared();
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
  ValuePairList work;  // built from the first changed pair or merge key on
  bool building = false;
  bool has_merge = false;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const ValuePair& p = pairs[i];
    const bool merge = is_merge_marker(p.key);
    has_merge |= merge && merge_here_;
    // Keys are never merged themselves; merge markers inside them become
    // plain "<<" texts. Values (merge sources included) are merged first.
    std::optional<Value> key;
    if (!merge && may_hold_merges(p.key)) key = with_stack_guard([&] { return normalize(p.key); });
    std::optional<Value> value;
    if (may_hold_merges(p.value)) value = with_stack_guard([&] { return apply(p.value); });
    if (!building) {
      if (!(merge && merge_here_) && !key && !value) continue;
      building = true;
      work.reserve(pairs.size());
      for (std::size_t j = 0; j < i; ++j) {
        work.emplace_back(pairs[j].key.clone(), pairs[j].value.clone());
      }
    }
    work.emplace_back(key ? std::move(*key) : p.key.clone(),
                      value ? std::move(*value) : p.value.clone());
  }
  if (has_merge) return Value::mapping(rebuild_with_merges(work.edit(), index_, own_index_));
  if (!building) return std::nullopt;
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

Value merge_key_marker() { return Value::tagged(SharedText(kMergeTagText), merge_key_text()); }

void apply_merges(Value& v, LoadedTags loaded_tags) {
  Merger merger(loaded_tags);
  if (auto merged = merger.apply(v)) v = std::move(*merged);
}

void normalize_merge_tags(Value& v) {
  Merger merger(LoadedTags::Kept);
  if (auto normal = merger.normalize(v)) v = std::move(*normal);
}

void value_key_string(std::string& out, const Value& v) { append_key_text(out, v); }

void merged_key_string(std::string& out, const Value& v) {
  if (const auto i = as_dict_integer(v)) {
    append_key_text(out, Value::integer(*i));
  } else {
    append_key_text(out, v);
  }
}

}  // namespace ostrevane
