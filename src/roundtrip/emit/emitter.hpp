// The round-trip emitter: YamlNode trees back to YAML text.
//
// Input: one document root (a YamlNode tree, read only for the whole run) and
// the settings of the road that writes it. Output: UTF-8 text appended to the
// Emitter's OutputBuffer, which the caller takes out once writing is done.
//
// The emitter writes what the tree records rather than a layout of its own:
// scalar and collection styles, tags, anchors, head, inline and foot comments
// with their spacing, blank lines, the padding after indicators, compact
// items, document markers and directives, and the directive a node came from
// (written as the directive, never expanded). A literal or folded scalar that
// was not modified is written as its kept source text while its introducer
// stands where it stood in the source. Wherever the recorded form would not
// read back as the same content (a line break in a plain or single-quoted
// text, a block scalar that needs an indentation indicator, a tagged empty
// node standing alone, a key written over several lines), the emitter picks
// the nearest form that does.
//
// Invariants: writing never fails and never changes the tree; it touches no
// Python object and no state shared between calls, so it runs with the
// interpreter lock released. Each level of nesting passes through
// with_stack_guard, so no tree depth overflows the native stack. Nothing is
// allocated per node: texts are escaped straight into the output, except the
// short-lived copies that folding at a width needs.
#pragma once

#include <cstddef>
#include <optional>

#include "emit_util/output_buffer.hpp"
#include "emit_util/scalar_text.hpp"
#include "roundtrip/node.hpp"

namespace ostrevane {

// Room an emitter's output starts with when no source length is known.
inline constexpr std::size_t kEmitterInitialCapacity = 256;

// What a road chooses about the layout; everything else the tree says.
struct EmitterSettings {
  std::size_t indent = 0;  // the indentation step; 0 stands for 2
  std::size_t width = 0;   // preferred line width in bytes; 0: no limit
  // The represent road of dumps: a block sequence under a key is placed by
  // indentless_sequences instead of by its source column.
  bool dump_layout = false;
  bool indentless_sequences = false;
  // A plain scalar that has to be quoted takes single quotes when it can.
  bool prefer_single_quotes = false;
  // How synthetic Null nodes are written; composed ones ignore it.
  NullStyle null_style = NullStyle::Default;

  // Document text, views and include write-back: the tree's own layout.
  [[nodiscard]] static EmitterSettings round_trip(NullStyle null_style) noexcept {
    EmitterSettings s;
    s.null_style = null_style;
    return s;
  }
};

// The state of one writing run. Callers that write several documents into
// one text create it once, separate the documents themselves and apply the
// final-newline rule once at the end.
class Emitter {
 public:
  explicit Emitter(const EmitterSettings& settings, std::size_t reserve = kEmitterInitialCapacity);

  OutputBuffer output;
  std::size_t indent = 0;
  std::size_t width = 0;
  bool dump_layout = false;
  bool indentless_sequences = false;
  bool prefer_single_quotes = false;
  NullStyle null_style = NullStyle::Default;
  // Flow collections open at the write position; 0 in block context.
  std::size_t flow_depth = 0;
  // A mapping key is being written: no folding, wrapping or quoting for width.
  bool in_key = false;
  // The key is in the simple form, so its ":" follows its last character:
  // a final ":" of a plain key reads as part of it ("b::" is the key "b:").
  // A "? " key ends its line instead, where a final ":" opens a value.
  bool colon_follows_key = false;
  // The node whose inline comment was written last: it is not written twice
  // in a row.
  const YamlNode* last_inline = nullptr;
  // Set when kept block-scalar source without a final line break was
  // written: the output length just after it.
  std::optional<std::size_t> final_newline;
  // Kept keep-chomped source ("|+") without a final line break reads back as
  // it stands only at the end of the text: the line break that anything
  // written after it needs would join its value. apply_final_newline then
  // mends it in place: a last line of blanks that gave the value nothing
  // goes with the line break after it (`blank_line` is where it starts);
  // otherwise the '+' at `indicator` becomes '-', and the line break that
  // follows is stripped again.
  struct OpenKeep {
    std::size_t indicator = 0;
    std::optional<std::size_t> blank_line;
  };
  std::optional<OpenKeep> open_keep;
  // A node whose own `source` is ignored (emit_without_source).
  const YamlNode* unsourced = nullptr;
  // The output length where the current document's content begins (after
  // its directives and "---", and for a block collection at the root its
  // head comments and properties): blank lines are not written there, where
  // reading back would give them to the root, which does not keep them.
  std::size_t content_start = 0;
  // The output length just after a block scalar with keep chomping ("|+"):
  // blank lines written right after it would read back as its own final
  // lines, so none are written there.
  std::size_t keep_scalar_end = static_cast<std::size_t>(-1);
  // The value about to be written is the last of a block mapping with lines
  // after its entries: a block sequence there is indented, since at its
  // key's column those lines would read back as the sequence's.
  bool value_before_foot = false;
  // Another pair follows the value about to be written: lines after a
  // block sequence at its key's column would read back as the next key's,
  // so a sequence with lines of its own after it is indented.
  bool value_before_key = false;
  // Another document follows the one being written: lines at column 0 at
  // its end would be read back as that document's.
  bool document_follows = false;
  // The root being written when a document with content follows: lines
  // after its last entry are read back as that document's.
  const YamlNode* root_before_document = nullptr;

  [[nodiscard]] std::size_t step() const noexcept { return indent == 0 ? 2 : indent; }
};

// Appends one document: directives, "---" when the root has explicit_start
// (or directives), the root's head comments, the root, its foot comments.
// `document_follows`: another document is written after this one.
void emit_document(Emitter& emitter, const YamlNode& root, bool document_follows = false);

// The final-newline rule: a kept block scalar that ended its file without a
// line break is followed by nothing but the line feed its entry added; that
// line feed is dropped again. When more follows it, a keep-chomped one is
// mended so that it keeps its value (see Emitter::open_keep).
void apply_final_newline(Emitter& emitter) noexcept;

// The text of one document with the round-trip settings: a byte-order mark
// when the root carries leading_bom, the document, then the final-newline
// rule. `reserve`: the source length where one is known.
[[nodiscard]] OutputBuffer emit_document_to_string(const YamlNode& root, NullStyle null_style,
                                                   std::size_t reserve = kEmitterInitialCapacity);

// The text of an included file's content: the node written as a document of
// its own with its own `source` ignored (nested directive nodes keep their
// directive form), synthetic nulls as "null".
[[nodiscard]] OutputBuffer emit_without_source(const YamlNode& node);

// The directive's tag, a space and its target ("!include other.yaml"); a
// target that would not read back as the same plain text is quoted.
void emit_directive_node(Emitter& emitter, const IncludeSource& source);

}  // namespace ostrevane
