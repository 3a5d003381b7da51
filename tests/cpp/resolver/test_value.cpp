#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "resolver/big_int.hpp"
#include "util/limits.hpp"
#include "value/value.hpp"

namespace ostrevane {
namespace {

template <class... V>
Value seq(V&&... items) {
  ValueList l;
  (l.push_back(std::forward<V>(items)), ...);
  return Value::sequence(std::move(l));
}

void add_pairs(ValuePairList&) {}
template <class... Rest>
void add_pairs(ValuePairList& l, Value k, Value v, Rest&&... rest) {
  l.emplace_back(std::move(k), std::move(v));
  add_pairs(l, std::forward<Rest>(rest)...);
}

// map(k1, v1, k2, v2, ...)
template <class... V>
Value map(V&&... kv) {
  ValuePairList l;
  add_pairs(l, std::forward<V>(kv)...);
  return Value::mapping(std::move(l));
}

Value str(std::string_view s) { return Value::string(s); }
Value i(std::int64_t n) { return Value::integer(n); }

// A chain of one-item sequences `depth` levels deep around Int(7).
Value chain(std::size_t depth) {
  Value v = i(7);
  for (std::size_t k = 0; k < depth; ++k) {
    ValueList l;
    l.push_back(std::move(v));
    v = Value::sequence(std::move(l));
  }
  return v;
}

TEST(Value, IsTwoWords) { EXPECT_EQ(sizeof(Value), 16u); }

TEST(Value, TextsInlineAndShared) {
  const Value short_text = str("fourteen bytes");
  EXPECT_EQ(short_text.text(), "fourteen bytes");
  EXPECT_EQ(short_text.text_identity(), nullptr);

  const std::string long_text(1000, 'x');
  const Value a = str(long_text);
  const Value b = a.clone();
  EXPECT_EQ(b.text(), long_text);
  ASSERT_NE(a.text_identity(), nullptr);
  // An alias copy shares the bytes: same block, no second allocation.
  EXPECT_EQ(a.text_identity(), b.text_identity());
  EXPECT_EQ(a.text().data(), b.text().data());
}

// The conversion to Python maps a text to one str only when another value
// may hold it: a block with two holders, or a borrowed text that was cloned.
TEST(Value, TextMaybeShared) {
  const std::string long_text(100, 'x');
  EXPECT_FALSE(str("fourteen bytes").clone().text_maybe_shared());
  EXPECT_FALSE(Value::integer(7).text_maybe_shared());

  Value owned = str(long_text);
  EXPECT_FALSE(owned.text_maybe_shared());
  {
    const Value copy = owned.clone();
    EXPECT_TRUE(owned.text_maybe_shared());
    EXPECT_TRUE(copy.text_maybe_shared());
  }
  EXPECT_FALSE(owned.text_maybe_shared());

  const Value borrowed = Value::borrowed_string(long_text);
  const Value other = Value::borrowed_string(long_text);
  EXPECT_FALSE(borrowed.text_maybe_shared());
  const Value copy = borrowed.clone();
  EXPECT_TRUE(borrowed.text_maybe_shared());
  EXPECT_TRUE(copy.text_maybe_shared());
  EXPECT_TRUE(copy.text_is_borrowed());
  EXPECT_EQ(copy.text_identity(), borrowed.text_identity());
  EXPECT_EQ(copy, other);
  EXPECT_FALSE(other.text_maybe_shared());

  // Clones made when shared list storage is copied for writing count too.
  ValueList items;
  items.push_back(Value::borrowed_string(long_text));
  ValueList shared = items;
  items.edit();
  EXPECT_TRUE(items[0].text_maybe_shared());
  EXPECT_TRUE(shared[0].text_maybe_shared());
}

// Trees in an arena: the blocks stay with the arena, everything else (heap
// items, copy on write, clones) follows the usual rules; ASan checks that
// nothing leaks and nothing is freed twice.
TEST(ValueArena, ListsAndTextsLiveInTheArena) {
  const std::string long_text(100, 'y');
  ValueArena arena;
  ValueList outer = ValueList::in_arena(arena, 3);
  EXPECT_TRUE(ValueList::in_arena(arena, 0).empty());
  outer.push_back(Value::string(long_text, arena));
  outer.push_back(Value::string("short", arena));
  ValuePairList pairs = ValuePairList::in_arena(arena, 1);
  pairs.emplace_back(str("heap key that is long"), str(long_text));
  outer.push_back(Value::mapping(std::move(pairs)));
  // A fourth item outgrows the arena block: the list moves to the heap.
  outer.push_back(Value::integer(4));
  ASSERT_EQ(outer.size(), 4u);
  Value tree = Value::sequence(std::move(outer));
  const Value copy = tree.clone();
  Value edited = tree.clone();
  edited.edit_items().edit()[0] = str("changed");
  EXPECT_EQ(tree.items()[0].text(), long_text);
  EXPECT_EQ(edited.items()[0].text(), "changed");
  EXPECT_EQ(tree.items()[1].text(), "short");
  EXPECT_EQ(tree.items()[2].pairs()[0].value.text(), long_text);
  EXPECT_EQ(copy, tree);
  const SharedText shared = tree.items()[0].shared_text();
  EXPECT_EQ(shared.view(), long_text);
  EXPECT_FALSE(tree.items()[0].text_maybe_shared());
  // Big requests get chunks of their own.
  ValueList big = ValueList::in_arena(arena, 100000);
  for (int k = 0; k < 100000; ++k) big.push_back(Value::string(long_text, arena));
  EXPECT_EQ(big.back().text(), long_text);
}

// More chunks than are kept between arenas, then arenas that reuse them.
TEST(ValueArena, SpareChunksAreReused) {
  const std::string text(1000, 'z');
  for (int round = 0; round < 3; ++round) {
    ValueArena arena;
    const std::size_t chunks = limits::kArenaSpareChunks + 8;
    const std::size_t per_chunk = limits::kArenaChunkSize / 1024;
    ValueList list = ValueList::in_arena(arena, chunks * per_chunk);
    for (std::size_t k = 0; k < chunks * per_chunk; ++k) {
      list.push_back(Value::string(text, arena));
    }
    EXPECT_EQ(list[list.size() / 2].text(), text);
  }
}

TEST(Value, StaticTextsAreNeverFreed) {
  SharedText merge(kMergeKeyText);
  EXPECT_TRUE(merge.is_static());
  {
    SharedText copy = merge;
    Value v = Value::string(copy);
    Value c = v.clone();
    EXPECT_EQ(c.text(), "<<");
  }
  EXPECT_EQ(merge.view(), "<<");
  EXPECT_EQ(kMergeKeyText.refs, 0u);
}

TEST(Value, SharedTextCounts) {
  SharedText t = SharedText::copy_of(std::string(40, 'a'));
  EXPECT_EQ(t.use_count(), 1u);
  {
    Value v = Value::string(t);
    Value w = v.clone();
    EXPECT_EQ(t.use_count(), 3u);
    EXPECT_EQ(w.text_identity(), t.identity());
  }
  EXPECT_EQ(t.use_count(), 1u);
}

TEST(Value, TimestampRoundTripsThroughValue) {
  const Timestamp cases[] = {
      Date{2001, 2, 3},
      DateTime{9999, 12, 31, 23, 59, 59, 999999, -1439},
      DateTime{1, 1, 1, 0, 0, 0, 0, std::nullopt},
      DateTime{2001, 2, 3, 4, 5, 6, 5, 0},
  };
  for (const auto& ts : cases) {
    const Value v = Value::timestamp(ts);
    EXPECT_EQ(v.as_timestamp(), ts);
  }
}

TEST(Value, CloneIsCopyOnWrite) {
  Value a = seq(i(1), str("a"));
  Value b = a.clone();
  EXPECT_EQ(a.items().identity(), b.items().identity());
  b.edit_items().push_back(i(3));
  EXPECT_EQ(a.items().size(), 2u);
  EXPECT_EQ(b.items().size(), 3u);
  EXPECT_EQ(value_debug_text(a), "Sequence([Int(1), String(\"a\")])");

  Value t = Value::tagged("!x", map(str("k"), i(1)));
  Value u = t.clone();
  u.edit_inner().edit_pairs().edit()[0].value = i(2);
  EXPECT_EQ(value_debug_text(t), "Tagged(\"!x\", Mapping([(String(\"k\"), Int(1))]))");
  EXPECT_EQ(value_debug_text(u), "Tagged(\"!x\", Mapping([(String(\"k\"), Int(2))]))");
}

struct EqualityCase {
  const char* name;
  Value (*a)();
  Value (*b)();
  bool equal;
};

const EqualityCase kEqualityCases[] = {
    {"null", [] { return Value(); }, [] { return Value(); }, true},
    {"nan", [] { return Value::floating(NAN); }, [] { return Value::floating(NAN); }, false},
    {"zeros", [] { return Value::floating(0.0); }, [] { return Value::floating(-0.0); }, true},
    {"int_float", [] { return i(1); }, [] { return Value::floating(1.0); }, false},
    {"int_bool", [] { return i(1); }, [] { return Value::boolean(true); }, false},
    {"map_order", [] { return map(str("a"), i(1), str("b"), i(2)); },
     [] { return map(str("b"), i(2), str("a"), i(1)); }, false},
    {"map_same", [] { return map(str("a"), i(1), str("a"), i(2)); },
     [] { return map(str("a"), i(1), str("a"), i(2)); }, true},
    {"seq_len", [] { return seq(i(1)); }, [] { return seq(i(1), i(1)); }, false},
    {"seq_nan", [] { return seq(Value::floating(NAN)); }, [] { return seq(Value::floating(NAN)); },
     false},
    {"tag_vs_plain", [] { return Value::tagged("!x", i(1)); }, [] { return i(1); }, false},
    {"tag_text", [] { return Value::tagged("!x", i(1)); }, [] { return Value::tagged("!y", i(1)); },
     false},
    {"date_datetime",
     [] {
       return Value::timestamp(Date{2001, 1, 1});
     },
     [] {
       return Value::timestamp(DateTime{2001, 1, 1, 0, 0, 0, 0, std::nullopt});
     },
     false},
    {"offsets_not_normalised",
     [] {
       return Value::timestamp(DateTime{2001, 1, 1, 10, 0, 0, 0, 60});
     },
     [] {
       return Value::timestamp(DateTime{2001, 1, 1, 9, 0, 0, 0, 0});
     },
     false},
    {"naive_vs_utc",
     [] {
       return Value::timestamp(DateTime{2001, 1, 1, 9, 0, 0, 0, 0});
     },
     [] {
       return Value::timestamp(DateTime{2001, 1, 1, 9, 0, 0, 0, std::nullopt});
     },
     false},
    {"bigint_hex_vs_decimal", [] { return Value::big_int("10000000000000000", 16); },
     [] { return Value::big_int("18446744073709551616", 10); }, true},
    {"bigint_octal_vs_hex", [] { return Value::big_int("-2000000000000000000000", 8); },
     [] { return Value::big_int("-10000000000000000", 16); }, true},
    {"bigint_spelling", [] { return Value::big_int("+1_8446744073709551616", 10); },
     [] { return Value::big_int("18446744073709551616", 10); }, true},
    {"bigint_sign", [] { return Value::big_int("-18446744073709551616", 10); },
     [] { return Value::big_int("18446744073709551616", 10); }, false},
    {"string_vs_bigint", [] { return str("18446744073709551616"); },
     [] { return Value::big_int("18446744073709551616", 10); }, false},
};

class ValueEquality : public testing::TestWithParam<EqualityCase> {};

TEST_P(ValueEquality, Compares) {
  const auto& c = GetParam();
  const Value a = c.a();
  const Value b = c.b();
  EXPECT_EQ(a == b, c.equal);
  EXPECT_EQ(b == a, c.equal);
}

INSTANTIATE_TEST_SUITE_P(Table, ValueEquality, testing::ValuesIn(kEqualityCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Value, CountNodes) {
  EXPECT_EQ(count_nodes(map(str("a"), seq(i(1), i(2)))), 5u);
  EXPECT_EQ(count_nodes(map()), 1u);
  EXPECT_EQ(count_nodes(Value::tagged("!t", seq())), 2u);
  // Shared parts count as often as they appear.
  Value inner = seq(i(1), i(2));
  Value outer = seq(inner.clone(), inner.clone());
  EXPECT_EQ(count_nodes_guarded(outer), 7u);
}

TEST(Value, AsF64) {
  EXPECT_EQ(value_as_f64(Value::big_int("100000000000000000000", 10)), 1e20);
  EXPECT_EQ(value_as_f64(Value::big_int("-1_0000_0000_0000_0000_0000", 10)), -1e20);
  EXPECT_EQ(value_as_f64(Value::big_int("10000000000000000", 16)), 18446744073709551616.0);
  // 2^64 + 2^11 + 1: just above the midpoint between two doubles, rounds up.
  EXPECT_EQ(value_as_f64(Value::big_int("10000000000000801", 16)),
            std::nextafter(18446744073709551616.0, INFINITY));
  // 2^64 + 2^11 exactly: the tie goes to the even neighbour.
  EXPECT_EQ(value_as_f64(Value::big_int("10000000000000800", 16)), 18446744073709551616.0);
  EXPECT_EQ(value_as_f64(Value::big_int(std::string(400, '7'), 8)), INFINITY);
  EXPECT_EQ(value_as_f64(Value::big_int("1" + std::string(400, '0'), 10)), INFINITY);
  EXPECT_TRUE(std::isnan(value_as_f64(Value::big_int("12x", 10))));
  EXPECT_TRUE(std::isnan(value_as_f64(str("1.5"))));
  EXPECT_TRUE(std::isnan(value_as_f64(Value())));
  EXPECT_EQ(value_as_f64(i(-3)), -3.0);
  EXPECT_EQ(value_as_f64(Value::floating(2.5)), 2.5);
}

struct DebugCase {
  Value (*make)();
  const char* text;
};

const DebugCase kDebugCases[] = {
    {[] { return Value(); }, "Null"},
    {[] { return i(-1); }, "Int(-1)"},
    {[] { return Value::boolean(true); }, "Bool(true)"},
    {[] { return Value::floating(1.0); }, "Float(1.0)"},
    {[] { return Value::floating(0.1); }, "Float(0.1)"},
    {[] { return Value::floating(1e16); }, "Float(1e16)"},
    {[] { return Value::floating(1.5e-7); }, "Float(1.5e-7)"},
    {[] { return Value::floating(-2.5e300); }, "Float(-2.5e300)"},
    {[] { return Value::floating(0.0001); }, "Float(0.0001)"},
    {[] { return Value::floating(NAN); }, "Float(NaN)"},
    {[] { return Value::floating(-INFINITY); }, "Float(-inf)"},
    {[] { return str("a\"b\\c\n\r\t"); }, "String(\"a\\\"b\\\\c\\n\\r\\t\")"},
    {[] { return str(std::string_view("\0\x01\xc2\x85\xe2\x80\xa8\xc3\xa9", 9)); },
     "String(\"\\0\\u{1}\\u{85}\\u{2028}\xc3\xa9\")"},
    {[] { return Value::big_int("18446744073709551616", 10); }, "BigInt(\"18446744073709551616\")"},
    {[] { return Value::big_int("-10000000000000000", 16); }, "BigInt(\"-18446744073709551616\")"},
    {[] {
       return Value::timestamp(Date{2001, 2, 3});
     },
     "Timestamp(Date { year: 2001, month: 2, day: 3 })"},
    {[] {
       return Value::timestamp(DateTime{2001, 2, 3, 4, 5, 6, 5, -90});
     },
     "Timestamp(DateTime { year: 2001, month: 2, day: 3, hour: 4, minute: 5, second: 6, "
     "microsecond: 5, offset_minutes: -90 })"},
    {[] { return seq(i(1), str("a")); }, "Sequence([Int(1), String(\"a\")])"},
    {[] { return map(str("k"), Value()); }, "Mapping([(String(\"k\"), Null)])"},
    {[] { return Value::tagged("!x", i(1)); }, "Tagged(\"!x\", Int(1))"},
};

class ValueDebug : public testing::TestWithParam<DebugCase> {};

TEST_P(ValueDebug, Prints) { EXPECT_EQ(value_debug_text(GetParam().make()), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(Table, ValueDebug, testing::ValuesIn(kDebugCases));

// A cut debug text is the whole one cut to whole characters, whatever the
// size of the value: every case cuts the same way as cut_text on the whole.
TEST_P(ValueDebug, CutsLikeTheWholeText) {
  const Value v = GetParam().make();
  const std::string whole = value_debug_text(v);
  for (std::size_t n : {0u, 1u, 5u, 12u, 200u})
    EXPECT_EQ(value_debug_text_cut(v, n), cut_text(whole, n)) << n;
}

TEST(Value, CutText) {
  EXPECT_EQ(cut_text("abc", 3), "abc");
  EXPECT_EQ(cut_text("abcd", 3), "abc...");
  EXPECT_EQ(cut_text("\xc3\xa9\xc3\xa9\xc3\xa9", 2), "\xc3\xa9\xc3\xa9...");
  EXPECT_EQ(cut_text("", 0), "");
}

TEST(Value, CutDebugOfALargeTreeIsBuiltOnlyInPart) {
  // 10^6 strings shared through clones: the cut text stops after 200.
  Value level = str("ab");
  for (int k = 0; k < 6; ++k) {
    ValueList items;
    for (int j = 0; j < 10; ++j) items.push_back(level.clone());
    level = Value::sequence(std::move(items));
  }
  const std::string cut = value_debug_text_cut(level, 200);
  EXPECT_EQ(cut.size(), 203u);
  EXPECT_TRUE(
      cut.starts_with("Sequence([Sequence([Sequence([Sequence([Sequence([Sequence(["
                      "String(\"ab\"), String(\"ab\"),"));
  EXPECT_TRUE(cut.ends_with("..."));
  const std::string long_text(100'000, 'x');
  EXPECT_EQ(value_debug_text_cut(str(long_text), 10), "String(\"xx...");
}

TEST(Value, DebugOfHugeHexShowsLiteral) {
  const std::string digits = "1" + std::string(200'000, '0');
  EXPECT_EQ(value_debug_text(Value::big_int(digits, 16)), "BigInt(\"0x" + digits + "\")");
}

// Regression guard for the depth contract: every operation at a million levels.
TEST(Value, MillionLevelsDeep) {
  constexpr std::size_t kDepth = 1'000'000;
  Value a = chain(kDepth);
  Value b = chain(kDepth);
  Value c = a.clone();
  EXPECT_TRUE(a == b);
  EXPECT_EQ(count_nodes_guarded(a), kDepth + 1);
  // Make `c` differ at the very bottom: copy on write down the whole chain.
  Value* cur = &c;
  while (cur->kind() == ValueKind::Sequence) cur = &cur->edit_items().edit()[0];
  *cur = i(8);
  EXPECT_FALSE(a == c);
  EXPECT_TRUE(a == b);
  drop_value_iterative(std::move(c));
  drop_value_iterative(std::move(a));
  // `b` goes through ~Value.
}

TEST(Value, DeepDebugTextAndTagged) {
  Value v = i(1);
  for (int k = 0; k < 200'000; ++k) v = Value::tagged("!t", std::move(v));
  Value w = v.clone();
  EXPECT_TRUE(v == w);
  EXPECT_EQ(count_nodes(v), 200'001u);
  const std::string text = value_debug_text(v);
  EXPECT_EQ(text.size(), 200'000 * std::string("Tagged(\"!t\", )").size() + 6);
}

TEST(Value, WideListsDrop) {
  ValueList l;
  for (int k = 0; k < 1'000'000; ++k) l.push_back(seq(str(std::string(20, 'q'))));
  Value v = Value::sequence(std::move(l));
  EXPECT_EQ(count_nodes(v), 2'000'001u);
  drop_value_iterative(std::move(v));
  EXPECT_TRUE(v.is_null());
}

TEST(Value, ListEditing) {
  ValuePairList pairs;
  pairs.emplace_back(str("a"), i(1));
  pairs.emplace_back(str("b"), i(2));
  pairs.emplace_back(str("c"), i(3));
  ValuePairList copy = pairs;
  pairs.erase(0, 2);
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].key.text(), "c");
  EXPECT_EQ(copy.size(), 3u);
  copy.pop_back();
  EXPECT_EQ(copy.size(), 2u);
  copy.clear();
  EXPECT_TRUE(copy.empty());
}

TEST(BigInt, DecimalText) {
  EXPECT_EQ(big_int_to_decimal("10000000000000000", 16), "18446744073709551616");
  EXPECT_EQ(big_int_to_decimal("-" + std::string(24, '7'), 8), "-4722366482869645213695");
  EXPECT_EQ(big_int_to_decimal("+0_012", 10), "12");
  EXPECT_EQ(big_int_to_decimal("-0", 16), "0");
  std::string canon;
  append_big_int_canonical(canon, "-18446744073709551616", 10);
  EXPECT_EQ(canon, "-10000000000000000");
}

}  // namespace
}  // namespace ostrevane
