// DocumentData: the contents of one round-trip document object.
//
// Input: filled by the round-trip roads of loads and loads_all (src/ffi),
// which compose the text, run the passes and move the roots in. Output: read
// by the document object's members (text, conversions) and, later, changed by
// its editing members.
//
// Ownership: everything here is owned and never shared: the roots (dropped
// without recursion by ~YamlNode, so a tree of any depth is safe), the file
// tables of an include expansion, the loaded text and the origin path. The
// flags are the per-load settings that decide how values are resolved and
// written back.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emit_util/scalar_text.hpp"
#include "resolver/resolver.hpp"
#include "roundtrip/node.hpp"

namespace ostrevane {

struct DocumentData {
  // One root per document of the stream, in stream order; may be empty.
  NodeList roots;
  // Path and text of every source file, indexed by file id; empty when the
  // document was loaded without directive options.
  std::vector<std::string> file_paths;
  std::vector<std::optional<std::string>> file_texts;
  // What each included file holds besides the document !include reads:
  // written back with it whenever the file is rewritten.
  IncludedFileRests file_rests;
  // The decoded text that was parsed (for loads_all, this document's own
  // stretch of it): written back byte for byte while nothing is modified.
  std::optional<std::string> source_text;
  // The line break of the loaded text once source_text is dropped (a
  // document of the stream removed): text written anew still uses it. A
  // view of static text, as first_line_break gives it.
  std::string_view line_break = "\n";
  // Set only by set_origin.
  std::optional<std::string> origin;
  // Quoting of Python strings assigned into the tree: not OPT_SINGLE_QUOTES.
  bool prefer_double_quotes = true;
  // OPT_UPGRADE_1_1: the written text declares YAML 1.2.
  bool upgraded = false;
  // Plain scalars that read as timestamps convert to date and datetime.
  bool timestamps = false;
  // How the emitter writes synthetic nulls.
  NullStyle null_style = NullStyle::Default;
  // The rules for converting nodes to values and values to nodes.
  ResolverMode resolver_mode = ResolverMode::Yaml12;
};

}  // namespace ostrevane
