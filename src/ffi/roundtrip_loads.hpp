// The round-trip roads of loads and loads_all: text to OstrevaneDocument.
//
// Input: the decoded text of the call (borrowed), its option mask, and for
// loads the resolution rules already chosen from the text's %YAML directive
// and the options, and the resolved schema (borrowed, NULL when absent).
// Output: one OstrevaneDocument holding every document of the stream
// (loads), or a list with one OstrevaneDocument per document, each holding
// its own stretch of the text and read under its own %YAML directive
// (loads_all). Composing runs with the interpreter lock held and calls no
// Python code; a scanner or composer error is raised as OstrevaneParseError.
//
// The passes run after composing: YAML 1.1 warnings, the upgrade, duplicate
// keys (node_checks.hpp).
//
// Not built yet, and refused with NotImplementedError naming the option:
// OPT_SECRETS. The schema, when given, is checked against the first
// document before the OstrevaneDocument is made.
#pragma once

#include <cstdint>
#include <string_view>

#include "ffi/directives_road.hpp"
#include "ffi/errors.hpp"
#include "resolver/resolver.hpp"

namespace ostrevane::ffi {

struct RoundTripLoad {
  std::string_view text;
  std::uint64_t option = 0;
  ResolverMode mode = ResolverMode::Yaml12;  // loads only; loads_all decides per document
  bool timestamps = false;
  // loads only: OPT_YAML_1_1_WARN for a text read under YAML 1.1.
  bool yaml11_warn = false;
  PyObject* schema = nullptr;  // loads only
  // loads only: the directive arguments; with a directive option the text
  // is composed and expanded by expand_directives.
  const DirectiveArgs* directives = nullptr;
};

[[nodiscard]] PyResult<PyRef> loads_round_trip(const RoundTripLoad& load);
[[nodiscard]] PyResult<PyRef> loads_all_round_trip(const RoundTripLoad& load);

}  // namespace ostrevane::ffi
