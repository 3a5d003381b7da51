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

// The node road without OPT_ANNOTATED: the first document as plain values
// with the call's tag callbacks, or None when the text holds none. Options
// this road does not serve yet (the duplicate-key and YAML 1.1 warning
// options, a schema) raise NotImplementedError naming them before
// anything is read.
struct NodeRoadArgs {
  DirectiveArgs directives;
  ResolverMode mode = ResolverMode::Yaml12;
  bool reject_complex_keys = false;
  bool dup_key_error = false;
  bool dup_key_warn = false;
  bool yaml11_warn = false;
  bool has_schema = false;
  TagOptions tags;
};
[[nodiscard]] PyResult<PyRef> loads_node_road(std::string_view text, const NodeRoadArgs& args);

}  // namespace ostrevane::ffi
