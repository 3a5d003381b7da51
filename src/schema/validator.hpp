// Schema validation of one composed document.
//
// Input: the root of the document (borrowed, never changed), the schema as
// a `Value` (converted from the Python schema object by the caller; borrowed
// for the call), and the ResolverMode the load reads scalars in (0, 1 or 2:
// validation reads values as the load returns them). Output: the first
// failure in check order (message, instance path, position), or nothing
// when the document passes. Later failures are only counted.
//
// Steps: the pre-passes (prepass.hpp) make a private copy with aliases
// expanded and merge keys applied; validate_node then checks it against the
// schema: boolean schemas, local "$ref" (JSON pointers into the schema, with
// the nesting and budget limits of util/limits.hpp), type, enum, const, the
// numeric bounds and multipleOf, minLength, maxLength, pattern, the object
// keywords (required, properties, patternProperties, additionalProperties,
// minProperties, maxProperties, propertyNames, dependencies), the array
// keywords (minItems, maxItems, items, additionalItems, uniqueItems,
// contains), allOf, anyOf, oneOf and not. Unknown keywords, and keywords
// whose value has the wrong type, are ignored. Nothing raises: every problem
// of the schema is a recorded failure or is ignored.
//
// Members and items: a member is a pair whose key is a scalar, named by the
// key's text as written (1, "1" and !!int 1 are all "1"); its path is
// "{object path}.{name}", an item's "{array path}[{index}]", unescaped.
// Each member, item, property name and dependency check starts its own
// "$ref" nesting count at 0; the budget is shared by the whole validation.
//
// Numbers: an integer (Int or BigInt, any size and base) against an integer
// bound is compared exactly and both are written out in the message; any
// other pair through 64-bit floats.
//
// Cost: each schema mapping's keywords are found once per call (a table per
// mapping, with `properties` by name and `patternProperties` compiled), each
// distinct pattern is compiled once per call, instance paths are spelled
// only for the failure that is reported, and the branches of anyOf, oneOf,
// not and contains only count their failures. enum, const and uniqueItems
// work on hashes: each enum's members are hashed into an index once per
// schema, each value of the document is hashed once per validation
// (collections keep their hash for the checks above them), an instance
// is looked up in the index, and only values that may be equal are
// compared, each comparison counted as work. Every recursive step runs
// through with_stack_guard.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>
#include <string_view>

#include "resolver/resolver.hpp"
#include "roundtrip/node.hpp"
#include "scanner/token.hpp"
#include "schema/prepass.hpp"
#include "value/value.hpp"

namespace ostrevane::schema {

struct SchemaError {
  std::string message;
  std::string path;  // "$", "$.key", "$[0]", ...
  Span span;         // the offending node's start; an alias's own for an expanded alias
};

struct SchemaTables;
struct ValueFailure;

// A converted schema kept with what validation builds from it (each schema
// mapping's keyword table, its compiled patterns), so that a schema used
// for many documents builds them once. Not movable: the tables point into
// the schema. Used by one validation at a time.
class PreparedSchema {
 public:
  explicit PreparedSchema(Value schema);
  ~PreparedSchema();
  PreparedSchema(const PreparedSchema&) = delete;
  PreparedSchema& operator=(const PreparedSchema&) = delete;

  [[nodiscard]] const Value& value() const noexcept { return schema_; }

 private:
  friend std::optional<SchemaError> validate_document(const YamlNode&, PreparedSchema&,
                                                      ResolverMode, MergeRule);
  friend std::optional<ValueFailure> value_failure(const Value&, PreparedSchema&, ResolverMode);

  Value schema_;
  std::unique_ptr<SchemaTables> tables_;
};

// The first failure of `root` against `schema`, or nothing. `rule` tells
// which keys merge, as the road that loaded the document merges them.
[[nodiscard]] std::optional<SchemaError> validate_document(const YamlNode& root,
                                                           PreparedSchema& schema,
                                                           ResolverMode mode, MergeRule rule);
[[nodiscard]] std::optional<SchemaError> validate_document(const YamlNode& root,
                                                           const Value& schema, ResolverMode mode,
                                                           MergeRule rule = MergeRule::Tagged);

// The plain road's shortcut: validating the decoder's own values instead of
// a composed tree. It gives the composed tree's verdict when the values are
// what the pre-passes would make of that tree: no tag, no timestamp, only
// text keys and none repeated in a mapping (and, for the caller to ensure,
// no alias, merge key or tag anywhere in the text). value_tree_fits tells
// whether `root` is such a tree; value_failure, for a tree that fits, gives
// its first failure, as validate_document would on the composed tree, with
// the steps from the root to the failing node in place of a position: the
// caller finds the node in the composed tree (node_at) for its position,
// without validating again.
struct NodeStep {
  enum class Kind : std::uint8_t { Item, Value, Key } kind;
  std::size_t index;  // the item's index, or the pair's
};
struct ValueFailure {
  std::string message;
  std::string path;
  std::vector<NodeStep> steps;
};
[[nodiscard]] bool value_tree_fits(const Value& root);
[[nodiscard]] std::optional<ValueFailure> value_failure(const Value& root, PreparedSchema& schema,
                                                        ResolverMode mode);
// The node `steps` lead to from `root`, or nullptr when there is none.
[[nodiscard]] const YamlNode* node_at(const YamlNode& root,
                                      std::span<const NodeStep> steps) noexcept;

// True for a schema that accepts every document (true, any other value that
// is not false or a mapping, an empty mapping): no need to read one.
[[nodiscard]] bool schema_accepts_everything(const Value& schema) noexcept;

// JSON equality: Int and Float by value, sequences item by item, mappings
// as multisets of pairs (order and repeats both matter), everything else by
// Value's own ==.
[[nodiscard]] bool json_equal(const Value& a, const Value& b);

// A hash that agrees with json_equal: values it calls equal hash alike
// (numbers by their double, -0.0 as 0.0; integers beyond 64 bits by their
// value; mappings whatever their pair order).
[[nodiscard]] std::uint64_t json_hash(const Value& v);

// json_hash into `hash`; true when the value holds a NaN anywhere, which
// makes it json_equal to nothing (itself included).
[[nodiscard]] bool json_never_equal(const Value& v, std::uint64_t& hash);

// Int, BigInt (in any base) and Float as a double; nothing for other kinds.
[[nodiscard]] std::optional<double> keyword_as_f64(const Value& v) noexcept;

// Int, or a BigInt that fits, as a 128-bit integer; nothing otherwise.
[[nodiscard]] std::optional<__int128> value_as_i128(const Value& v) noexcept;

// A number as messages write it: the shortest text that reads back, without
// exponent ("3", "2.5", "100000000000000000000"); NaN, inf, -inf.
[[nodiscard]] std::string format_number(double v);

}  // namespace ostrevane::schema
