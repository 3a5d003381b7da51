// The directive step of loads, and the node road that returns plain Python
// values after it.
//
// Input: the loaded UTF-8 text, the option mask, include_dir, root_path and
// the two missing-value callbacks of the call. Output: the expanded document
// roots with the file table (for the round-trip road), or the first
// document as Python values (the node road); or the Python error to raise.
//
// Order, as loads promises it: expansion (files read under the include
// root, the first failure raised as its include exception, nothing logged
// then); on success the expansion's warnings are logged, then missing
// secrets and variables are reported (callbacks first, then warnings per
// record; a callback's exception ends the call), then the result is built.
// Everything runs with the interpreter lock held except the checking
// decode of the loaded text that OPT_REJECT_COMPLEX_KEYS asks for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "directives/include_context.hpp"
#include "ffi/convert/decode.hpp"
#include "ffi/errors.hpp"
#include "resolver/resolver.hpp"
#include "roundtrip/node.hpp"

namespace ostrevane::ffi {

// The directive arguments of loads (borrowed from the call).
struct DirectiveArgs {
  std::uint64_t option = 0;
  const std::optional<std::string>* include_dir = nullptr;  // bytes; "." when absent
  const std::optional<std::string>* root_path = nullptr;
  PyObject* on_missing_secret = nullptr;  // NULL when absent or None
  PyObject* on_missing_env_var = nullptr;
};

// True when the mask asks for any directive.
[[nodiscard]] bool wants_directives(std::uint64_t option) noexcept;

struct ExpandedDocuments {
  NodeList roots;
  SourceFiles files;
};

// Expansion, warnings and missing values, as both roads run them.
[[nodiscard]] PyResult<ExpandedDocuments> expand_directives(std::string_view text,
                                                            const DirectiveArgs& args);

// The node road: the first document as annotated containers (OPT_ANNOTATED)
// or as plain values with the call's tag callbacks, or None when the text
// holds none. The text is expanded when directives are asked, else
// composed; with OPT_ANNOTATED or OPT_REJECT_COMPLEX_KEYS the plain decoder
// checks the loaded text (lock released) and every included file first;
// then the duplicate-key and YAML 1.1 warning passes run, and a schema is
// checked against the first document, in the call's mode, before it is
// converted.
// anything is read.
struct NodeRoadArgs {
  DirectiveArgs directives;
  ResolverMode mode = ResolverMode::Yaml12;
  bool reject_complex_keys = false;
  bool dup_key_error = false;
  bool dup_key_warn = false;
  bool yaml11_warn = false;
  PyObject* schema = nullptr;  // borrowed; nullptr when absent
  TagOptions tags;
};
[[nodiscard]] PyResult<PyRef> loads_node_road(std::string_view text, const NodeRoadArgs& args);

// The annotated road of loads_all: the text checked by the plain decoder
// (lock released), every document composed (an empty explicit one as a Null
// root), the duplicate-key and YAML 1.1 warning passes over all documents,
// then each document as annotated containers with its own anchors and no
// file names. A list with one item per document.
struct AnnotatedStreamArgs {
  ResolverMode mode = ResolverMode::Yaml12;
  bool reject_complex_keys = false;
  bool dup_key_error = false;
  bool dup_key_warn = false;
  bool yaml11_warn = false;
  bool annotate_numbers = false;
  TagOptions tags;
};
[[nodiscard]] PyResult<PyRef> loads_all_annotated(std::string_view text,
                                                  const AnnotatedStreamArgs& args);

}  // namespace ostrevane::ffi
