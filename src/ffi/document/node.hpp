// OstrevaneNode: a cursor onto one node of an OstrevaneDocument, scalars
// included, for reading and changing a node's position, value, style, tag,
// provenance, comments and anchor.
//
// Input: a CursorData (the path from one root, that root's number and the
// document) made by doc.node, doc.locate, doc.anchors, view.node and the
// cursor's own members. Output: the Python object.
//
// The class is made from member tables kept in several files, one per
// group of members (node_values.cpp: positions and values; node_comments.cpp;
// node_anchors.cpp), concatenated in that order when the class is created.
// Members run through the access protocol below; their borrow rules are
// the table kNodeBorrows (borrow_rules.hpp).
//
// Access protocol: take the cursor's own borrow (shared: no member changes a
// cursor, so it never conflicts), then the document's by the member's rule
// (a conflict is the internal fault), then walk the path from the cursor's
// root; a path that leads nowhere is KeyError "stale node". Both borrows are
// released on every way out.
//
// Cursors compare by identity and have no constructor. They hold no Python
// object but their document, which holds none, so they are not tracked by
// the garbage collector. Lock held throughout.
#pragma once

#include <span>
#include <utility>

#include "ffi/document/cursor.hpp"
#include "ffi/document/reading.hpp"
#include "ffi/entry_guard.hpp"

namespace ostrevane::ffi {

using NodeObject = CursorObject;

// Borrowed class object, created on first use.
[[nodiscard]] PyResult<PyTypeObject*> node_type_object();

// A new cursor holding `cursor`; on failure the cursor is destroyed.
[[nodiscard]] PyResult<PyRef> new_node_object(CursorData cursor);

// KeyError "stale node".
[[nodiscard]] PyError stale_node();

// The borrows of one member call on a cursor, and what it may reach while
// they are held.
class HeldNode {
 public:
  HeldNode(HeldNode&&) noexcept = default;

  [[nodiscard]] NodeObject* object() const noexcept { return self_; }
  [[nodiscard]] const CursorData& cursor() const noexcept { return self_->cursor; }
  [[nodiscard]] const NodePath& path() const noexcept { return self_->cursor.path; }
  [[nodiscard]] DocumentObject* document() const noexcept { return self_->cursor.doc(); }
  [[nodiscard]] DocumentData& data() const noexcept { return self_->cursor.doc()->data; }
  // The cursor's root, or nullptr when the document has no such root.
  [[nodiscard]] const YamlNode* root() const noexcept;
  // A reader of the cursor's root; the root must exist.
  [[nodiscard]] DocumentReader reader() const noexcept {
    return DocumentReader(document(), self_->cursor.root);
  }

  // The node the path designates now, or nullptr (stale).
  [[nodiscard]] const YamlNode* find() const noexcept { return resolve(path()); }
  // The node another path from the same root designates, or nullptr.
  [[nodiscard]] const YamlNode* resolve(const NodePath& path) const noexcept;
  // The node the path designates, for changing it: only under an exclusive
  // document borrow (a "change" member).
  [[nodiscard]] YamlNode* find_for_edit() const noexcept;

  // A new cursor on the same document and root, at `path`.
  [[nodiscard]] PyResult<PyRef> new_cursor(NodePath path) const;

 private:
  friend PyResult<HeldNode> hold_node(PyObject* self, BorrowRule document_rule);
  HeldNode(NodeObject* self, MemberBorrow own, MemberBorrow document) noexcept
      : self_(self), own_(std::move(own)), document_(std::move(document)) {}

  NodeObject* self_;
  MemberBorrow own_;
  MemberBorrow document_;
};

// Protocol steps 1 and 2: the cursor's borrow, then the document's by
// `document_rule` (from node_borrow()).
[[nodiscard]] PyResult<HeldNode> hold_node(PyObject* self, BorrowRule document_rule);

// The whole protocol for members that walk first: `act(held, node)` runs
// on the node the path designates now; a stale path is KeyError "stale
// node" before `act` runs.
template <class Act>
auto read_node(PyObject* self, BorrowRule rule, Act&& act)
    -> decltype(act(std::declval<HeldNode&>(), std::declval<const YamlNode&>())) {
  HeldNode held = OSV_TRY(hold_node(self, rule));
  const YamlNode* node = held.find();
  if (node == nullptr) return std::unexpected(stale_node());
  return act(held, *node);
}

// For changing members, which order their checks and walk themselves:
// `act(held)` runs under both borrows and calls held.find_for_edit() (or
// find()) when its checks allow.
template <class Act>
auto edit_node(PyObject* self, BorrowRule rule, Act&& act)
    -> decltype(act(std::declval<HeldNode&>())) {
  HeldNode held = OSV_TRY(hold_node(self, rule));
  return act(held);
}

// The body of a property getter: the whole protocol under the entry guard,
// `get(held, node)` yielding PyResult<PyRef>.
template <class Get>
PyObject* node_property(PyObject* self, BorrowRule rule, Get&& get) {
  return guarded_call([&]() -> PyResult<PyRef> { return read_node(self, rule, get); });
}

// The member tables of each group, each without a terminating entry.
[[nodiscard]] std::span<const PyGetSetDef> node_value_getsets() noexcept;
[[nodiscard]] std::span<const PyMethodDef> node_value_methods() noexcept;
[[nodiscard]] std::span<const PyGetSetDef> node_comment_getsets() noexcept;
[[nodiscard]] std::span<const PyMethodDef> node_comment_methods() noexcept;
[[nodiscard]] std::span<const PyGetSetDef> node_anchor_getsets() noexcept;
[[nodiscard]] std::span<const PyMethodDef> node_anchor_methods() noexcept;

// The slots of the values group.
PyObject* node_subscript(PyObject* self, PyObject* key);
int node_contains(PyObject* self, PyObject* key);

// A property setter's refusal of `del cursor.name`: AttributeError
// "property has no deleter" when `value` is nullptr.
[[nodiscard]] PyResult<void> refuse_delete(PyObject* value);

}  // namespace ostrevane::ffi
