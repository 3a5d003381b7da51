// The comment members of OstrevaneNode: comment, comment_before and
// comment_after, each read and written as text without the "#".
//
// Which node holds a comment, and where a text is refused because it would
// not be written back as the same comment, is decided on the tree
// (roundtrip/document/node_comments.hpp); this file checks the argument,
// takes the borrows and turns refusals into exceptions. A trailing comment's
// line-break check comes before the document is looked at, so a stale cursor
// still reports a refused text first.
#include "roundtrip/document/node_comments.hpp"

#include <optional>
#include <span>
#include <string>
#include <utility>

#include "ffi/args.hpp"
#include "ffi/document/borrow_rules.hpp"
#include "ffi/document/node.hpp"
#include "ffi/represent/descriptors.hpp"

namespace ostrevane::ffi {
namespace {

using CommentReader = Result<std::optional<std::string>, NodeCommentError> (*)(
    std::span<const YamlNode>, std::size_t, const NodePath&);
using CommentWriter = Result<void, NodeCommentError> (*)(std::span<YamlNode>, std::size_t,
                                                         const NodePath&,
                                                         std::optional<std::string>);

PyError node_comment_error_to_py(const NodeCommentError& error) {
  switch (error.fault) {
    case NodeCommentFault::Stale:
      return stale_node();
    case NodeCommentFault::InlineNotWritable:
      return PyError::builtin(PyExc_ValueError, std::string(kInlineCommentNotWritableMessage));
    case NodeCommentFault::FootNotPlaceable:
      return PyError::builtin(PyExc_ValueError, std::string(kFootPlacementMessage));
    case NodeCommentFault::HeadNotPlaceable:
      return PyError::builtin(PyExc_ValueError, std::string(kHeadPlacementMessage));
    case NodeCommentFault::FootNotReadable:
      return PyError::builtin(PyExc_ValueError, std::string(kFootBeforeKeyMessage));
    case NodeCommentFault::FootBeforeDocument:
      return PyError::builtin(PyExc_ValueError, std::string(kFootBeforeDocumentMessage));
    case NodeCommentFault::FootBeforeIncludedDocument:
      return PyError::builtin(PyExc_ValueError, std::string(kFootBeforeIncludedDocumentMessage));
    case NodeCommentFault::Text:
      break;
  }
  return comment_error_to_py(error.text);
}

PyObject* get_comment(PyObject* self, BorrowRule rule, CommentReader read) {
  return guarded_call([&]() -> PyResult<PyRef> {
    HeldNode held = OSV_TRY(hold_node(self, rule));
    auto text = read(held.data().roots, held.cursor().root, held.path());
    if (!text) return std::unexpected(node_comment_error_to_py(text.error()));
    return optional_text_to_py(*text);
  });
}

enum class TextKind : bool { Lines, OneLine };

// Every setter: `del` refused, the argument read, then the text written
// under the exclusive document borrow. A trailing comment's line-break check
// comes before the borrow; comment lines are cut once the node is found.
int set_comment(PyObject* self, PyObject* value, BorrowRule rule, CommentWriter write,
                TextKind kind) {
  return guarded_status([&]() -> PyResult<void> {
    OSV_TRY(refuse_delete(value));
    std::optional<std::string> text = OSV_TRY(text_or_none_argument(value, "text"));
    if (kind == TextKind::OneLine) {
      auto checked = validate_inline_comment(std::move(text));
      if (!checked) return std::unexpected(comment_error_to_py(checked.error()));
      text = std::move(*checked);
    }
    return edit_node(self, rule, [&](HeldNode& held) -> PyResult<void> {
      auto written = write(held.data().roots, held.cursor().root, held.path(), std::move(text));
      if (!written) return std::unexpected(node_comment_error_to_py(written.error()));
      return {};
    });
  });
}

PyObject* node_comment(PyObject* self, void*) {
  return get_comment(self, node_borrow("comment"), &read_inline_comment);
}

int node_set_comment(PyObject* self, PyObject* value, void*) {
  return set_comment(self, value, node_borrow("comment="), &write_inline_comment,
                     TextKind::OneLine);
}

PyObject* node_comment_before(PyObject* self, void*) {
  return get_comment(self, node_borrow("comment_before"), &read_head_comment);
}

int node_set_comment_before(PyObject* self, PyObject* value, void*) {
  return set_comment(self, value, node_borrow("comment_before="), &write_head_comment,
                     TextKind::Lines);
}

PyObject* node_comment_after(PyObject* self, void*) {
  return get_comment(self, node_borrow("comment_after"), &read_foot_comment);
}

int node_set_comment_after(PyObject* self, PyObject* value, void*) {
  return set_comment(self, value, node_borrow("comment_after="), &write_foot_comment,
                     TextKind::Lines);
}

constexpr const char kCommentDoc[] =
    "The comment trailing this node, without the leading `#` or surrounding white\n"
    "space, or `None`.\n\n"
    "Written where YAML puts it for the node: after the value, or after the `key:`\n"
    "or `-` when the value is a block collection written on the lines below. A\n"
    "text with a line break is refused, and so is a text where the comment would\n"
    "not be written as this node's: on a mapping key, on a block mapping or\n"
    "sequence at the document root (use `comment_before` or `comment_after`), or\n"
    "on one as the first item of a block sequence with lines above it.";

constexpr const char kCommentBeforeDoc[] =
    "The standalone comment line or lines above this node, joined by newlines,\n"
    "or `None`.\n\n"
    "For a mapping value these stand above its key. A sequence item with a\n"
    "comment on its dash line has lines on each side of the dash: those above\n"
    "are read and written by the item, those below by its first key.";

constexpr const char kCommentAfterDoc[] =
    "The block of comment lines at the end of this block mapping or sequence,\n"
    "indented with its contents, or at the end of the file for the document\n"
    "root; joined by newlines, or `None`.\n\n"
    "A foot comment has a rendered position only after a block collection or at\n"
    "the document root, so setting one elsewhere is rejected with `ValueError`\n"
    "rather than stored and dropped when the document is written. Clearing is\n"
    "always allowed.";

const PyGetSetDef g_comment_getsets[] = {
    {"comment", &node_comment, &node_set_comment, kCommentDoc, nullptr},
    {"comment_before", &node_comment_before, &node_set_comment_before, kCommentBeforeDoc, nullptr},
    {"comment_after", &node_comment_after, &node_set_comment_after, kCommentAfterDoc, nullptr},
};

}  // namespace

std::span<const PyGetSetDef> node_comment_getsets() noexcept { return g_comment_getsets; }

std::span<const PyMethodDef> node_comment_methods() noexcept { return {}; }

}  // namespace ostrevane::ffi
