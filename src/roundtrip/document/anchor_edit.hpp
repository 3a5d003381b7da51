// The checks that guard anchor and alias edits of a document's tree, so
// that its text still loads afterwards.
//
// Input: a document root (read only), the node an edit is about to change,
// and the anchor name the edit brings in. Output: the fault that refuses the
// edit, or none; nothing is changed here, so a caller that runs every check
// before its first change leaves a refused edit without a trace. No Python:
// the binding turns the faults into its ValueErrors.
//
// - An anchor name is refused when the reader would not give it back: empty,
//   holding a character that ends a name (TAB, LF, CR, space, ",", "[",
//   "]", "{", "}") or NUL, or a character the reader refuses before
//   scanning (other C0 controls, DEL, C1 controls other than NEL, U+FFFE,
//   U+FFFF). The first such character in the name decides.
// - An alias put in place of a node reads, as every alias does (see
//   AnchorIndex), the nearest definition of its name in its own file that is
//   complete before the place starts. The place is refused when there is no
//   such definition: the name may be defined nowhere in the tree, only in
//   the node's own subtree or after it, or only around the place (the alias
//   would stand inside the definition it names). Positions are those of the
//   nodes themselves, so duplicate keys and complex keys count where they
//   stand.
//
// Removing or renaming an anchor, and replacing an anchored subtree by an
// alias, go through the editing code's check that no alias is stranded
// (roundtrip/edit.hpp).
//
// Walks keep an explicit stack: trees deeper than any load are safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "roundtrip/document/path.hpp"
#include "roundtrip/node.hpp"
#include "util/result.hpp"

namespace ostrevane {

enum class AnchorNameFault : std::uint8_t {
  Empty,
  Separator,         // whitespace, a line break, a flow indicator or NUL
  ControlCharacter,  // a character the reader refuses before scanning
};

struct AnchorNameError {
  AnchorNameFault fault;
  std::string character;  // the refused character's UTF-8 bytes
};

// The messages; "{}" stands for the name and the character, each quoted by
// the binding's message literal rules.
inline constexpr std::string_view kEmptyAnchorNameMessage = "anchor name cannot be empty";
inline constexpr std::string_view kAnchorSeparatorMessage =
    "invalid anchor name {}: cannot contain whitespace, line breaks, or flow indicators (found {})";
inline constexpr std::string_view kAnchorControlMessage =
    "invalid anchor name {}: cannot contain control characters (found {})";

[[nodiscard]] Result<void, AnchorNameError> validate_anchor_name(std::string_view name);

// The tag of the directive whose content holds the node at `path` (from
// `root`) when no file holds that content: what a secret, a variable or a
// directory include reads, or an included file that itself held only a
// directive. An anchor set there could never be written. Nothing when the
// node's place is written (a directive's own node is: its anchor goes on
// the directive's line).
[[nodiscard]] std::optional<std::string> unwritten_content_tag(const YamlNode& root,
                                                               const NodePath& path);

// The message of the ValueError that refuses such an anchor.
[[nodiscard]] std::string unwritable_anchor_message(std::string_view name, std::string_view tag);

enum class AliasPlaceFault : std::uint8_t {
  NoAnchor,   // no node of the tree carries the name
  Cycle,      // only the place itself or a node around it defines the name
  NotBefore,  // the name is defined, but not before the place
};

// Whether an alias of `name` may take the place of `place`, a node of the
// tree under `root`. With `place` nullptr (a path that leads nowhere) only
// NoAnchor is decided.
[[nodiscard]] std::optional<AliasPlaceFault> alias_place_fault(const YamlNode& root,
                                                               const YamlNode* place,
                                                               std::string_view name);

}  // namespace ostrevane
