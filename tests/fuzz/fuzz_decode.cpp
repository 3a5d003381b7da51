// Text -> Value documents under each resolution mode.
// The first byte picks the flags (bits 0-4) and how the values keep their
// tags (bits 5-6: LoadedTags); the rest is the input (any encoding).
// Invariants: the strict flags (duplicate keys and complex keys as errors)
// only ever add errors: when they pass, the lax decode gives the same
// documents, and a syntax error is the same error either way; warnings come
// only when asked for. Every document survives count_nodes, clone, == and
// destruction, and a clone equals its original unless a NaN is inside.
#include <cmath>
#include <cstdint>
#include <string>

#include "decode/decoder.hpp"
#include "fuzz_support.hpp"
#include "scanner/input_decode.hpp"
#include "util/limits.hpp"

using namespace ostrevane;

namespace {

struct Flags {
  bool dup_key_error, reject_complex_keys, timestamps, dup_key_warn, yaml11_warn;
  LoadedTags loaded_tags;
};

Flags flags_from(std::uint8_t b) {
  constexpr LoadedTags kTags[] = {LoadedTags::Kept, LoadedTags::Dropped, LoadedTags::Called,
                                  LoadedTags::Kept};
  return {(b & 1) != 0,  (b & 2) != 0,  (b & 4) != 0,
          (b & 8) != 0,  (b & 16) != 0, kTags[(b >> 5) & 3]};
}

Result<DecodedStream, DecodeError> decode(std::string_view text, ResolverMode mode, Flags f) {
  return decode_stream(text, mode, f.dup_key_error, f.reject_complex_keys, f.timestamps,
                       f.dup_key_warn, f.yaml11_warn, DecodedTexts::Owned, f.loaded_tags);
}

std::string where(const DecodeError& e) {
  return e.message + " at offset " + std::to_string(e.span.offset) + " (category " +
         std::to_string(static_cast<int>(e.category)) + ")";
}

// Walks a bounded tree: the expanded size may reach the alias budget, which
// is too slow to look at node by node on every input.
constexpr std::uint64_t kWalkLimit = 20'000;
constexpr std::uint64_t kCompareLimit = 1'000'000;

void check_document(Value& doc, std::size_t text_size) {
  const std::uint64_t nodes = count_nodes(doc);
  FUZZ_REQUIRE(nodes >= 1, "a document of no nodes");
  FUZZ_REQUIRE(count_nodes_guarded(doc) == nodes, "count_nodes_guarded differs");
  FUZZ_REQUIRE(nodes <= limits::kAliasBudget + 2 * text_size + 2, "more nodes than the budget");

  Value copy = doc.clone();
  // Comparing a tree near the alias budget node by node takes seconds under
  // the sanitizers, past the fuzzer's timeout; a smaller tree shows the
  // same faults.
  if (nodes <= kCompareLimit) {
    FUZZ_REQUIRE(fuzz::same_value(doc, copy), "a clone differs from its original");
  }
  if (nodes <= kWalkLimit) {
    bool has_nan = false;
    fuzz::for_each_node(doc, [&](const Value& v) {
      if (v.kind() == ValueKind::Float && std::isnan(v.as_float())) has_nan = true;
      if (v.kind() == ValueKind::Mapping) {
        for (const ValuePair& p : v.pairs()) (void)canonical_key(p.key);
      }
    });
    FUZZ_REQUIRE((doc == copy) == !has_nan, "== disagrees with the walk");
    (void)value_debug_text(doc);
  }
  // Editing the copy must not show through in the original (copy on write).
  if (copy.kind() == ValueKind::Sequence && !copy.items().empty()) {
    copy.edit_items().pop_back();
    FUZZ_REQUIRE(count_nodes(doc) == nodes, "editing a clone changed the original");
  } else if (copy.kind() == ValueKind::Mapping && !copy.pairs().empty()) {
    copy.edit_pairs().pop_back();
    FUZZ_REQUIRE(count_nodes(doc) == nodes, "editing a clone changed the original");
  }
  drop_value_iterative(std::move(copy));
  drop_value_iterative(std::move(doc));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Flags asked = flags_from(data[0]);
  auto decoded = decode_input_bytes(fuzz::as_text(data + 1, size - 1));
  if (!decoded) return 0;
  const std::string& text = *decoded;

  for (ResolverMode mode :
       {ResolverMode::Yaml12, ResolverMode::Yaml11, ResolverMode::Yaml11Compat}) {
    auto strict = decode(text, mode, asked);
    const Flags lax_flags{false, false, asked.timestamps, false, false, asked.loaded_tags};
    auto lax = decode(text, mode, lax_flags);
    // Scanned in batches of one to three tokens, the same result.
    auto batched = detail::decode_stream_in_batches(
        1 + text.size() % 3, text, mode, asked.dup_key_error, asked.reject_complex_keys,
        asked.timestamps, asked.dup_key_warn, asked.yaml11_warn, DecodedTexts::Owned,
        asked.loaded_tags);
    FUZZ_REQUIRE(batched.has_value() == strict.has_value(), "batches changed success");
    if (strict) {
      FUZZ_REQUIRE(batched->warnings == strict->warnings, "batches changed the warnings");
      FUZZ_REQUIRE(batched->documents.size() == strict->documents.size(),
                   "batches changed the document count");
      for (std::size_t i = 0; i < strict->documents.size(); ++i) {
        FUZZ_REQUIRE(fuzz::same_value(strict->documents[i], batched->documents[i]),
                     "batches changed a document");
      }
    } else {
      FUZZ_REQUIRE(batched.error().message == strict.error().message &&
                       batched.error().span == strict.error().span &&
                       batched.error().category == strict.error().category,
                   where(strict.error()) + " became " + where(batched.error()));
    }

    if (strict) {
      FUZZ_REQUIRE(lax.has_value(), "strict flags passed, lax failed: " + where(lax.error()));
      FUZZ_REQUIRE(lax->warnings.empty(), lax->warnings.front());
      FUZZ_REQUIRE(strict->documents.size() == lax->documents.size(), "document counts differ");
      if (!asked.dup_key_warn && !asked.yaml11_warn) {
        FUZZ_REQUIRE(strict->warnings.empty(), strict->warnings.front());
      }
      if (mode == ResolverMode::Yaml12 && !asked.dup_key_warn) {
        FUZZ_REQUIRE(strict->warnings.empty(), strict->warnings.front());
      }
      for (std::size_t i = 0; i < strict->documents.size(); ++i) {
        FUZZ_REQUIRE(fuzz::same_value(strict->documents[i], lax->documents[i]),
                     "strict and lax documents differ");
      }
      for (Value& doc : strict->documents) check_document(doc, text.size());
    } else {
      const DecodeError& e = strict.error();
      FUZZ_REQUIRE(!e.message.empty(), "empty decode error");
      FUZZ_REQUIRE(e.span.offset <= text.size(), where(e));
      if (e.category == DecodeErrorCategory::Syntax) {
        FUZZ_REQUIRE(!lax.has_value(), "lax flags hid " + where(e));
        FUZZ_REQUIRE(lax.error().message == e.message && lax.error().span == e.span,
                     where(e) + " became " + where(lax.error()));
      } else {
        FUZZ_REQUIRE(asked.dup_key_error || asked.reject_complex_keys, where(e));
      }
    }
    if (lax) {
      for (Value& doc : lax->documents) check_document(doc, text.size());
    }
  }
  return 0;
}
