// Node trees to annotated containers: the result of OPT_ANNOTATED.
//
// Input: the root of one composed (and, with directive options, expanded)
// document, read only; the file names of the load indexed by file id (str
// objects, borrowed; a node whose file id is past the list has no file);
// the ResolverMode; the call's TagOptions; OPT_ANNOTATE_NUMBERS. Output: a
// new Python object: mappings as OstrevaneAnnotatedDict, sequences as
// OstrevaneAnnotatedList, strings as the package's OstrevaneAnnotatedStr
// and, with annotate_numbers, 64-bit integers and floats as
// OstrevaneAnnotatedInt / OstrevaneAnnotatedFloat, each carrying its node's
// positions (lines and columns from 1, byte offsets from 0), file and
// directive source. Everything else is a plain object: None, bools, big
// ints, and under the OPT_PYYAML_COMPAT rules timestamps (dates).
//
// - Aliases give the very object of their anchor (the anchor index of the
//   document decides which definition an alias means), merge keys are
//   applied with the slot rule of the plain node conversion, collection
//   keys become plain tuples, custom tags go through the tag callbacks
//   (after the node is converted, before an anchor keeps the object).
// - The three scalar classes are fetched from the package "ostrevane" once
//   per process (first store wins) and called with eleven positional
//   arguments: value, line, column, file, end_line, end_column, style name,
//   source_tag, source_target, offset, end_offset.
// - Every level runs through with_stack_guard. Runs with the interpreter
//   lock held; any Python error (class fetch, class call, tag callback, an
//   unhashable key) ends the conversion and nothing partial is returned.
#pragma once

#include <span>

#include "ffi/convert/decode.hpp"
#include "ffi/errors.hpp"
#include "resolver/resolver.hpp"
#include "roundtrip/node.hpp"

namespace ostrevane::ffi {

struct AnnotateSettings {
  std::span<PyObject* const> file_names;  // str objects, borrowed
  ResolverMode mode = ResolverMode::Yaml12;
  const TagOptions* tag_options = nullptr;
  bool annotate_numbers = false;
};

// New reference, or the first Python error.
[[nodiscard]] PyResult<PyRef> tree_to_annotated(const YamlNode& root,
                                                const AnnotateSettings& settings);

}  // namespace ostrevane::ffi
