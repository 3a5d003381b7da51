#include "schema/validator.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "resolver/big_int.hpp"
#include "roundtrip/passes/passes.hpp"
#include "schema/json_value.hpp"
#include "schema/pattern.hpp"
#include "schema/pointer.hpp"
#include "schema/prepass.hpp"
#include "util/limits.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane::schema {

namespace {

enum Keyword : std::uint8_t {
  kRef,
  kType,
  kEnum,
  kConst,
  kMinimum,
  kMaximum,
  kExclusiveMinimum,
  kExclusiveMaximum,
  kMultipleOf,
  kMinLength,
  kMaxLength,
  kPattern,
  kAllOf,
  kAnyOf,
  kOneOf,
  kNot,
  kRequired,
  kProperties,
  kPatternProperties,
  kAdditionalProperties,
  kMinProperties,
  kMaxProperties,
  kPropertyNames,
  kDependencies,
  kMinItems,
  kMaxItems,
  kItems,
  kAdditionalItems,
  kUniqueItems,
  kContains,
  kKeywordCount,
};

constexpr std::array<std::string_view, kKeywordCount> kKeywordNames{"$ref",
                                                                    "type",
                                                                    "enum",
                                                                    "const",
                                                                    "minimum",
                                                                    "maximum",
                                                                    "exclusiveMinimum",
                                                                    "exclusiveMaximum",
                                                                    "multipleOf",
                                                                    "minLength",
                                                                    "maxLength",
                                                                    "pattern",
                                                                    "allOf",
                                                                    "anyOf",
                                                                    "oneOf",
                                                                    "not",
                                                                    "required",
                                                                    "properties",
                                                                    "patternProperties",
                                                                    "additionalProperties",
                                                                    "minProperties",
                                                                    "maxProperties",
                                                                    "propertyNames",
                                                                    "dependencies",
                                                                    "minItems",
                                                                    "maxItems",
                                                                    "items",
                                                                    "additionalItems",
                                                                    "uniqueItems",
                                                                    "contains"};

// One `patternProperties` entry: its compiled pattern (re nullptr when the
// pattern is invalid or too large) and the schema for the members it finds.
struct MemberPattern {
  std::string_view text;
  const CompiledPattern* compiled = nullptr;
  const Value* schema = nullptr;
  const Value* key = nullptr;  // the pattern's own key, for messages
};

// The first entry of each keyword in one schema mapping (later entries with
// the same key are never consulted), and what every node checked against
// the mapping reads again: `properties` by name, and the patterns of
// `pattern` and `patternProperties`, compiled.
struct KeywordTable {
  std::array<const Value*, kKeywordCount> entry{};
  bool has_pairs = false;
  // Whether a keyword that reads member names is present: only then does a
  // key cut off by the expansion limits matter.
  bool reads_names = false;
  std::unordered_map<std::string_view, const Value*> properties;  // first String key wins
  std::vector<MemberPattern> patterns;
  const CompiledPattern* pattern = nullptr;  // `pattern` compiled; nullptr when absent

  [[nodiscard]] const Value* get(Keyword k) const noexcept { return entry[k]; }
  [[nodiscard]] const Value* get(Keyword k, ValueKind kind) const noexcept {
    const Value* v = entry[k];
    return v != nullptr && v->kind() == kind ? v : nullptr;
  }
};

KeywordTable build_keyword_table(const Value& schema, PatternCache& patterns) {
  KeywordTable table;
  table.has_pairs = !schema.pairs().empty();
  for (const ValuePair& pair : schema.pairs()) {
    if (pair.key.kind() != ValueKind::String) continue;
    const std::string_view name = pair.key.text();
    for (std::size_t k = 0; k < kKeywordCount; ++k) {
      if (kKeywordNames[k] == name) {
        if (table.entry[k] == nullptr) table.entry[k] = &pair.value;
        break;
      }
    }
  }
  if (const Value* pattern = table.get(kPattern, ValueKind::String)) {
    table.pattern = &patterns.compile(pattern->text());
  }
  if (const Value* properties = table.get(kProperties, ValueKind::Mapping)) {
    table.properties.reserve(properties->pairs().size());
    for (const ValuePair& pair : properties->pairs()) {
      if (pair.key.kind() == ValueKind::String)
        table.properties.try_emplace(pair.key.text(), &pair.value);
    }
  }
  if (const Value* by_pattern = table.get(kPatternProperties, ValueKind::Mapping)) {
    for (const ValuePair& pair : by_pattern->pairs()) {
      if (pair.key.kind() != ValueKind::String) continue;
      table.patterns.push_back(
          {pair.key.text(), &patterns.compile(pair.key.text()), &pair.value, &pair.key});
    }
  }
  for (const Keyword k : {kRequired, kProperties, kPatternProperties, kAdditionalProperties,
                          kPropertyNames, kDependencies}) {
    table.reads_names |= table.entry[k] != nullptr;
  }
  return table;
}

// An instance path as a chain of frames on the native stack; spelled out
// only when a failure is recorded.
// A member's segment keeps its pair's index; KeyName is a member's key
// itself (propertyNames), spelled like the member.
struct PathSegment {
  const PathSegment* parent = nullptr;
  std::string_view key;
  std::size_t index = 0;  // the item's index, or the member's pair index
  enum class Kind : std::uint8_t { Root, Key, KeyName, Index } kind = Kind::Root;

  // The steps from the root to the node this path stands for.
  [[nodiscard]] std::vector<NodeStep> steps() const {
    std::vector<NodeStep> out;
    for (const PathSegment* s = this; s != nullptr; s = s->parent) {
      switch (s->kind) {
        case Kind::Root:
          break;
        case Kind::Key:
          out.push_back({NodeStep::Kind::Value, s->index});
          break;
        case Kind::KeyName:
          out.push_back({NodeStep::Kind::Key, s->index});
          break;
        case Kind::Index:
          out.push_back({NodeStep::Kind::Item, s->index});
          break;
      }
    }
    std::reverse(out.begin(), out.end());
    return out;
  }

  [[nodiscard]] std::string text() const {
    std::vector<const PathSegment*> chain;
    for (const PathSegment* s = this; s != nullptr; s = s->parent) chain.push_back(s);
    std::string out;
    for (std::size_t i = chain.size(); i-- > 0;) {
      const PathSegment& s = *chain[i];
      switch (s.kind) {
        case Kind::Root:
          out += '$';
          break;
        case Kind::Key:
        case Kind::KeyName:
          out += '.';
          out += s.key;
          break;
        case Kind::Index: {
          char buf[24];
          const auto r = std::to_chars(buf, buf + sizeof buf, s.index);
          out += '[';
          out.append(buf, r.ptr);
          out += ']';
          break;
        }
      }
    }
    return out;
  }
};

// Where failures go: the validation's own sink keeps the first one in full;
// the branches of anyOf, oneOf and not only count. Decoded values carry no
// position: their first failure keeps the steps to its node instead.
struct Sink {
  std::optional<SchemaError>* first = nullptr;
  ValueFailure* located = nullptr;
  std::size_t count = 0;

  template <class Node, class MakeMessage>
  void fail(const Node& node, const PathSegment& path, MakeMessage&& make_message) {
    if (count++ == 0) record(node, path, make_message);
  }

  // A limit ends the validation: its failure is the one reported, whatever
  // was found before it.
  template <class Node, class MakeMessage>
  void limit(const Node& node, const PathSegment& path, MakeMessage&& make_message) {
    ++count;
    record(node, path, make_message);
  }

 private:
  template <class Node, class MakeMessage>
  void record(const Node& node, const PathSegment& path, MakeMessage& make_message) {
    if constexpr (std::is_same_v<Node, YamlNode>) {
      if (first != nullptr) *first = SchemaError{make_message(), path.text(), node.span};
    } else {
      if (located != nullptr) *located = ValueFailure{make_message(), path.text(), path.steps()};
    }
  }
};

std::string with_text(std::string_view before, std::string_view text, std::string_view after) {
  std::string out;
  out.reserve(before.size() + text.size() + after.size());
  out += before;
  out += text;
  out += after;
  return out;
}

template <class N>
std::string decimal(N n) {
  char buf[48];
  const auto r = std::to_chars(buf, buf + sizeof buf, n);
  return std::string(buf, r.ptr);
}

// The JSON pointer ("#/properties/a/pattern") of the value at `target`
// inside `root`: the value itself, or the key of a pair (named by the pair).
bool find_pointer(const Value& at, const Value* target, std::string& out) {
  if (&at == target) return true;
  const std::size_t mark = out.size();
  if (at.kind() == ValueKind::Sequence) {
    for (std::size_t i = 0; i < at.items().size(); ++i) {
      append_pointer_segment(out, decimal(i));
      if (with_stack_guard([&] { return find_pointer(at.items()[i], target, out); })) return true;
      out.resize(mark);
    }
  } else if (at.kind() == ValueKind::Mapping) {
    for (const ValuePair& pair : at.pairs()) {
      append_pointer_segment(out, pair.key.kind() == ValueKind::String ? pair.key.text() : "");
      if (&pair.key == target ||
          with_stack_guard([&] { return find_pointer(pair.value, target, out); })) {
        return true;
      }
      out.resize(mark);
    }
  }
  return false;
}

std::string schema_pointer(const Value& root, const Value* target) {
  std::string out = "#";
  if (!find_pointer(root, target, out)) return "#";
  return out;
}


// "value {v} {relation} {b}".
std::string number_message(double v, std::string_view relation, double b) {
  return "value " + format_number(v) + " " + std::string(relation) + " " + format_number(b);
}

bool is_integer(const Value& v) noexcept {
  return v.kind() == ValueKind::Int || v.kind() == ValueKind::BigInt;
}

// The order of two integers (Int or BigInt, any size and base), exactly;
// nothing when either is not an integer.
std::optional<int> compare_integers(const Value& a, const Value& b) {
  if (!is_integer(a) || !is_integer(b)) return std::nullopt;
  const std::optional<__int128> x = value_as_i128(a);
  const std::optional<__int128> y = value_as_i128(b);
  if (x && y) return (*x > *y) - (*x < *y);
  const std::string a_text = a.kind() == ValueKind::Int ? decimal(a.as_int()) : std::string();
  const std::string b_text = b.kind() == ValueKind::Int ? decimal(b.as_int()) : std::string();
  return big_int_compare(a.kind() == ValueKind::Int ? a_text : a.text(),
                         a.kind() == ValueKind::Int ? 10 : a.big_int_base(),
                         b.kind() == ValueKind::Int ? b_text : b.text(),
                         b.kind() == ValueKind::Int ? 10 : b.big_int_base());
}

// An integer as messages write it: its decimal digits; one written in
// another base whose decimal digits would pass limits::kBigIntDecimalDigits
// (a quadratic conversion) keeps its literal.
std::string integer_text(const Value& v) {
  if (v.kind() == ValueKind::Int) return decimal(v.as_int());
  const std::uint8_t base = v.big_int_base();
  if (base == 10 || big_int_decimal_digits_bound(v.text(), base) <= limits::kBigIntDecimalDigits) {
    return big_int_to_decimal(v.text(), base);
  }
  std::string_view digits = v.text();
  std::string literal;
  if (!digits.empty() && digits.front() == '-') {
    literal += '-';
    digits.remove_prefix(1);
  }
  literal += base == 16 ? "0x" : base == 8 ? "0o" : "0b";
  literal += digits;
  return literal;
}

bool type_matches(std::string_view name, const Value& v) {
  const ValueKind k = v.kind();
  if (name == "null") return k == ValueKind::Null;
  if (name == "boolean") return k == ValueKind::Bool;
  if (name == "integer") {
    if (k == ValueKind::Int || k == ValueKind::BigInt) return true;
    return k == ValueKind::Float && std::isfinite(v.as_float()) &&
           std::trunc(v.as_float()) == v.as_float();
  }
  if (name == "number") {
    return k == ValueKind::Int || k == ValueKind::BigInt || k == ValueKind::Float;
  }
  if (name == "string") return k == ValueKind::String;
  if (name == "array") return k == ValueKind::Sequence;
  if (name == "object") return k == ValueKind::Mapping;
  return true;
}

std::string_view json_type_name(const Value& v) {
  const Value* at = &v;
  while (at->kind() == ValueKind::Tagged) at = &at->inner();
  switch (at->kind()) {
    case ValueKind::Null:
      return "null";
    case ValueKind::Bool:
      return "boolean";
    case ValueKind::Int:
    case ValueKind::BigInt:
      return "integer";
    case ValueKind::Float:
      return "number";
    case ValueKind::String:
    case ValueKind::Timestamp:
      return "string";
    case ValueKind::Sequence:
      return "array";
    case ValueKind::Mapping:
      return "object";
    case ValueKind::Tagged:
      break;
  }
  return "null";
}

// minLength and maxLength: an Int, or a finite integral Float saturated to
// 64 bits.
std::optional<std::int64_t> integer_bound(const Value& v) noexcept {
  if (v.kind() == ValueKind::Int) return v.as_int();
  if (v.kind() != ValueKind::Float) return std::nullopt;
  const double f = v.as_float();
  if (!std::isfinite(f) || std::trunc(f) != f) return std::nullopt;
  if (f >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
  if (f <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(f);
}

std::size_t code_point_count(std::string_view text) noexcept {
  std::size_t n = 0;
  for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

bool is_multiple(const Value& instance, double v, const Value& divisor, double d) {
  const std::optional<__int128> a = value_as_i128(instance);
  const std::optional<__int128> m = value_as_i128(divisor);
  if (a && m) return *a % *m == 0;
  const double r = std::round(v / d);
  const double diff = std::fabs(v - r * d);
  const double tolerance = std::fmax(std::fabs(v), d) * 0x1p-52 * 8;
  return !std::isnan(diff) && diff <= tolerance;
}

std::uint64_t mix(std::uint64_t h) noexcept {
  h ^= h >> 30;
  h *= 0xbf58476d1ce4e5b9ull;
  h ^= h >> 27;
  h *= 0x94d049bb133111ebull;
  return h ^ (h >> 31);
}

std::uint64_t combine(std::uint64_t seed, std::uint64_t h) noexcept {
  return mix(seed ^ (h + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2)));
}

// Int and Float hash as their double, so the numbers json_equal joins
// across kinds meet in one bucket.
std::uint64_t number_hash(double d) noexcept {
  if (std::isnan(d)) return mix(0x4e614e);  // never equal to anything
  if (d == 0) d = 0.0;                      // -0.0 == 0.0
  return mix(std::bit_cast<std::uint64_t>(d) ^ 0x6e756d);
}

// The value of an integer literal (any base, sign, '_' separators) modulo
// 2^61 - 1: equal integers hash alike whatever their spelling, and distinct
// large ones spread over the buckets. Linear in the text.
std::uint64_t big_int_hash(std::string_view text, unsigned base) noexcept {
  constexpr std::uint64_t kPrime = (std::uint64_t{1} << 61) - 1;
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::uint64_t r = 0;
  for (const char c : text) {
    if (c == '_') continue;
    std::uint64_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint64_t>(c - '0');
    } else if (c >= 'a' && c <= 'z') {
      digit = static_cast<std::uint64_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'Z') {
      digit = static_cast<std::uint64_t>(c - 'A' + 10);
    } else {
      digit = static_cast<unsigned char>(c);
    }
    const unsigned __int128 next = static_cast<unsigned __int128>(r) * base + digit;
    r = static_cast<std::uint64_t>(next % kPrime);
  }
  if (negative && r != 0) r = kPrime - r;
  return mix(r ^ 0x626967);
}

// What hashing a value tells about it. json_equal is not transitive across
// Int and Float (2^53 + 1 and 2^53 both equal the float 2^53, not each
// other), so one hash cannot both agree with it and tell such integers
// apart: `loose` agrees with json_equal (an Int by its double), `strict`
// takes an Int beyond 2^53 by its exact value. Two values without an
// integral float of that size (`wide_float`) are json_equal only when their
// strict hashes agree too, so integers that share a double are compared
// only beside such a float.
struct Hashed {
  std::uint64_t loose = 0;
  std::uint64_t strict = 0;
  std::uint64_t nodes = 0;   // nodes of the value
  bool never_equal = false;  // a NaN inside: json_equal to nothing, itself included
  bool wide_float = false;
  bool cut_off = false;      // a node the expansion limits cut off inside
};

// Whether two hashed values can be json_equal; only those are compared.
bool may_equal(const Hashed& a, const Hashed& b) noexcept {
  return !a.never_equal && !b.never_equal && a.loose == b.loose &&
         (a.strict == b.strict || a.wide_float || b.wide_float);
}

void hash_scalar(const Value& v, Hashed& h) noexcept {
  constexpr double kExact = 9007199254740992.0;  // 2^53: every integer up to it is a double
  switch (v.kind()) {
    case ValueKind::Null:
      h.loose = h.strict = mix(1);
      return;
    case ValueKind::Bool:
      h.loose = h.strict = mix(2 + static_cast<std::uint64_t>(v.as_bool()));
      return;
    case ValueKind::Int: {
      const std::int64_t i = v.as_int();
      h.loose = number_hash(static_cast<double>(i));
      const bool exact = i >= -(std::int64_t{1} << 53) && i <= (std::int64_t{1} << 53);
      h.strict = exact ? h.loose : mix(static_cast<std::uint64_t>(i) ^ 0x696e74);
      return;
    }
    case ValueKind::Float: {
      const double f = v.as_float();
      h.loose = h.strict = number_hash(f);
      h.never_equal = std::isnan(f);
      h.wide_float = std::isfinite(f) && std::fabs(f) >= kExact;
      return;
    }
    case ValueKind::BigInt:
      // A BigInt equals only BigInts of the same value, in any base.
      h.loose = h.strict = big_int_hash(v.text(), v.big_int_base());
      return;
    case ValueKind::String:
      h.loose = h.strict = combine(5, std::hash<std::string_view>{}(v.text()));
      return;
    default:
      // Timestamps and tags are never made from a document; one bucket
      // each is enough.
      h.loose = h.strict = mix(static_cast<std::uint64_t>(v.kind()) + 100);
      return;
  }
}

// Indices of values by their loose hash (open addressing): a lookup visits
// only the run of slots its hash starts, so distinct values cost one probe.
class HashIndex {
 public:
  void reset(std::size_t count) {
    std::size_t size = 16;
    while (size < 2 * count) size *= 2;
    slots_.assign(size, kEmpty);
  }
  void insert(std::uint32_t index, std::uint64_t hash) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t slot = hash & mask;
    while (slots_[slot] != kEmpty) slot = (slot + 1) & mask;
    slots_[slot] = index;
  }
  // Calls `fn` with each index whose slot the lookup of `hash` passes,
  // until it returns true; true then.
  template <class Fn>
  bool any(std::uint64_t hash, Fn&& fn) const {
    if (slots_.empty()) return false;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = hash & mask; slots_[slot] != kEmpty; slot = (slot + 1) & mask) {
      if (fn(slots_[slot])) return true;
    }
    return false;
  }

 private:
  static constexpr std::uint32_t kEmpty = std::numeric_limits<std::uint32_t>::max();
  std::vector<std::uint32_t> slots_;
};

// Pairs of two mappings of equal size matched one to one (augmenting
// paths), for when the greedy pass fails: equality across Int and Float is
// not transitive, so greedy can miss a matching that exists. `candidates`
// lists, for a pair of a, the pairs of b it could equal.
template <class Candidates>
bool pairs_match(std::span<const ValuePair> a, std::span<const ValuePair> b,
                 Candidates&& candidates) {
  const std::size_t n = a.size();
  std::vector<std::vector<std::size_t>> edges(n);
  for (std::size_t i = 0; i < n; ++i) {
    candidates(i, [&](std::size_t j) {
      if (json_equal(a[i].key, b[j].key) && json_equal(a[i].value, b[j].value)) {
        edges[i].push_back(j);
      }
    });
    if (edges[i].empty()) return false;
  }
  constexpr std::size_t kFree = static_cast<std::size_t>(-1);
  std::vector<std::size_t> owner(n, kFree);
  std::vector<std::size_t> seen(n, kFree);
  // Iterative augmenting-path search from each left vertex.
  for (std::size_t start = 0; start < n; ++start) {
    struct Step {
      std::size_t left;
      std::size_t next_edge;
    };
    std::vector<Step> stack{{start, 0}};
    std::vector<std::size_t> via;  // right vertex taken at each level
    bool found = false;
    while (!stack.empty() && !found) {
      Step& top = stack.back();
      if (top.next_edge == edges[top.left].size()) {
        stack.pop_back();
        if (!via.empty()) via.pop_back();
        continue;
      }
      const std::size_t right = edges[top.left][top.next_edge++];
      if (seen[right] == start) continue;
      seen[right] = start;
      via.push_back(right);
      if (owner[right] == kFree) {
        found = true;
        break;
      }
      stack.push_back({owner[right], 0});
    }
    if (!found) return false;
    for (std::size_t level = 0; level < via.size(); ++level) owner[via[level]] = stack[level].left;
  }
  return true;
}

// Mappings up to this size compare every pair with every pair; larger ones
// compare only pairs of equal hash.
constexpr std::size_t kLinearPairCompare = 16;

std::uint64_t pair_hash(const ValuePair& p) {
  return with_stack_guard([&] { return json_hash(p.key) * 31 + json_hash(p.value); });
}

bool mappings_equal(const Value& a, const Value& b) {
  const auto pa = a.pairs().view();
  const auto pb = b.pairs().view();
  if (pa.size() != pb.size()) return false;
  const std::size_t n = pb.size();
  std::vector<bool> used(n, false);
  if (n <= kLinearPairCompare) {
    const auto every = [&](std::size_t, auto&& visit) {
      for (std::size_t j = 0; j < n; ++j) visit(j);
    };
    bool greedy = true;
    for (const ValuePair& p : pa) {
      bool matched = false;
      for (std::size_t j = 0; j < n && !matched; ++j) {
        if (!used[j] && json_equal(p.key, pb[j].key) && json_equal(p.value, pb[j].value)) {
          used[j] = true;
          matched = true;
        }
      }
      if (!matched) {
        greedy = false;
        break;
      }
    }
    return greedy || pairs_match(pa, pb, every);
  }
  // Pairs json_equal calls equal hash alike: b's pairs by hash, and each
  // pair of a looks only in its own bucket.
  std::unordered_map<std::uint64_t, std::vector<std::size_t>> buckets;
  buckets.reserve(n);
  for (std::size_t j = 0; j < n; ++j) buckets[pair_hash(pb[j])].push_back(j);
  std::vector<std::uint64_t> hashes(n);
  bool greedy = true;
  for (std::size_t i = 0; i < n; ++i) {
    hashes[i] = pair_hash(pa[i]);
    const auto found = buckets.find(hashes[i]);
    if (found == buckets.end()) return false;
    bool matched = false;
    for (const std::size_t j : found->second) {
      if (!used[j] && json_equal(pa[i].key, pb[j].key) && json_equal(pa[i].value, pb[j].value)) {
        used[j] = true;
        matched = true;
        break;
      }
    }
    greedy = greedy && matched;
  }
  if (greedy) return true;
  const auto same_hash = [&](std::size_t i, auto&& visit) {
    for (const std::size_t j : buckets.find(hashes[i])->second) visit(j);
  };
  return pairs_match(pa, pb, same_hash);
}

// The members of one mapping node (the pairs whose key is a scalar, named
// by the key's text as written), asked whether a name is present. Large
// mappings answer from a set built on the first question.
template <class Tree>
class Members {
 public:
  using Node = typename Tree::Node;
  explicit Members(const Node& node) : node_(node) {}

  [[nodiscard]] bool has(std::string_view name) {
    constexpr std::size_t kScanned = 16;
    const std::size_t pairs = Tree::pair_count(node_);
    if (pairs <= kScanned) {
      for (std::size_t i = 0; i < pairs; ++i) {
        const std::optional<std::string_view> key = Tree::name(Tree::key(node_, i));
        if (key && *key == name) return true;
      }
      return false;
    }
    if (!names_) {
      names_.emplace();
      names_->reserve(pairs);
      for (std::size_t i = 0; i < pairs; ++i) {
        if (const std::optional<std::string_view> key = Tree::name(Tree::key(node_, i))) {
          names_->insert(*key);
        }
      }
    }
    return names_->contains(name);
  }

 private:
  const Node& node_;
  std::optional<std::unordered_set<std::string_view>> names_;
};

}  // namespace

namespace {

// How the validator reads the tree it checks. Composed nodes keep their
// positions and are typed here, under the mode; the decoder's values are
// typed already, carry no position, and hold no alias, merge key, cut-off
// node, tag, timestamp, non-text key or repeated key (value_tree_fits).
struct NodeTree {
  using Node = YamlNode;
  static bool cut_off(const Node& n) noexcept { return is_cut_off(n); }
  static bool is_mapping(const Node& n) noexcept { return n.kind() == NodeKind::Mapping; }
  static bool is_sequence(const Node& n) noexcept { return n.kind() == NodeKind::Sequence; }
  static std::size_t pair_count(const Node& n) noexcept { return n.pair_count(); }
  static const Node& key(const Node& n, std::size_t i) noexcept { return n.key(i); }
  static const Node& value(const Node& n, std::size_t i) noexcept { return n.value(i); }
  static std::span<const Node> items(const Node& n) noexcept { return n.items(); }
  // A member's name: the key's text as written; nothing for a key that is
  // not a scalar. A tagged empty key is written as empty text ("" for
  // `? !!str`, as loads reads it); an untagged one is null.
  static std::optional<std::string_view> name(const Node& key) noexcept {
    if (key.kind() == NodeKind::Null && key.tag()) return std::string_view();
    if (key.kind() != NodeKind::Scalar) return std::nullopt;
    return key.text();
  }
  static Value shallow(const Node& n, ResolverMode mode) { return node_to_shallow_value(n, mode); }
  static Value full(const Node& n, ResolverMode mode, bool& cut_off) {
    return node_to_json_value_guarded(n, mode, &cut_off);
  }
  static std::uint64_t node_count(const Node& root) {
    std::vector<const Node*> stack{&root};
    std::uint64_t count = 0;
    while (!stack.empty()) {
      const Node* n = stack.back();
      stack.pop_back();
      ++count;
      push_children(*n, stack);
    }
    return count;
  }
  // The key as `propertyNames` sees it: its text alone, quoted so that it is
  // always a string, at the key's position.
  template <class Fn>
  static void with_name(const Node& key, Fn&& fn) {
    YamlNode name = YamlNode::scalar(std::string(*NodeTree::name(key)), ScalarStyle::DoubleQuoted);
    name.span = key.span;
    name.end_offset = key.span.offset;
    name.end_line = key.span.line;
    name.end_column = key.span.column;
    fn(static_cast<const YamlNode&>(name));
  }
};

struct ValueTree {
  using Node = Value;
  static bool cut_off(const Node&) noexcept { return false; }
  static bool is_mapping(const Node& n) noexcept { return n.kind() == ValueKind::Mapping; }
  static bool is_sequence(const Node& n) noexcept { return n.kind() == ValueKind::Sequence; }
  static std::size_t pair_count(const Node& n) noexcept { return n.pairs().size(); }
  static const Node& key(const Node& n, std::size_t i) noexcept { return n.pairs()[i].key; }
  static const Node& value(const Node& n, std::size_t i) noexcept { return n.pairs()[i].value; }
  static std::span<const Node> items(const Node& n) noexcept { return n.items().view(); }
  static std::optional<std::string_view> name(const Node& key) noexcept { return key.text(); }
  // A collection stands for its empty self: the checks that read the
  // shallow value look at its kind only.
  static const Value& shallow(const Node& n, ResolverMode) noexcept { return n; }
  static const Value& full(const Node& n, ResolverMode, bool&) noexcept { return n; }
  static std::uint64_t node_count(const Node& root) { return count_nodes(root); }
  template <class Fn>
  static void with_name(const Node& key, Fn&& fn) {
    fn(key);
  }
};

// Hashes of a tree's values (Hashed), each computed once, bottom-up. A
// collection's hash is kept (memoised) when it is likely to be asked again:
// the arrays whose items uniqueItems hashed, and within any walk a
// collection of kHashKeptNodes nodes or more whose parent passes the next
// multiple of that size. Along any chain of nested values one collection in
// kHashKeptNodes is then kept, so a walk from any node stops after about
// that many nodes at a kept one, and the kept hashes take a small part of
// the memory of the tree. Only collections of the validated tree are kept
// (a scalar may be a temporary node, whose address is reused).
template <class Tree>
class Hasher {
 public:
  using Node = typename Tree::Node;
  static constexpr std::uint64_t kHashKeptNodes = 16;

  Hasher(ResolverMode mode, bool keep) : mode_(mode), keep_(keep) {}

  // The hash of `node`'s value.
  Hashed value(const Node& node) {
    return with_stack_guard([&] { return walk(node); });
  }

  // The hashes of the items of `array` into `items`, and the array's own
  // hash, which is kept.
  Hashed items(const Node& array, std::vector<Hashed>& items) {
    items.clear();
    items.reserve(Tree::items(array).size());
    Hashed h = with_stack_guard([&] { return walk_collection(array, &items); });
    if (keep_) memo_.try_emplace(&array, h);
    return h;
  }

  // Nodes hashed since the last call (kept hashes cost nothing).
  std::uint64_t take_fresh() noexcept { return std::exchange(fresh_, 0); }

 private:
  static bool is_collection(const Node& n) noexcept {
    return Tree::is_sequence(n) || Tree::is_mapping(n);
  }

  Hashed walk(const Node& n) {
    if (!is_collection(n)) {
      ++fresh_;
      Hashed h;
      hash_scalar(Tree::shallow(n, mode_), h);
      h.nodes = 1;
      h.cut_off = Tree::cut_off(n);
      return h;
    }
    if (keep_) {
      if (const auto it = memo_.find(&n); it != memo_.end()) return it->second;
    }
    return walk_collection(n, nullptr);
  }

  Hashed walk_collection(const Node& n, std::vector<Hashed>* items) {
    ++fresh_;
    Hashed h;
    h.nodes = 1;
    const std::size_t mark = pending_.size();
    const auto child = [&](const Node& c) {
      const Hashed ch = with_stack_guard([&] { return walk(c); });
      h.nodes += ch.nodes;
      h.never_equal |= ch.never_equal;
      h.wide_float |= ch.wide_float;
      h.cut_off |= ch.cut_off;
      if (keep_ && ch.nodes >= kHashKeptNodes && is_collection(c)) pending_.push_back({&c, ch});
      return ch;
    };
    if (Tree::is_sequence(n)) {
      const std::span<const Node> list = Tree::items(n);
      h.loose = h.strict = mix(7 + list.size());
      for (const Node& item : list) {
        const Hashed ih = child(item);
        h.loose = combine(h.loose, ih.loose);
        h.strict = combine(h.strict, ih.strict);
        if (items != nullptr) items->push_back(ih);
      }
    } else {
      // Sums, so that pair order does not matter.
      const std::size_t pairs = Tree::pair_count(n);
      std::uint64_t loose = 0;
      std::uint64_t strict = 0;
      for (std::size_t i = 0; i < pairs; ++i) {
        const Hashed k = child(Tree::key(n, i));
        const Hashed v = child(Tree::value(n, i));
        loose += combine(k.loose, v.loose);
        strict += combine(k.strict, v.strict);
      }
      h.loose = combine(mix(8 + pairs), loose);
      h.strict = combine(mix(8 + pairs), strict);
    }
    if (keep_) {
      const std::uint64_t level = h.nodes / kHashKeptNodes;
      for (std::size_t i = mark; i < pending_.size(); ++i) {
        if (pending_[i].hash.nodes / kHashKeptNodes < level) {
          memo_.try_emplace(pending_[i].node, pending_[i].hash);
        }
      }
      pending_.resize(mark);
    }
    return h;
  }

  struct Pending {
    const Node* node;
    Hashed hash;
  };

  ResolverMode mode_;
  bool keep_;
  std::uint64_t fresh_ = 0;
  std::unordered_map<const Node*, Hashed> memo_;
  std::vector<Pending> pending_;
};

}  // namespace

// The keyword tables of one schema, kept with it: what every validation
// against the schema reads again, and for `enum` and `const` the hashes of
// their values, so that an instance is looked up in an enum's hash index
// instead of compared with each member.
struct EnumIndex {
  std::vector<Hashed> hashes;  // one per member
  HashIndex index;             // the members that can equal anything
};

struct SchemaTables {
  std::unordered_map<const Value*, KeywordTable> tables;
  std::unordered_map<const Value*, EnumIndex> enums;
  std::unordered_map<const Value*, Hashed> consts;
  PatternCache patterns;

  const KeywordTable& keywords(const Value& schema) {
    auto [it, fresh] = tables.try_emplace(&schema);
    if (fresh) it->second = build_keyword_table(schema, patterns);
    return it->second;
  }

  const EnumIndex& enum_index(const Value& members) {
    auto [it, fresh] = enums.try_emplace(&members);
    if (fresh) {
      EnumIndex& e = it->second;
      Hasher<ValueTree> hasher(ResolverMode{}, false);
      const std::span<const Value> items = members.items().view();
      e.hashes.reserve(items.size());
      e.index.reset(items.size());
      for (std::size_t i = 0; i < items.size(); ++i) {
        e.hashes.push_back(hasher.value(items[i]));
        if (!e.hashes.back().never_equal) e.index.insert(static_cast<std::uint32_t>(i), e.hashes.back().loose);
      }
    }
    return it->second;
  }

  const Hashed& const_hash(const Value& value) {
    auto [it, fresh] = consts.try_emplace(&value);
    if (fresh) it->second = Hasher<ValueTree>(ResolverMode{}, false).value(value);
    return it->second;
  }
};

namespace {

template <class Tree>
class Validator {
 public:
  using Node = typename Tree::Node;

  // `document` is the tree being validated (its size sets the budgets),
  // `main` the validation's own sink, where a limit's failure goes.
  Validator(const Value& root, ResolverMode mode, SchemaTables& tables, const Node& document,
            Sink& main)
      : root_(root), mode_(mode), tables_(tables), document_(document), main_(main) {}

  void validate(const Node& node, const Value& schema, const PathSegment& path,
                std::uint64_t ref_depth, Sink& sink) {
    if (stopped_ || !spend(1, node, path)) return;
    if (schema.kind() == ValueKind::Bool && !schema.as_bool()) {
      sink.fail(node, path, [] { return std::string("value is not allowed (schema is false)"); });
      return;
    }
    if (schema.kind() != ValueKind::Mapping) return;
    const KeywordTable& kw = tables_.keywords(schema);
    if (Tree::cut_off(node)) {
      if (kw.has_pairs) stop(node, path, cut_off_message);
      return;
    }
    if (const Value* ref = kw.get(kRef, ValueKind::String)) {
      follow_ref(node, ref->text(), path, ref_depth, sink);
      return;
    }
    check_value(node, kw, path, sink);
    if (stopped_) return;
    if (Tree::is_mapping(node)) {
      check_object(node, kw, path, sink);
    } else if (Tree::is_sequence(node)) {
      check_array(node, kw, path, sink);
    }
    if (stopped_) return;
    check_combinators(node, kw, path, ref_depth, sink);
  }

 private:
  static std::string cut_off_message() {
    return "value could not be validated (alias expansion limit reached)";
  }

  // Ends the validation at `node` with a limit's message, which is then the
  // failure reported, even from inside anyOf, oneOf, not or contains: a
  // limit says nothing about whether the value matches.
  template <class MakeMessage>
  void stop(const Node& node, const PathSegment& path, MakeMessage&& make_message) {
    if (stopped_) return;
    stopped_ = true;
    main_.limit(node, path, make_message);
  }

  // The budgets start at their fixed part; the first time one runs out,
  // both grow by their allowance for each node of the document, so that a
  // large document is checked in full while a small one cannot make the
  // schema repeat its work without end.
  bool grow_budgets() {
    if (grown_) return false;
    grown_ = true;
    const std::uint64_t nodes = Tree::node_count(document_);
    work_budget_ += nodes * limits::kSchemaWorkPerNode;
    work_left_ += nodes * limits::kSchemaWorkPerNode;
    ref_budget_ += nodes * limits::kRefBudgetPerNode;
    ref_left_ += nodes * limits::kRefBudgetPerNode;
    return true;
  }

  // Takes `units` of work (a schema applied to a node, a node converted for
  // enum, const or uniqueItems, 64 bytes of a string measured or searched,
  // a member looked at); false, and the validation stopped, when the work
  // budget is spent.
  bool spend(std::uint64_t units, const Node& node, const PathSegment& path) {
    while (work_left_ < units) {
      if (!grow_budgets()) {
        work_left_ = 0;
        stop(node, path, [&] {
          return "schema validation work budget exhausted (" + decimal(work_budget_) +
                 " units of work for this document)";
        });
        return false;
      }
    }
    work_left_ -= units;
    return true;
  }

  void check_value(const Node& node, const KeywordTable& kw, const PathSegment& path, Sink& sink) {
    decltype(auto) instance = Tree::shallow(node, mode_);
    if (const Value* type = kw.get(kType)) check_type(node, *type, instance, path, sink);
    const Value* enum_values = kw.get(kEnum, ValueKind::Sequence);
    const Value* const_value = kw.get(kConst);
    if (enum_values != nullptr || const_value != nullptr) {
      check_equal_values(node, enum_values, const_value, path, sink);
      if (stopped_) return;
    }
    if (const std::optional<double> v = keyword_as_f64(instance)) {
      check_numbers(node, kw, instance, *v, path, sink);
    }
    if (instance.kind() == ValueKind::String) check_string(node, kw, instance.text(), path, sink);
  }

  // enum and const: the instance's hash (nodes hashed once for the whole
  // validation) is looked up in the enum's hash index and compared with
  // the const's, and only values that may be equal are compared; each
  // comparison costs the nodes of both values.
  void check_equal_values(const Node& node, const Value* enum_values, const Value* const_value,
                          const PathSegment& path, Sink& sink) {
    const Hashed h = hasher_.value(node);
    if (h.cut_off) {
      stop(node, path, cut_off_message);
      return;
    }
    if (!spend(hasher_.take_fresh(), node, path)) return;
    std::optional<Value> converted;  // the composed node's value, made on the first comparison
    // Nothing when the budget ran out.
    const auto equal_to = [&](const Value& allowed, const Hashed& allowed_hash) -> std::optional<bool> {
      if (!may_equal(h, allowed_hash)) return false;
      if (!spend(h.nodes + allowed_hash.nodes, node, path)) return std::nullopt;
      if constexpr (std::is_same_v<Node, Value>) {
        return json_equal(allowed, node);
      } else {
        bool cut_off = false;
        if (!converted) converted = Tree::full(node, mode_, cut_off);
        return json_equal(allowed, *converted);
      }
    };
    if (enum_values != nullptr) {
      const EnumIndex& members = tables_.enum_index(*enum_values);
      const std::span<const Value> items = enum_values->items().view();
      const bool found = members.index.any(h.loose, [&](std::uint32_t i) {
        const std::optional<bool> equal = equal_to(items[i], members.hashes[i]);
        return !equal || *equal;
      });
      if (stopped_) return;
      if (!found) {
        sink.fail(node, path,
                  [] { return std::string("value is not one of the allowed enum values"); });
      }
    }
    if (const_value != nullptr) {
      const std::optional<bool> equal = equal_to(*const_value, tables_.const_hash(*const_value));
      if (!equal) return;
      if (!*equal) {
        sink.fail(node, path,
                  [] { return std::string("value does not equal the required const"); });
      }
    }
  }

  // An invalid pattern quotes itself; one too large to compile is named by
  // its place in the schema (`text` is the pattern's own value, or its key
  // under patternProperties).
  std::string pattern_fault_message(const CompiledPattern& compiled, const Value& text) const {
    if (compiled.fault != PatternFault::TooLarge) {
      return with_text("schema has an invalid regex pattern /", text.text(), "/");
    }
    return "schema pattern at " + schema_pointer(root_, &text) +
           " is too large to compile (pattern size limit: " +
           decimal(limits::kPatternReadBudget) + " units read, " +
           decimal(limits::kPatternMemory >> 20) + " MiB compiled)";
  }

  // Strings measured or searched cost a unit per 64 bytes.
  static constexpr std::size_t kBytesPerUnit = 64;

  void check_type(const Node& node, const Value& type, const Value& instance,
                  const PathSegment& path, Sink& sink) {
    if (type.kind() == ValueKind::String) {
      if (type_matches(type.text(), instance)) return;
    } else if (type.kind() == ValueKind::Sequence) {
      for (const Value& name : type.items()) {
        if (name.kind() == ValueKind::String && type_matches(name.text(), instance)) return;
      }
    } else {
      return;
    }
    sink.fail(node, path, [&] {
      std::string expected;
      if (type.kind() == ValueKind::String) {
        expected = type.text();
      } else {
        for (const Value& name : type.items()) {
          if (name.kind() != ValueKind::String) continue;
          if (!expected.empty()) expected += " | ";
          expected += name.text();
        }
      }
      return "expected type " + expected + ", found " + std::string(json_type_name(instance));
    });
  }

  void check_numbers(const Node& node, const KeywordTable& kw, const Value& instance, double v,
                     const PathSegment& path, Sink& sink) {
    // Each bound fails for some signs of the comparison of the value with
    // it: below (-1), equal (0), above (1).
    struct Bound {
      Keyword keyword;
      bool (*fails)(int);
      std::string_view relation;
    };
    static constexpr Bound kBounds[] = {
        {kMinimum, [](int c) { return c < 0; }, "is less than minimum"},
        {kMaximum, [](int c) { return c > 0; }, "is greater than maximum"},
        {kExclusiveMinimum, [](int c) { return c <= 0; }, "is not greater than"},
        {kExclusiveMaximum, [](int c) { return c >= 0; }, "is not less than"},
    };
    for (const Bound& bound : kBounds) {
      const Value* entry = kw.get(bound.keyword);
      if (entry == nullptr) continue;
      // An integer against an integer bound is compared exactly, whatever
      // their size; anything else through 64-bit floats, where a
      // comparison with NaN fails no bound.
      if (const std::optional<int> c = compare_integers(instance, *entry)) {
        if (bound.fails(*c)) {
          sink.fail(node, path, [&] {
            return "value " + integer_text(instance) + " " + std::string(bound.relation) + " " +
                   integer_text(*entry);
          });
        }
        continue;
      }
      const std::optional<double> b = keyword_as_f64(*entry);
      if (!b || std::isnan(v) || std::isnan(*b)) continue;
      if (bound.fails((v > *b) - (v < *b))) {
        sink.fail(node, path, [&] { return number_message(v, bound.relation, *b); });
      }
    }
    if (const Value* entry = kw.get(kMultipleOf)) {
      const std::optional<double> d = keyword_as_f64(*entry);
      if (d && *d > 0 && !is_multiple(instance, v, *entry, *d)) {
        sink.fail(node, path, [&] { return number_message(v, "is not a multiple of", *d); });
      }
    }
  }

  void check_string(const Node& node, const KeywordTable& kw, std::string_view text,
                    const PathSegment& path, Sink& sink) {
    const Value* min_entry = kw.get(kMinLength);
    const Value* max_entry = kw.get(kMaxLength);
    const Value* pattern_entry = kw.get(kPattern, ValueKind::String);
    if ((min_entry != nullptr || max_entry != nullptr || pattern_entry != nullptr) &&
        !spend(text.size() / kBytesPerUnit, node, path)) {
      return;
    }
    if (min_entry != nullptr || max_entry != nullptr) {
      const auto length = static_cast<std::int64_t>(code_point_count(text));
      if (min_entry != nullptr) {
        if (const std::optional<std::int64_t> bound = integer_bound(*min_entry);
            bound && length < *bound) {
          sink.fail(node, path,
                    [&] { return "string is shorter than minLength " + decimal(*bound); });
        }
      }
      if (max_entry != nullptr) {
        if (const std::optional<std::int64_t> bound = integer_bound(*max_entry);
            bound && length > *bound) {
          sink.fail(node, path,
                    [&] { return "string is longer than maxLength " + decimal(*bound); });
        }
      }
    }
    if (const Value* pattern = pattern_entry) {
      const re2::RE2* re = kw.pattern->re.get();
      if (re == nullptr) {
        sink.fail(node, path, [&] { return pattern_fault_message(*kw.pattern, *pattern); });
      } else if (!pattern_search(*re, text)) {
        sink.fail(node, path, [&] {
          return with_text("string does not match pattern /", pattern->text(), "/");
        });
      }
    }
  }

  // A member, item, property name or dependency: its own $ref nesting
  // starts again at 0 (the shared budget still bounds the whole).
  void validate_child(const Node& node, const Value& schema, const PathSegment& path, Sink& sink) {
    with_stack_guard([&] { validate(node, schema, path, 0, sink); });
  }

  void check_object(const Node& node, const KeywordTable& kw, const PathSegment& path, Sink& sink) {
    const std::size_t pairs = Tree::pair_count(node);
    if (kw.reads_names) {
      if (!spend(pairs, node, path)) return;
      // A key the expansion limits cut off has no name: what it would match
      // is unknown.
      for (std::size_t i = 0; i < pairs; ++i) {
        if (Tree::cut_off(Tree::key(node, i))) {
          stop(Tree::key(node, i), path, cut_off_message);
          return;
        }
      }
    }
    Members<Tree> members(node);
    if (const Value* required = kw.get(kRequired, ValueKind::Sequence)) {
      for (const Value& name : required->items()) {
        if (name.kind() != ValueKind::String || members.has(name.text())) continue;
        sink.fail(node, path,
                  [&] { return with_text("missing required property '", name.text(), "'"); });
      }
    }
    for (const MemberPattern& pattern : kw.patterns) {
      if (pattern.compiled->re != nullptr) continue;
      sink.fail(node, path, [&] { return pattern_fault_message(*pattern.compiled, *pattern.key); });
    }
    const bool has_properties = kw.get(kProperties, ValueKind::Mapping) != nullptr;
    const Value* additional = kw.get(kAdditionalProperties);
    if (has_properties || !kw.patterns.empty() || additional != nullptr) {
      for (std::size_t i = 0; i < pairs; ++i) {
        const std::optional<std::string_view> key_name = Tree::name(Tree::key(node, i));
        if (!key_name) continue;
        const std::string_view name = *key_name;
        const Node& value = Tree::value(node, i);
        const PathSegment member{&path, name, i, PathSegment::Kind::Key};
        bool matched = false;
        if (has_properties) {
          if (const auto it = kw.properties.find(name); it != kw.properties.end()) {
            matched = true;
            validate_child(value, *it->second, member, sink);
          }
        }
        for (const MemberPattern& pattern : kw.patterns) {
          const re2::RE2* re = pattern.compiled->re.get();
          if (re == nullptr || !pattern_search(*re, name)) continue;
          matched = true;
          validate_child(value, *pattern.schema, member, sink);
        }
        if (matched || additional == nullptr) continue;
        if (additional->kind() == ValueKind::Bool && !additional->as_bool()) {
          sink.fail(value, member,
                    [&] { return with_text("additional property '", name, "' is not allowed"); });
        } else if (additional->kind() == ValueKind::Mapping) {
          validate_child(value, *additional, member, sink);
        }
      }
    }
    const auto count = static_cast<std::int64_t>(pairs);
    check_count(node, kw.get(kMinProperties), count, false, "object has fewer than minProperties ",
                path, sink);
    check_count(node, kw.get(kMaxProperties), count, true, "object has more than maxProperties ",
                path, sink);
    if (const Value* names = kw.get(kPropertyNames)) {
      for (std::size_t i = 0; i < pairs; ++i) {
        const Node& key = Tree::key(node, i);
        const std::optional<std::string_view> key_name = Tree::name(key);
        if (!key_name) continue;
        const PathSegment member{&path, *key_name, i, PathSegment::Kind::KeyName};
        Tree::with_name(key, [&](const Node& name) { validate_child(name, *names, member, sink); });
      }
    }
    if (const Value* dependencies = kw.get(kDependencies, ValueKind::Mapping)) {
      for (const ValuePair& dependency : dependencies->pairs()) {
        if (dependency.key.kind() != ValueKind::String) continue;
        const std::string_view name = dependency.key.text();
        if (!members.has(name)) continue;
        const Value& needs = dependency.value;
        if (needs.kind() == ValueKind::Sequence) {
          for (const Value& other : needs.items()) {
            if (other.kind() != ValueKind::String || members.has(other.text())) continue;
            sink.fail(node, path, [&] {
              std::string message = with_text("property '", name, "' requires '");
              message += other.text();
              message += "' to also be present";
              return message;
            });
          }
        } else if (needs.kind() == ValueKind::Mapping || needs.kind() == ValueKind::Bool) {
          validate_child(node, needs, path, sink);
        }
      }
    }
  }

  // minItems, maxItems, minProperties, maxProperties: `entry` read as an
  // integer bound (else ignored) against `count`.
  static void check_count(const Node& node, const Value* entry, std::int64_t count, bool is_maximum,
                          std::string_view message, const PathSegment& path, Sink& sink) {
    if (entry == nullptr) return;
    const std::optional<std::int64_t> bound = integer_bound(*entry);
    if (!bound || (is_maximum ? count <= *bound : count >= *bound)) return;
    sink.fail(node, path, [&] { return std::string(message) + decimal(*bound); });
  }

  void check_array(const Node& node, const KeywordTable& kw, const PathSegment& path, Sink& sink) {
    const std::span<const Node> items = Tree::items(node);
    const auto count = static_cast<std::int64_t>(items.size());
    check_count(node, kw.get(kMinItems), count, false, "array has fewer than minItems ", path,
                sink);
    check_count(node, kw.get(kMaxItems), count, true, "array has more than maxItems ", path, sink);
    if (const Value* each = kw.get(kItems)) {
      const Value* additional = kw.get(kAdditionalItems);
      const bool by_position = each->kind() == ValueKind::Sequence;
      const std::size_t positions = by_position ? each->items().size() : 0;
      for (std::size_t i = 0; i < items.size(); ++i) {
        const PathSegment item{&path, {}, i, PathSegment::Kind::Index};
        if (!by_position) {
          validate_child(items[i], *each, item, sink);
        } else if (i < positions) {
          validate_child(items[i], each->items()[i], item, sink);
        } else if (additional == nullptr) {
          break;
        } else if (additional->kind() == ValueKind::Bool && !additional->as_bool()) {
          sink.fail(items[i], item, [&] {
            return "array has more items than the " + decimal(positions) + " allowed";
          });
        } else if (additional->kind() == ValueKind::Mapping) {
          validate_child(items[i], *additional, item, sink);
        }
      }
    }
    if (const Value* unique = kw.get(kUniqueItems, ValueKind::Bool);
        unique != nullptr && unique->as_bool() && items.size() > 1) {
      check_unique(node, items, path, sink);
      if (stopped_) return;
    }
    if (const Value* wanted = kw.get(kContains)) {
      bool found = false;
      for (std::size_t i = 0; i < items.size() && !found; ++i) {
        found = passes(items[i], *wanted, PathSegment{&path, {}, i, PathSegment::Kind::Index}, 0);
      }
      if (stopped_) return;
      if (!found) {
        sink.fail(node, path,
                  [] { return std::string("no array item matches the 'contains' schema"); });
      }
    }
  }

  // uniqueItems: each item's hash (nodes hashed once for the whole
  // validation) goes into an index, where it meets only earlier items of
  // the same hash; only values that may be equal are compared, each
  // comparison costing the nodes of both items.
  void check_unique(const Node& node, std::span<const Node> items, const PathSegment& path,
                    Sink& sink) {
    std::vector<Hashed> hashes;
    if (hasher_.items(node, hashes).cut_off) {
      stop(node, path, cut_off_message);
      return;
    }
    if (!spend(hasher_.take_fresh(), node, path)) return;
    // The composed roads compare values made of their nodes, each made once.
    std::vector<std::optional<Value>> converted;
    if constexpr (!std::is_same_v<Node, Value>) converted.resize(items.size());
    const auto value_of = [&](std::size_t i) -> const Value& {
      if constexpr (std::is_same_v<Node, Value>) {
        return items[i];
      } else {
        bool cut_off = false;
        if (!converted[i]) converted[i] = Tree::full(items[i], mode_, cut_off);
        return *converted[i];
      }
    };
    HashIndex index;
    index.reset(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
      const Hashed& h = hashes[i];
      if (h.never_equal) continue;
      const bool repeated = index.any(h.loose, [&](std::uint32_t j) {
        if (!may_equal(hashes[j], h)) return false;
        if (!spend(hashes[j].nodes + h.nodes, node, path)) return true;
        return json_equal(value_of(j), value_of(i));
      });
      if (stopped_) return;
      if (repeated) {
        sink.fail(node, path, [] { return std::string("array items are not unique"); });
        return;
      }
      index.insert(static_cast<std::uint32_t>(i), h.loose);
    }
  }

  // Validates into a sink that only counts; true when nothing failed.
  bool passes(const Node& node, const Value& schema, const PathSegment& path,
              std::uint64_t ref_depth) {
    Sink branch;
    with_stack_guard([&] { validate(node, schema, path, ref_depth, branch); });
    return branch.count == 0;
  }

  void check_combinators(const Node& node, const KeywordTable& kw, const PathSegment& path,
                         std::uint64_t ref_depth, Sink& sink) {
    if (const Value* all = kw.get(kAllOf, ValueKind::Sequence)) {
      for (const Value& sub : all->items()) {
        with_stack_guard([&] { validate(node, sub, path, ref_depth, sink); });
        if (stopped_) return;
      }
    }
    if (const Value* any = kw.get(kAnyOf, ValueKind::Sequence)) {
      bool matched = false;
      for (const Value& sub : any->items()) {
        if (passes(node, sub, path, ref_depth)) {
          matched = true;
          break;
        }
      }
      if (stopped_) return;
      if (!matched) {
        sink.fail(node, path,
                  [] { return std::string("value does not match any of the anyOf schemas"); });
      }
    }
    if (const Value* one = kw.get(kOneOf, ValueKind::Sequence)) {
      std::size_t matches = 0;
      for (const Value& sub : one->items()) {
        matches += passes(node, sub, path, ref_depth);
        if (stopped_) return;
      }
      if (matches != 1) {
        sink.fail(node, path, [&] {
          return "value matches " + decimal(matches) +
                 " of the oneOf schemas (exactly one required)";
        });
      }
    }
    if (const Value* negated = kw.get(kNot)) {
      if (passes(node, *negated, path, ref_depth) && !stopped_) {
        sink.fail(node, path, [] { return std::string("value must not match the 'not' schema"); });
      }
    }
  }

  void follow_ref(const Node& node, std::string_view ref, const PathSegment& path,
                  std::uint64_t ref_depth, Sink& sink) {
    if (ref_depth > limits::kMaxRefDepth) {
      stop(node, path,
           [] { return std::string("schema $ref nesting too deep (cyclic reference?)"); });
      return;
    }
    if (ref_left_ == 0 && (!grow_budgets() || ref_left_ == 0)) {
      stop(node, path, [&] {
        return "schema $ref resolution budget exhausted (" + decimal(ref_budget_) +
               " resolutions for this document)";
      });
      return;
    }
    --ref_left_;
    const Value* target = resolve_pointer(ref);
    if (target == nullptr) {
      sink.fail(node, path, [&] { return with_text("unresolvable schema $ref '", ref, "'"); });
      return;
    }
    with_stack_guard([&] { validate(node, *target, path, ref_depth + 1, sink); });
  }

  // A local JSON pointer ("#", "#/a/0") into the root schema.
  const Value* resolve_pointer(std::string_view ref) const {
    if (ref.empty() || ref.front() != '#') return nullptr;
    if (ref.size() == 1) return &root_;
    if (ref[1] != '/') return nullptr;
    const Value* at = &root_;
    std::string_view rest = ref.substr(2);
    std::string segment;
    while (true) {
      const std::size_t slash = rest.find('/');
      segment = unescape_segment(rest.substr(0, slash));
      at = step_into(*at, segment);
      if (at == nullptr || slash == std::string_view::npos) break;
      rest = rest.substr(slash + 1);
    }
    return at;
  }

  static std::string replace_all(std::string text, std::string_view from, char to) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
      if (text.compare(i, from.size(), from) == 0) {
        out += to;
        i += from.size();
      } else {
        out += text[i++];
      }
    }
    return out;
  }

  static std::string unescape_segment(std::string_view raw) {
    if (raw.find('~') == std::string_view::npos) return std::string(raw);
    return replace_all(replace_all(std::string(raw), "~1", '/'), "~0", '~');
  }

  static const Value* step_into(const Value& at, std::string_view segment) {
    if (at.kind() == ValueKind::Mapping) {
      for (const ValuePair& pair : at.pairs()) {
        if (pair.key.kind() == ValueKind::String && pair.key.text() == segment) return &pair.value;
      }
      return nullptr;
    }
    if (at.kind() != ValueKind::Sequence) return nullptr;
    std::string_view digits = segment;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty()) return nullptr;
    std::uint64_t index = 0;
    for (const char c : digits) {
      if (c < '0' || c > '9') return nullptr;
    }
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
    if (ec != std::errc() || end != digits.data() + digits.size()) return nullptr;
    if (index >= at.items().size()) return nullptr;
    return &at.items()[index];
  }

  const Value& root_;
  ResolverMode mode_;
  SchemaTables& tables_;
  const Node& document_;
  Sink& main_;
  bool stopped_ = false;
  bool grown_ = false;
  std::uint64_t ref_budget_ = limits::kRefBudget;
  std::uint64_t ref_left_ = limits::kRefBudget;
  std::uint64_t work_budget_ = limits::kSchemaWorkBudget;
  std::uint64_t work_left_ = limits::kSchemaWorkBudget;
  Hasher<Tree> hasher_{mode_, true};
};

}  // namespace

PreparedSchema::PreparedSchema(Value schema)
    : schema_(std::move(schema)), tables_(std::make_unique<SchemaTables>()) {}
PreparedSchema::~PreparedSchema() = default;

std::optional<SchemaError> validate_document(const YamlNode& root, PreparedSchema& schema,
                                             ResolverMode mode, MergeRule rule) {
  std::optional<YamlNode> copy;
  if (needs_preparation(root, mode, rule)) copy.emplace(prepare_document(root, mode, rule));
  const YamlNode& tree = copy ? *copy : root;
  std::optional<SchemaError> first;
  Sink sink{&first};
  Validator<NodeTree> validator(schema.value(), mode, *schema.tables_, tree, sink);
  const PathSegment path;
  with_stack_guard([&] { validator.validate(tree, schema.value(), path, 0, sink); });
  return first;
}

std::optional<SchemaError> validate_document(const YamlNode& root, const Value& schema,
                                             ResolverMode mode, MergeRule rule) {
  PreparedSchema prepared(schema.clone());
  return validate_document(root, prepared, mode, rule);
}

bool value_tree_fits(const Value& root) {
  std::vector<const Value*> stack{&root};
  std::unordered_set<std::string_view> seen;
  while (!stack.empty()) {
    const Value* v = stack.back();
    stack.pop_back();
    switch (v->kind()) {
      case ValueKind::Tagged:
      case ValueKind::Timestamp:
        return false;
      case ValueKind::Sequence:
        for (const Value& item : v->items()) {
          if (item.kind() >= ValueKind::Sequence || item.kind() == ValueKind::Timestamp) {
            stack.push_back(&item);
          }
        }
        break;
      case ValueKind::Mapping: {
        const std::span<const ValuePair> pairs = v->pairs().view();
        for (std::size_t i = 0; i < pairs.size(); ++i) {
          if (pairs[i].key.kind() != ValueKind::String) return false;
          const std::string_view name = pairs[i].key.text();
          // Repeated keys: loads keeps one, the tree both.
          if (pairs.size() <= kLinearKeyCompare) {
            for (std::size_t j = 0; j < i; ++j) {
              if (pairs[j].key.text() == name) return false;
            }
          }
          stack.push_back(&pairs[i].value);
        }
        if (pairs.size() > kLinearKeyCompare) {
          seen.clear();
          for (const ValuePair& pair : pairs) {
            if (!seen.insert(pair.key.text()).second) return false;
          }
        }
        break;
      }
      default:
        break;
    }
  }
  return true;
}

std::optional<ValueFailure> value_failure(const Value& root, PreparedSchema& schema,
                                          ResolverMode mode) {
  ValueFailure failure;
  Sink sink{nullptr, &failure};
  Validator<ValueTree> validator(schema.value(), mode, *schema.tables_, root, sink);
  const PathSegment path;
  with_stack_guard([&] { validator.validate(root, schema.value(), path, 0, sink); });
  if (sink.count == 0) return std::nullopt;
  return failure;
}

const YamlNode* node_at(const YamlNode& root, std::span<const NodeStep> steps) noexcept {
  const YamlNode* at = &root;
  for (const NodeStep& step : steps) {
    switch (step.kind) {
      case NodeStep::Kind::Item:
        if (at->kind() != NodeKind::Sequence || step.index >= at->items().size()) return nullptr;
        at = &at->items()[step.index];
        break;
      case NodeStep::Kind::Value:
      case NodeStep::Kind::Key:
        if (at->kind() != NodeKind::Mapping || step.index >= at->pair_count()) return nullptr;
        at = step.kind == NodeStep::Kind::Key ? &at->key(step.index) : &at->value(step.index);
        break;
    }
  }
  return at;
}

bool schema_accepts_everything(const Value& schema) noexcept {
  if (schema.kind() == ValueKind::Mapping) return schema.pairs().empty();
  return schema.kind() != ValueKind::Bool || schema.as_bool();
}

bool json_equal(const Value& a, const Value& b) {
  const ValueKind ka = a.kind();
  const ValueKind kb = b.kind();
  if (ka == ValueKind::Int && kb == ValueKind::Float) {
    return static_cast<double>(a.as_int()) == b.as_float();
  }
  if (ka == ValueKind::Float && kb == ValueKind::Int) {
    return a.as_float() == static_cast<double>(b.as_int());
  }
  if (ka == ValueKind::Sequence && kb == ValueKind::Sequence) {
    if (a.items().size() != b.items().size()) return false;
    for (std::size_t i = 0; i < a.items().size(); ++i) {
      if (!with_stack_guard([&] { return json_equal(a.items()[i], b.items()[i]); })) return false;
    }
    return true;
  }
  if (ka == ValueKind::Mapping && kb == ValueKind::Mapping) {
    return with_stack_guard([&] { return mappings_equal(a, b); });
  }
  return a == b;
}


std::uint64_t json_hash(const Value& v) {
  return Hasher<ValueTree>(ResolverMode{}, false).value(v).loose;
}

bool json_never_equal(const Value& v, std::uint64_t& hash) {
  const Hashed h = Hasher<ValueTree>(ResolverMode{}, false).value(v);
  hash = h.loose;
  return h.never_equal;
}

std::optional<double> keyword_as_f64(const Value& v) noexcept {
  switch (v.kind()) {
    case ValueKind::Int:
    case ValueKind::BigInt:
    case ValueKind::Float:
      return value_as_f64(v);
    default:
      return std::nullopt;
  }
}

std::optional<__int128> value_as_i128(const Value& v) noexcept {
  if (v.kind() == ValueKind::Int) return v.as_int();
  if (v.kind() != ValueKind::BigInt) return std::nullopt;
  const unsigned base = v.big_int_base();
  std::string_view text = v.text();
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  using U = unsigned __int128;
  const U limit = (U{1} << 127) - (negative ? 0 : 1);
  U magnitude = 0;
  bool any = false;
  for (const char c : text) {
    if (c == '_') continue;
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    if (digit >= base) return std::nullopt;
    if (magnitude > (limit - digit) / base) return std::nullopt;
    magnitude = magnitude * base + digit;
    any = true;
  }
  if (!any) return std::nullopt;
  if (negative)
    return magnitude == (U{1} << 127) ? std::numeric_limits<__int128>::min()
                                      : -static_cast<__int128>(magnitude);
  return static_cast<__int128>(magnitude);
}

std::string format_number(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  // The shortest digits that read back, then written out without exponent
  // (fixed form alone would spell a large float's exact binary value).
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  const std::string_view text(buf, static_cast<std::size_t>(r.ptr - buf));
  const std::size_t e = text.find('e');
  std::string_view mantissa = text.substr(0, e);
  int exponent = 0;
  std::from_chars(text.data() + e + 1 + (text[e + 1] == '+'), text.data() + text.size(), exponent);
  std::string out;
  if (mantissa.front() == '-') {
    out += '-';
    mantissa.remove_prefix(1);
  }
  std::string digits;
  for (const char c : mantissa) {
    if (c != '.') digits += c;
  }
  const long point = exponent + 1L;  // digits before the decimal point
  const long size = static_cast<long>(digits.size());
  if (point >= size) {
    out += digits;
    out.append(static_cast<std::size_t>(point - size), '0');
  } else if (point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-point), '0');
    out += digits;
  } else {
    out.append(digits, 0, static_cast<std::size_t>(point));
    out += '.';
    out.append(digits, static_cast<std::size_t>(point));
  }
  return out;
}

}  // namespace ostrevane::schema
