#include "ffi/document/view.hpp"

#include <string>
#include <string_view>
#include <utility>

#include "ffi/document/borrow_rules.hpp"
#include "ffi/document/editing.hpp"
#include "ffi/document/node.hpp"
#include "ffi/document/reading.hpp"
#include "ffi/entry_guard.hpp"
#include "roundtrip/document/alias_expansion.hpp"
#include "roundtrip/document/node_facts.hpp"
#include "roundtrip/document/subtree.hpp"
#include "roundtrip/emit/emitter.hpp"

namespace ostrevane::ffi {
namespace {

ViewObject* as_view(PyObject* self) noexcept { return reinterpret_cast<ViewObject*>(self); }

PyResult<PyRef> checked(PyObject* obj) {
  if (obj == nullptr) return std::unexpected(PyError::fetch());
  return PyRef::steal(obj);
}

// The view's borrow, then its document's, both held until the member
// returns.
struct HeldView {
  MemberBorrow own;
  MemberBorrow document;
};

PyResult<HeldView> hold(ViewObject* view, const ViewMemberRule& rule) {
  MemberBorrow own = OSV_TRY(MemberBorrow::take(view->borrows, rule.view));
  MemberBorrow document = OSV_TRY(MemberBorrow::take(view->cursor.doc()->borrows, rule.document));
  return HeldView{std::move(own), std::move(document)};
}

// Borrow, resolve, act, release: `act(reader, node)` runs on the node the
// view's path designates now; a path that leads nowhere is KeyError "stale
// view".
template <class Act>
auto read_view(PyObject* self, const ViewMemberRule& rule, Act&& act)
    -> decltype(act(std::declval<DocumentReader&>(), std::declval<const YamlNode&>())) {
  ViewObject* view = as_view(self);
  HeldView held = OSV_TRY(hold(view, rule));
  const YamlNode* node = view->cursor.resolve();
  if (node == nullptr) return std::unexpected(key_error("stale view"));
  DocumentReader reader(view->cursor.doc(), view->cursor.root);
  return act(reader, *node);
}

// What the view reads the contents of: for an alias, the node its
// definition holds (the alias itself when it has none).
const YamlNode& contents(DocumentReader& reader, const YamlNode& node) {
  const YamlNode* target = reader.followed(node);
  return target != nullptr ? *target : node;
}

PyResult<PyRef> view_getitem_in(PyObject* self, PyObject* key, const ViewMemberRule& rule) {
  return read_view(self, rule, [&](DocumentReader& reader, const YamlNode& node) {
    const YamlNode& target = contents(reader, node);
    const NodePath& own = as_view(self)->cursor.path;
    if (&target == &node) return node_getitem(reader, own, node, key);
    // A child of an alias gets a path through the definition, which is where
    // its node stands.
    std::optional<NodePath> through = find_node_path(reader.root(), target);
    return node_getitem(reader, through ? *through : own, target, key);
  });
}

// ---------------------------------------------------------------------------
// Slots.

PyObject* view_subscript(PyObject* self, PyObject* key) {
  return guarded_call([&] { return view_getitem_in(self, key, view_borrow("__getitem__")); });
}

int view_contains(PyObject* self, PyObject* key) {
  return guarded_predicate([&] {
    return read_view(self, view_borrow("__contains__"),
                     [&](DocumentReader& reader, const YamlNode& node) -> PyResult<bool> {
                       const std::optional<std::string_view> text = str_text(key);
                       return text && mapping_has_text_key(contents(reader, node), *text);
                     });
  });
}

Py_ssize_t view_length(PyObject* self) {
  return guarded_size([&] {
    return read_view(self, view_borrow("__len__"),
                     [&](DocumentReader& reader, const YamlNode& node) {
                       return node_length(reader, contents(reader, node));
                     });
  });
}

PyObject* view_repr(PyObject* self) {
  return guarded_call([&]() -> PyResult<PyRef> {
    ViewObject* view = as_view(self);
    HeldView held = OSV_TRY(hold(view, view_borrow("__repr__")));
    const YamlNode* node = view->cursor.resolve();
    std::string text = "OstrevaneDocumentView(";
    text += node == nullptr ? std::string_view("<stale>") : node_kind_label(node->kind());
    text += ')';
    return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  });
}

// ---------------------------------------------------------------------------
// Methods.

PyObject* view_get(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded_call([&]() -> PyResult<PyRef> {
    const GetArgs get = OSV_TRY(parse_get_args(args, kwargs));
    return value_or_default(view_getitem_in(self, get.key, view_borrow("get")), get.fallback);
  });
}

PyObject* view_keys(PyObject* self, PyObject*) {
  return guarded_call([&] {
    return read_view(
        self, view_borrow("keys"),
        [&](DocumentReader& reader, const YamlNode& node) -> PyResult<PyRef> {
          const YamlNode& target = contents(reader, node);
          if (target.kind() != NodeKind::Mapping) {
            return std::unexpected(PyError::builtin(PyExc_TypeError, "node is not a mapping"));
          }
          return mapping_keys_list(reader, target);
        });
  });
}

PyObject* view_walk(PyObject* self, PyObject*) {
  return guarded_call([&] {
    return read_view(self, view_borrow("walk"), [&](DocumentReader& reader, const YamlNode& node) {
      return walk_list(reader, contents(reader, node));
    });
  });
}

PyObject* view_range(PyObject* self, PyObject*) {
  return guarded_call([&] {
    return read_view(self, view_borrow("range"), [&](DocumentReader&, const YamlNode& node) {
      return node_position_tuple(node);
    });
  });
}

PyObject* view_to_dict(PyObject* self, PyObject*) {
  return guarded_call([&] {
    return read_view(
        self, view_borrow("to_dict"),
        [&](DocumentReader& reader, const YamlNode& node) { return reader.to_py(node); });
  });
}

PyObject* view_to_yaml(PyObject* self, PyObject*) {
  return guarded_call([&] {
    return read_view(self, view_borrow("to_yaml"),
                     [&](DocumentReader& reader, const YamlNode& node) -> PyResult<PyRef> {
                       // The node alone would leave aliases and tag handles defined
                       // elsewhere in the document undefined: write a copy that carries
                       // them.
                       Result<YamlNode, SubtreeCopyError> copy =
                           subtree_document(reader.root(), contents(reader, node));
                       if (!copy) {
                         return std::unexpected(
                             PyError::builtin(PyExc_ValueError, std::move(copy.error().message)));
                       }
                       const NullStyle null_style = reader.document()->data.null_style;
                       OutputBuffer out;
                       {
                         ReleasedGil unlocked;
                         out = emit_document_to_string(*copy, null_style);
                         drop_node_iterative(std::move(*copy));
                       }
                       const std::string_view text = out.view();
                       return checked(PyBytes_FromStringAndSize(
                           text.data(), static_cast<Py_ssize_t>(text.size())));
                     });
  });
}

PyMethodDef g_view_methods[] = {
    {"get", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&view_get)),
     METH_VARARGS | METH_KEYWORDS, "get($self, key, default)\n--\n\n"},
    {"keys", reinterpret_cast<PyCFunction>(&view_keys), METH_NOARGS, "keys($self, /)\n--\n\n"},
    {"walk", reinterpret_cast<PyCFunction>(&view_walk), METH_NOARGS,
     "walk($self, /)\n--\n\n"
     "Walk every scalar leaf below this view, yielding `(path, value)` pairs\n"
     "whose paths are relative to this node."},
    {"range", reinterpret_cast<PyCFunction>(&view_range), METH_NOARGS,
     "range($self, /)\n--\n\n"
     "The node's 1-based source range `(start_line, start_col, end_line,\nend_col)`."},
    {"unwrap", reinterpret_cast<PyCFunction>(&view_to_dict), METH_NOARGS,
     "unwrap($self, /)\n--\n\n"
     "The resolved plain-Python value of this node (dict/list/scalar)."},
    {"to_dict", reinterpret_cast<PyCFunction>(&view_to_dict), METH_NOARGS,
     "to_dict($self, /)\n--\n\n"
     "Alias for [`unwrap`](Self::unwrap): the resolved plain-Python value."},
    {"to_yaml", reinterpret_cast<PyCFunction>(&view_to_yaml), METH_NOARGS,
     "to_yaml($self, /)\n--\n\n"
     "Serialize just this nested node back to YAML bytes."},
    {nullptr, nullptr, 0, nullptr},
};

// The path is not walked: a stale view gives a cursor that reports itself
// stale when used.
PyObject* view_node(PyObject* self, void*) {
  return guarded_call([&]() -> PyResult<PyRef> {
    const ViewMemberRule rule = view_borrow("node");
    static_assert(view_borrow("node").document.kind == BorrowKind::None);
    ViewObject* view = as_view(self);
    MemberBorrow own = OSV_TRY(MemberBorrow::take(view->borrows, rule.view));
    return new_node_object(CursorData{
        view->cursor.path.clone(), PyRef::borrow(view->cursor.document.get()), view->cursor.root});
  });
}

PyGetSetDef g_view_getsets[] = {
    {"node", &view_node, nullptr,
     "The [`OstrevaneNode`] cursor for this view's node: a metadata-bearing handle\n"
     "exposing comments, source location, style, anchor, and tag.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char kViewDoc[] =
    "A live proxy onto a nested node of a [`OstrevaneDocument`], addressed by path.";

PyType_Slot g_view_slots[] = {
    {Py_tp_doc, const_cast<char*>(kViewDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&cursor_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(&view_repr)},
    {Py_mp_subscript, reinterpret_cast<void*>(&view_subscript)},
    {Py_mp_ass_subscript, reinterpret_cast<void*>(&view_ass_subscript)},
    {Py_mp_length, reinterpret_cast<void*>(&view_length)},
    {Py_sq_contains, reinterpret_cast<void*>(&view_contains)},
    {Py_tp_methods, g_view_methods},
    {Py_tp_getset, g_view_getsets},
    {0, nullptr},
};

// No tp_new: instances come only from item access, with their cursor.
PyType_Spec g_view_spec = {
    "_ostrevane.OstrevaneDocumentView",
    static_cast<int>(sizeof(ViewObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    g_view_slots,
};

OnceCell<PyObject> g_view_type;

}  // namespace

PyResult<PyTypeObject*> document_view_type_object() {
  return lazy_type_object(g_view_type, g_view_spec, "OstrevaneDocumentView");
}

PyResult<PyRef> new_view_object(CursorData cursor) {
  PyTypeObject* type = OSV_TRY(document_view_type_object());
  return new_cursor_object(type, std::move(cursor));
}

PyResult<bool> is_document_view(PyObject* obj) {
  PyTypeObject* type = OSV_TRY(document_view_type_object());
  return Py_TYPE(obj) == type || PyType_IsSubtype(Py_TYPE(obj), type);
}

PyResult<PyRef> view_values_for_writer(PyObject* view, std::string_view subject) {
  // The check runs under the borrows of to_dict; no Python code runs
  // between it and the call below, so to_dict converts the tree it checked.
  OSV_TRY(read_view(view, view_borrow("to_dict"),
                    [&](DocumentReader& reader, const YamlNode& node) -> PyResult<void> {
                      Result<void, ExpansionLimitError> bounded =
                          check_alias_expansion(reader.root(), node, subject);
                      if (!bounded) {
                        return std::unexpected(
                            PyError::builtin(PyExc_ValueError, std::move(bounded.error().message)));
                      }
                      return {};
                    }));
  return checked(PyObject_CallMethod(view, "to_dict", nullptr));
}

}  // namespace ostrevane::ffi
