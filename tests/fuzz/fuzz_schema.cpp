// Text -> schema validation of its first document.
// The first byte picks the resolution mode and the schema; the rest, up to
// the first line feed, is a pattern; after it comes the YAML text (any
// encoding).
// Invariants: translating and compiling any pattern ends (valid or not);
// validating twice gives the same result; a failure lies within the text
// and its path starts at the root ("$");
// schemas that accept everything never fail; the plain road's verdict on
// decoded values is the composed tree's; and no input exhausts the stack or
// runs away (alias and $ref budgets).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "decode/decoder.hpp"
#include "fuzz_support.hpp"
#include "roundtrip/composer/compose.hpp"
#include "scanner/input_decode.hpp"
#include "schema/pattern.hpp"
#include "schema/validator.hpp"

using namespace ostrevane;

namespace {

Value pair_map(std::string_view key, Value value) {
  ValuePairList pairs;
  pairs.emplace_back(Value::string(key), std::move(value));
  return Value::mapping(std::move(pairs));
}

Value list2(Value a, Value b) {
  ValueList items;
  items.push_back(std::move(a));
  items.push_back(std::move(b));
  return Value::sequence(std::move(items));
}

Value pair_map2(std::string_view k0, Value v0, std::string_view k1, Value v1) {
  ValuePairList pairs;
  pairs.emplace_back(Value::string(k0), std::move(v0));
  pairs.emplace_back(Value::string(k1), std::move(v1));
  return Value::mapping(std::move(pairs));
}

// One of a few schemas that reach every keyword family.
Value schema_for(std::uint8_t pick, std::string_view pattern) {
  switch (pick % 13) {
    case 8:
      return pair_map2("items", pair_map("pattern", Value::string(pattern)), "uniqueItems",
                       Value::boolean(true));
    case 9:
      return pair_map2("properties", pair_map("a", pair_map("type", Value::string("integer"))),
                       "additionalProperties", Value::boolean(false));
    case 10:
      return pair_map2("patternProperties",
                       pair_map(pattern, pair_map("maxLength", Value::integer(3))), "propertyNames",
                       pair_map("pattern", Value::string(pattern)));
    case 11:
      return pair_map2("contains", pair_map("const", Value::null()), "dependencies",
                       pair_map("a", list2(Value::string("b"), Value::string("c"))));
    case 12:
      return pair_map2("items", list2(pair_map("$ref", Value::string("#")), Value::boolean(true)),
                       "additionalItems",
                       pair_map("required", list2(Value::string("a"), Value::integer(1))));
    case 0:
      return pair_map("type", Value::string("integer"));
    case 1:
      return pair_map("pattern", Value::string(pattern));
    case 2:
      return pair_map("anyOf", list2(pair_map("pattern", Value::string(pattern)),
                                     pair_map("maxLength", Value::integer(3))));
    case 3:
      return pair_map("const", Value::null());
    case 4:
      return pair_map("$ref", Value::string("#"));
    case 5:
      return pair_map("not", pair_map("multipleOf", Value::floating(0.1)));
    case 6:
      return pair_map("enum", list2(Value::integer(1), pair_map("a", Value::integer(1))));
    default:
      return pair_map("oneOf", list2(pair_map("minimum", Value::integer(0)),
                                     pair_map("type", Value::string("string"))));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t pick = data[0];
  std::string_view rest = fuzz::as_text(data + 1, size - 1);
  const std::size_t newline = rest.find('\n');
  const std::string_view pattern = rest.substr(0, newline);
  rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);

  {
    schema::PatternCache cache;
    const re2::RE2* first = cache.compile(pattern).re.get();
    FUZZ_REQUIRE(cache.compile(pattern).re.get() == first, "the cache compiled a pattern twice");
    if (first != nullptr) (void)schema::pattern_search(*first, rest);
  }

  auto decoded = decode_input_bytes(rest);
  if (!decoded) return 0;
  const std::string& text = *decoded;
  auto roots = compose_documents(text);
  if (!roots || roots->empty()) return 0;

  const ResolverMode mode = resolver_mode_from_byte((pick >> 4) % 3);
  const Value schema = schema_for(pick, pattern);
  const std::optional<schema::SchemaError> once =
      schema::validate_document(roots->front(), schema, mode);
  const std::optional<schema::SchemaError> twice =
      schema::validate_document(roots->front(), schema, mode);
  FUZZ_REQUIRE(once.has_value() == twice.has_value(), "validation is not deterministic");
  if (once) {
    FUZZ_REQUIRE(once->message == twice->message && once->span == twice->span,
                 once->message + " against " + twice->message);
    FUZZ_REQUIRE(once->path == twice->path, once->path + " against " + twice->path);
    FUZZ_REQUIRE(once->path.starts_with("$"), once->path);
    FUZZ_REQUIRE(once->span.offset <= text.size(), once->message);
    FUZZ_REQUIRE(!once->message.empty(), "an empty message");
  }
  // Where the plain road reads the decoded values, their first failure is
  // the composed tree's, at the same node (or both pass).
  if (auto stream =
          decode_stream(text, mode, false, false, false, false, false, DecodedTexts::BorrowInput);
      stream && !stream->documents.empty() && !stream->saw_alias && !stream->saw_merge &&
      !stream->saw_tag && schema::value_tree_fits(stream->documents.front())) {
    schema::PreparedSchema prepared(schema.clone());
    const std::optional<schema::ValueFailure> on_values =
        schema::value_failure(stream->documents.front(), prepared, mode);
    auto bare = compose_bare_documents(text);
    FUZZ_REQUIRE(bare && !bare->empty(), "decoded but not composed");
    const std::optional<schema::SchemaError> on_tree =
        schema::validate_document(bare->front(), prepared, mode, schema::MergeRule::Decoded);
    FUZZ_REQUIRE(on_values.has_value() == on_tree.has_value(),
                 "the values and the tree disagree: " +
                     (on_tree ? on_tree->message : on_values->message));
    if (on_values) {
      FUZZ_REQUIRE(on_values->message == on_tree->message && on_values->path == on_tree->path,
                   on_values->message + " against " + on_tree->message);
      const YamlNode* node = schema::node_at(bare->front(), on_values->steps);
      FUZZ_REQUIRE(node != nullptr && node->span == on_tree->span,
                   "the values' failure stands at another node: " + on_tree->path);
    }
  }
  FUZZ_REQUIRE(!schema::validate_document(roots->front(), Value::mapping(), mode),
               "the empty schema failed");
  FUZZ_REQUIRE(!schema::validate_document(roots->front(), Value::boolean(true), mode),
               "the schema true failed");
  return 0;
}
