// The YAML and JSON writers for Value trees.
//
// Input: one `Value` tree, read only for the whole write, and the options of
// the call (`dumps` fills `WriterOptions`, `to_json` fills `JsonOptions`).
// Output: UTF-8 text appended to a caller-owned OutputBuffer, which the
// caller turns into `bytes` with one copy. The writers touch no Python object and
// keep no state between calls, so they run with the interpreter lock
// released. Every nested value goes through `with_stack_guard`, so any depth
// the encoder admits is written without exhausting the native stack.
//
// What is written reads back as the same data: strings are quoted whenever a
// YAML 1.2 or YAML 1.1 reader (as `mode` says) could take them for something
// else (emit_util/plain_safety.hpp), and floats have one spelling
// (emit_util/scalar_text.hpp). The YAML writer never fails. The JSON writer
// fails only when a collection is used as an object key; the partial output
// must then be discarded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "emit_util/output_buffer.hpp"
#include "emit_util/scalar_text.hpp"
#include "resolver/resolver.hpp"
#include "util/result.hpp"
#include "value/value.hpp"

namespace ostrevane {

// Layout of `dumps` output. From the option mask: indent 4 with
// OPT_INDENT_4 else 2; mode Yaml11Compat with OPT_PYYAML_COMPAT, else Yaml11
// with OPT_YAML_1_1, else Yaml12; null_style Keyword with
// OPT_NULL_AS_KEYWORD, Tilde with OPT_NULL_AS_TILDE, else Default;
// double_quotes unless OPT_SINGLE_QUOTES; the other flags from their OPT_ bit.
struct WriterOptions {
  std::size_t indent = 2;  // a step of 0 counts as 1
  std::size_t width = 0;   // 0: no wrapping and no folding
  NullStyle null_style = NullStyle::Default;
  ResolverMode mode = ResolverMode::Yaml12;
  bool sort_keys = false;
  bool flow_style = false;
  bool explicit_start = false;
  bool explicit_end = false;
  bool double_quotes = true;
  bool indentless_sequences = false;
};

// Initial capacity of a `dumps` output buffer.
inline constexpr std::size_t kYamlOutputInitialCapacity = 1024;

// One document: "---" when asked, the root, "..." when asked.
void write_yaml_document(OutputBuffer& out, const Value& root, const WriterOptions& options);

// The same into a fresh buffer of kYamlOutputInitialCapacity bytes.
[[nodiscard]] OutputBuffer write_yaml_document(const Value& root, const WriterOptions& options);

// Layout of `to_json` output: indent 4 with OPT_INDENT_4, else 2 with
// OPT_INDENT_2, else 0 (compact); sort_keys from OPT_SORT_KEYS.
struct JsonOptions {
  std::size_t indent = 0;
  bool sort_keys = false;
};

// The writer's only failure; `message` becomes OstrevaneEncodeError.
struct JsonError {
  std::string message;
};

// Appends the JSON text of `value` (no trailing line feed). `depth` is 0 for
// the root; it sets the indentation of nested collections.
[[nodiscard]] Result<void, JsonError> write_json_value_guarded(OutputBuffer& out,
                                                               const Value& value,
                                                               const JsonOptions& options,
                                                               std::size_t depth = 0);

// A root sequence written an item at a time (a long list whose items are
// converted and written in batches), in exactly the text that
// write_json_value_guarded gives the whole sequence: the opening bracket,
// then each item (`index` counts from 0) after its separator, then the
// closing bracket. For sequences of at least one item.
void write_json_sequence_start(OutputBuffer& out);
[[nodiscard]] Result<void, JsonError> write_json_sequence_item(OutputBuffer& out, const Value& item,
                                                               const JsonOptions& options,
                                                               std::size_t index);
void write_json_sequence_end(OutputBuffer& out, const JsonOptions& options);

// The name a mapping key is written under: the key with its tags removed,
// as text (a view of the key's own text, of a literal, or of `scratch`).
// A collection cannot be a name: that is the JsonError.
[[nodiscard]] Result<std::string_view, JsonError> json_object_key_text(const Value& key,
                                                                      std::string& scratch);

// JSON number text of a float: "null" for NaN and infinities.
void write_json_float(OutputBuffer& out, double value);

// A JSON string literal: quotes, short escapes, \u00XX for other controls,
// \u2028 and \u2029; everything else copied as UTF-8.
void write_json_string(OutputBuffer& out, std::string_view text);

}  // namespace ostrevane
