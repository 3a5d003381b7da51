// The passes over composed documents as the loading roads run them.
//
// Input: the document roots of a round-trip, node or annotated load (the
// round-trip roads may change them: the YAML 1.1 upgrade), the ResolverMode
// they were read with and the switches the options set. Output: nothing, or
// the Python error to raise (OstrevaneDuplicateKeyError at the first
// repeated key). Warnings are logged through log_warning as each pass ends,
// so they are out before a later pass fails. Runs with the interpreter lock
// held; no Python code of the caller's runs.
#pragma once

#include <span>

#include "ffi/errors.hpp"
#include "resolver/resolver.hpp"
#include "roundtrip/node.hpp"

namespace ostrevane::ffi {

struct NodeChecks {
  bool dup_key_error = false;
  bool dup_key_warn = false;  // ignored when dup_key_error is set
  bool yaml11_warn = false;
  bool upgrade = false;  // round-trip roads only
  // Quoting of the former strings the upgrade protects: not OPT_SINGLE_QUOTES.
  bool prefer_double_quotes = true;
};

// The round-trip order: YAML 1.1 warnings (quoting the text as loaded), the
// upgrade, then duplicate keys (comparing upgraded scalars in their new
// spelling).
[[nodiscard]] PyResult<void> check_roundtrip_documents(std::span<YamlNode> roots, ResolverMode mode,
                                                       const NodeChecks& checks);

// The node and annotated roads' order: duplicate keys, then YAML 1.1
// warnings; no upgrade.
[[nodiscard]] PyResult<void> check_node_documents(std::span<const YamlNode> roots,
                                                  ResolverMode mode, const NodeChecks& checks);

}  // namespace ostrevane::ffi
