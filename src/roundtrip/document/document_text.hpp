// Document text: a round-trip document written back as YAML.
//
// Input: a DocumentData (read only). Output: its text, which is the loaded
// text itself, byte for byte, while no node of any root is modified, and
// otherwise the roots written again by the round-trip emitter, one after the
// other in one output. Never fails (except by running out of memory) and
// never changes the document.
//
// The emitted case is split from the emitter: `write_roots` places the
// byte-order mark, the separators between roots and the final-newline rule
// around a RootWriter that writes one root. `document_to_text` uses the
// round-trip emitter's writer (document/emit_roots.cpp, the only place that
// calls the emitter); tests use their own.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "emit_util/output_buffer.hpp"
#include "roundtrip/document/document_data.hpp"

namespace ostrevane {

// Writes one root after another into one output that it owns.
class RootWriter {
 public:
  virtual ~RootWriter() = default;
  [[nodiscard]] virtual OutputBuffer& output() = 0;
  // Appends the document of `root` (its directives, its "---" line when it
  // has explicit_start, its content and comments) to output();
  // `document_follows` when another root is written after it.
  virtual void write(const YamlNode& root, bool document_follows) = 0;
  // The output length just past kept source text after which the writer
  // added a line feed of its own, as the last write left it; nothing when
  // there is none.
  [[nodiscard]] virtual std::optional<std::size_t> final_newline() const = 0;
  // Settles the end of the text once every root is written; by default the
  // final-newline rule on final_newline().
  virtual void finish();
};

// The emitted text of `roots` into the writer's output: the byte-order mark
// when the first root has leading_bom; the first root; before each further
// root "...\n" when it carries directives, else "---\n" unless it has its
// own explicit start, else "...\n" when it has head lines above its marker
// and the previous document ends in an empty node with an anchor or tag
// (which would take those lines as its own); then, once, the final-newline
// rule: a line feed that the writer added after kept source text is dropped
// when it is the last byte. No roots write nothing.
void write_roots(std::span<const YamlNode> roots, RootWriter& writer);
// The same with the first root apart from the others.
void write_roots(const YamlNode& first, std::span<const YamlNode> rest, RootWriter& writer);

// `write_roots` with the round-trip emitter at its round-trip settings and
// `null_style`; the text, with room reserved for `reserve` bytes.
[[nodiscard]] OutputBuffer emit_roots(std::span<const YamlNode> roots, NullStyle null_style,
                                      std::size_t reserve);

// The text of an included file: `content` written as its first document
// with its own `source` ignored (as emit_without_source writes it), then
// the file's later documents, through `write_roots`.
[[nodiscard]] OutputBuffer emit_included_file(const YamlNode& content,
                                              std::span<const YamlNode> later);

// A document's text: a view of its source text, or the emitted text it owns.
class DocumentText {
 public:
  [[nodiscard]] std::string_view view() const noexcept {
    return verbatim_ ? *verbatim_ : emitted_.view();
  }
  [[nodiscard]] bool is_verbatim() const noexcept { return verbatim_.has_value(); }

 private:
  friend DocumentText document_to_text(const DocumentData& data);
  std::optional<std::string_view> verbatim_;
  OutputBuffer emitted_;
};

// The text of `data`. The result may view data.source_text: it must not
// outlive the document or a change to it.
[[nodiscard]] DocumentText document_to_text(const DocumentData& data);

}  // namespace ostrevane
