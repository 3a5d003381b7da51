// Comment text rules: what Python may hand over as comment text.
//
// Input: comment texts as Python gives them (UTF-8, without the '#'), for the
// trailing comment of a node (one line) or the lines above or after it. Output:
// the text checked, or cut into lines, or stored lines joined back into one
// text; or a CommentError saying why a text is refused. No Python here: the
// binding turns a CommentError into its ValueError.
//
// Refused everywhere: the characters the reader rejects before scanning (C0
// controls other than TAB, LF and CR, DEL, C1 controls other than NEL, U+FFFE,
// U+FFFF), since written out they would make the text unloadable. A trailing
// comment also refuses every line break (LF, CR, NEL, LS, PS); lines above or
// after a node are separated by LF, CR LF or a lone CR, and refuse NEL, LS
// and PS. Pure functions; nothing is changed on failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "roundtrip/node.hpp"
#include "util/result.hpp"

namespace ostrevane {

enum class CommentFault : std::uint8_t {
  InlineLineBreak,   // a trailing comment holds LF, CR, NEL, LS or PS
  UnicodeLineBreak,  // comment lines hold NEL, LS or PS
  ControlCharacter,  // a character the reader refuses; see `character`
};

struct CommentError {
  CommentFault fault;
  std::string character;  // ControlCharacter: the refused character's UTF-8 bytes
};

inline constexpr std::string_view kInlineLineBreakMessage =
    "an inline comment cannot contain a line break; use comment_before or comment_after for a "
    "multi-line comment";
inline constexpr std::string_view kUnicodeLineBreakMessage =
    "a comment cannot contain NEL, LS, or PS line breaks; use \\n to separate comment lines";
// A trailing comment given where the emitter has no line for one (a block
// collection at the root).
inline constexpr std::string_view kInlineCommentNotWritableMessage =
    "an inline comment cannot be written here; use comment_before or comment_after";
// Lines after a node that has no place for them.
inline constexpr std::string_view kFootPlacementMessage =
    "comment_after is only supported on a block mapping, a block sequence, or the document root";
// Lines above the first item of a block sequence whose dash line carries a
// comment: above the first dash they are read back as the sequence's own.
inline constexpr std::string_view kHeadPlacementMessage =
    "comment_before cannot be written above the first item of a block sequence whose dash line "
    "carries a comment; set the sequence's comment_before instead";
// Lines after the content of an included file that holds further
// documents: the next document would read them as its own.
inline constexpr std::string_view kFootBeforeIncludedDocumentMessage =
    "comment_after cannot be written after an included document that other documents of its "
    "file follow";
// Lines after a sequence written at its key's column, another key following:
// at that column they are read back as the next key's.
inline constexpr std::string_view kFootBeforeKeyMessage =
    "comment_after cannot be written after a sequence at its key's column while another key "
    "follows; set that key's comment_before instead";
// Lines at column 0 after the last entry of a document that another document
// follows: before its "---" they are read back as that document's.
inline constexpr std::string_view kFootBeforeDocumentMessage =
    "comment_after cannot be written at the end of a document that another document follows; "
    "set that document's comment_before instead";
// Followed by the character, quoted by the binding's message literal rules.
inline constexpr std::string_view kControlCharacterMessage =
    "a comment cannot contain the control character ";

// A trailing comment: absent stays absent; the text is returned unchanged
// when it holds no line break and no refused character.
[[nodiscard]] Result<std::optional<std::string>, CommentError> validate_inline_comment(
    std::optional<std::string> text);

// Comment lines: absent gives no lines; otherwise n breaks (CR LF counting as
// one) give n + 1 lines, empty ones included.
[[nodiscard]] Result<std::vector<std::string>, CommentError> split_comment_lines(
    std::optional<std::string> text);

// A Sequence or Mapping of Block style with an entry: below a document root,
// the only node with lines of its own after its last entry; at the root, a
// node whose first line is its first entry's, leaving no line for a
// trailing comment of its own.
[[nodiscard]] bool is_nonempty_block_collection(const YamlNode& node) noexcept;

// Whether a sequence item's trailing comment, when it has one, stands on its
// dash line: one read there, before a value on a later line, and that of a
// non-empty block collection, whose entries start below the dash. The first
// item of a block sequence cannot have both such a comment and lines of its
// own above it (kHeadPlacementMessage): above the first dash they are read
// back as the sequence's, below a dash that carries a comment as the item's
// first entry's.
[[nodiscard]] bool inline_on_dash_line(const YamlNode& item) noexcept;

// Which stored head lines `join_comment_lines` takes.
enum class CommentSelection : std::uint8_t {
  All = 0,
  AboveIntroducer = 1,  // below_introducer false
  BelowIntroducer = 2,  // below_introducer true
};

// The selected lines joined with LF (none at the end); absent when none is
// selected.
[[nodiscard]] std::optional<std::string> join_comment_lines(const std::vector<HeadComment>& lines,
                                                            CommentSelection selection);

// Foot lines joined with LF; absent when there are none.
[[nodiscard]] std::optional<std::string> joined_foot_comment(const YamlNode& node);
[[nodiscard]] std::optional<std::string> joined_foot_comment(const std::vector<std::string>& foot);

// Who holds the lines above a node, and which of them are the node's: the
// one rule for every reader and writer of those lines. Comment attachment
// gives the lines above a mapping's first key to the mapping, and a node
// with a comment on its dash line keeps in one list the lines above the dash
// and those between the dash line and its first entry (below_introducer).
template <class Node>
struct BasicHeadCommentOwner {
  Node* owner;
  CommentSelection selection;
};

// A sequence item: the item; with a comment on its dash line, only the
// lines above the dash (those below are its first key's).
template <class Node>
[[nodiscard]] BasicHeadCommentOwner<Node> item_head_owner(Node& item) noexcept {
  return {&item, item.comments.inline_before_value ? CommentSelection::AboveIntroducer
                                                   : CommentSelection::All};
}

// The value of pair `pair` of `mapping`: the pair's key; for the first pair
// the mapping itself, and of its lines only those below the dash when the
// mapping is a sequence item (`mapping_is_item`) with a comment on its dash
// line.
template <class Node>
[[nodiscard]] BasicHeadCommentOwner<Node> pair_head_owner(Node& mapping, std::size_t pair,
                                                          bool mapping_is_item) noexcept {
  if (pair != 0) return {&mapping.key(pair), CommentSelection::All};
  const bool below_dash = mapping_is_item && mapping.comments.inline_before_value;
  return {&mapping, below_dash ? CommentSelection::BelowIntroducer : CommentSelection::All};
}

// The owner's lines that the selection takes, joined as join_comment_lines.
template <class Node>
[[nodiscard]] std::optional<std::string> owned_head_comment(BasicHeadCommentOwner<Node> owner) {
  return join_comment_lines(owner.owner->comments.head(), owner.selection);
}

}  // namespace ostrevane
