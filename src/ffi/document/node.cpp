#include "ffi/document/node.hpp"

#include <string>
#include <vector>

#include "ffi/document/borrow_rules.hpp"
#include "ffi/entry_guard.hpp"
#include "roundtrip/document/node_facts.hpp"

namespace ostrevane::ffi {
namespace {

NodeObject* as_node(PyObject* self) noexcept { return reinterpret_cast<NodeObject*>(self); }

PyObject* node_repr(PyObject* self) {
  return guarded_call([&]() -> PyResult<PyRef> {
    HeldNode held = OSV_TRY(hold_node(self, node_borrow("__repr__")));
    const YamlNode* node = held.find();
    std::string text = "OstrevaneNode(";
    text += node == nullptr ? std::string_view("<stale>") : node_kind_label(node->kind());
    text += ')';
    PyObject* str = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    if (str == nullptr) return std::unexpected(PyError::fetch());
    return PyRef::steal(str);
  });
}

constexpr const char kNodeDoc[] =
    "A metadata-bearing handle onto a single node of a [`OstrevaneDocument`].\n\n"
    "Unlike item access, which hands out plain values for scalars, a cursor is\n"
    "returned for every node, scalars included. Get the root cursor from\n"
    "`OstrevaneDocument.node` and index it: `doc.node[\"server\"][\"port\"]`.\n\n"
    "`comment_before` is the standalone comment above a node (above its key, for\n"
    "a mapping value); `comment` is the comment trailing the entry. Both are read\n"
    "and written without the leading `#`.";

// The member tables of every group in one array each, terminated, in the
// order the groups are listed; kept for the process with the class.
template <class Def>
std::vector<Def> joined(std::initializer_list<std::span<const Def>> groups) {
  std::vector<Def> all;
  for (const std::span<const Def> group : groups) all.insert(all.end(), group.begin(), group.end());
  all.push_back(Def{});
  return all;
}

PyType_Spec& node_spec() {
  static std::vector<PyGetSetDef> getsets =
      joined({node_value_getsets(), node_comment_getsets(), node_anchor_getsets()});
  static std::vector<PyMethodDef> methods =
      joined({node_value_methods(), node_comment_methods(), node_anchor_methods()});
  static PyType_Slot slots[] = {
      {Py_tp_doc, const_cast<char*>(kNodeDoc)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&cursor_dealloc)},
      {Py_tp_repr, reinterpret_cast<void*>(&node_repr)},
      {Py_mp_subscript, reinterpret_cast<void*>(&node_subscript)},
      {Py_sq_contains, reinterpret_cast<void*>(&node_contains)},
      {Py_tp_methods, methods.data()},
      {Py_tp_getset, getsets.data()},
      {0, nullptr},
  };
  // No tp_new: cursors come only from new_node_object. No richcompare or
  // hash: the base object's identity comparison is the one wanted.
  static PyType_Spec spec = {
      "_ostrevane.OstrevaneNode",
      static_cast<int>(sizeof(NodeObject)),
      0,
      Py_TPFLAGS_DEFAULT,
      slots,
  };
  return spec;
}

OnceCell<PyObject> g_node_type;

}  // namespace

PyResult<PyTypeObject*> node_type_object() {
  return lazy_type_object(g_node_type, node_spec(), "OstrevaneNode");
}

PyResult<PyRef> new_node_object(CursorData cursor) {
  PyTypeObject* type = OSV_TRY(node_type_object());
  return new_cursor_object(type, std::move(cursor));
}

PyError stale_node() { return key_error("stale node"); }

const YamlNode* HeldNode::root() const noexcept {
  const NodeList& roots = data().roots;
  const std::size_t root = self_->cursor.root;
  return root < roots.size() ? &roots[root] : nullptr;
}

const YamlNode* HeldNode::resolve(const NodePath& path) const noexcept {
  return resolve_node_path(data().roots, self_->cursor.root, path);
}

YamlNode* HeldNode::find_for_edit() const noexcept {
  return resolve_node_path_for_edit(data().roots, self_->cursor.root, path());
}

PyResult<PyRef> HeldNode::new_cursor(NodePath path) const {
  return new_node_object(
      CursorData{std::move(path), PyRef::borrow(self_->cursor.document.get()), self_->cursor.root});
}

PyResult<HeldNode> hold_node(PyObject* self, BorrowRule document_rule) {
  NodeObject* node = as_node(self);
  MemberBorrow own = OSV_TRY(MemberBorrow::take(node->borrows, kReadsOrFault));
  MemberBorrow document = OSV_TRY(MemberBorrow::take(node->cursor.doc()->borrows, document_rule));
  return HeldNode(node, std::move(own), std::move(document));
}

PyResult<void> refuse_delete(PyObject* value) {
  if (value != nullptr) return {};
  return std::unexpected(PyError::builtin(PyExc_AttributeError, "property has no deleter"));
}

}  // namespace ostrevane::ffi
