#include "ffi/document/tree_node.hpp"

#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "ffi/convert/node_to_py.hpp"
#include "ffi/entry_guard.hpp"
#include "ffi/tag.hpp"
#include "roundtrip/comment_rules.hpp"
#include "roundtrip/document/node_facts.hpp"
#include "roundtrip/passes/passes.hpp"
#include "roundtrip/tree_snapshot.hpp"
#include "util/once_cell.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane::ffi {
namespace {

// The optional texts, allocated only for the nodes that have one: most
// nodes of a large document carry no tag, anchor or comment.
struct SnapshotTexts {
  std::optional<std::string> tag;
  std::optional<std::string> anchor;
  std::optional<std::string> comment;
  std::optional<std::string> comment_before;
  std::optional<std::string> comment_after;
};

struct TreeNodeObject {
  PyObject_HEAD PyObject* value;         // owned, never NULL
  std::string_view kind;                 // static text
  std::string_view style;                // static text
  std::unique_ptr<SnapshotTexts> texts;  // nullptr: every text absent
  bool is_merge_key;
};

// The texts of `node` as its snapshot shows them; nullptr when all are absent.
std::unique_ptr<SnapshotTexts> snapshot_texts(const YamlNode& node,
                                              std::optional<std::string> comment_before) {
  if (!comment_before && node.extras() == nullptr && node.comments.texts() == nullptr) {
    return nullptr;
  }
  auto texts = std::make_unique<SnapshotTexts>();
  texts->tag = node.tag();
  texts->anchor = node.anchor();
  texts->comment = node.comments.inline_comment();
  texts->comment_before = std::move(comment_before);
  texts->comment_after = joined_foot_comment(node);
  return texts;
}

TreeNodeObject* as_tree_node(PyObject* self) noexcept {
  return reinterpret_cast<TreeNodeObject*>(self);
}

PyResult<PyRef> checked(PyObject* obj) {
  if (obj == nullptr) return std::unexpected(PyError::fetch());
  return PyRef::steal(obj);
}

PyResult<PyRef> static_text_to_py(std::string_view text) {
  return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// ---------------------------------------------------------------------------
// The traversal.

class SnapshotBuilder {
 public:
  explicit SnapshotBuilder(const DocumentData& data)
      : settings_{data.resolver_mode, data.timestamps} {}

  PyResult<PyRef> build_guarded(const YamlNode& node, std::optional<std::string> comment_before,
                                bool is_item) {
    return with_stack_guard([&] { return build(node, std::move(comment_before), is_item); });
  }

 private:
  PyResult<PyRef> build(const YamlNode& node, std::optional<std::string> comment_before,
                        bool is_item);
  PyResult<PyRef> sequence_value(const YamlNode& node);
  PyResult<PyRef> mapping_value(const YamlNode& node, bool is_item);

  // Scalars resolve without aliases to follow, exactly as to_dict does.
  NodeToPySettings settings_;
};

PyResult<PyRef> SnapshotBuilder::sequence_value(const YamlNode& node) {
  const std::span<const YamlNode> items = node.items();
  PyRef tuple = OSV_TRY(checked(PyTuple_New(static_cast<Py_ssize_t>(items.size()))));
  for (std::size_t i = 0; i < items.size(); ++i) {
    PyRef child = OSV_TRY(build_guarded(items[i], item_comment_before(items[i]), true));
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), child.release());
  }
  return tuple;
}

PyResult<PyRef> SnapshotBuilder::mapping_value(const YamlNode& node, bool is_item) {
  const std::size_t pairs = node.pair_count();
  PyRef tuple = OSV_TRY(checked(PyTuple_New(static_cast<Py_ssize_t>(pairs))));
  for (std::size_t i = 0; i < pairs; ++i) {
    const YamlNode& key = node.key(i);
    PyRef key_snapshot = OSV_TRY(
        build_guarded(key, join_comment_lines(key.comments.head(), CommentSelection::All), false));
    PyRef value_snapshot =
        OSV_TRY(build_guarded(node.value(i), pair_value_comment_before(node, i, is_item), false));
    PyObject* pair = PyTuple_New(2);
    if (pair == nullptr) return std::unexpected(PyError::fetch());
    PyTuple_SET_ITEM(pair, 0, key_snapshot.release());
    PyTuple_SET_ITEM(pair, 1, value_snapshot.release());
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), pair);
  }
  return tuple;
}

PyResult<PyRef> SnapshotBuilder::build(const YamlNode& node,
                                       std::optional<std::string> comment_before, bool is_item) {
  PyRef value;
  switch (node.kind()) {
    case NodeKind::Sequence:
      value = OSV_TRY(sequence_value(node));
      break;
    case NodeKind::Mapping:
      value = OSV_TRY(mapping_value(node, is_item));
      break;
    case NodeKind::Alias:
      value = OSV_TRY(checked(PyUnicode_DecodeUTF8(
          node.text().data(), static_cast<Py_ssize_t>(node.text().size()), "replace")));
      break;
    case NodeKind::Scalar:
    case NodeKind::Null:
      value = OSV_TRY(node_to_py(node, node, settings_));
      break;
  }
  std::unique_ptr<SnapshotTexts> texts = snapshot_texts(node, std::move(comment_before));
  PyTypeObject* type = OSV_TRY(tree_node_type_object());
  PyObject* self = OSV_TRY(alloc_instance(type));
  TreeNodeObject* obj = as_tree_node(self);
  obj->value = value.release();
  new (&obj->kind) std::string_view(snapshot_kind_name(node));
  new (&obj->style) std::string_view(node_style_name(node));
  new (&obj->texts) std::unique_ptr<SnapshotTexts>(std::move(texts));
  obj->is_merge_key = is_merge_key(node);
  return PyRef::steal(self);
}

// ---------------------------------------------------------------------------
// The class.

// Runs with the lock held, as every deallocation does, so the value is
// released at once.
void tree_node_dealloc(PyObject* self) noexcept {
  TreeNodeObject* obj = as_tree_node(self);
  Py_CLEAR(obj->value);
  obj->texts.~unique_ptr();
  free_instance(self);
}

PyObject* get_kind(PyObject* self, void*) {
  return guarded_call([&] { return static_text_to_py(as_tree_node(self)->kind); });
}

PyObject* get_value(PyObject* self, void*) {
  return guarded_call(
      [&]() -> PyResult<PyRef> { return PyRef::borrow(as_tree_node(self)->value); });
}

PyObject* get_style(PyObject* self, void*) {
  return guarded_call([&] { return static_text_to_py(as_tree_node(self)->style); });
}

template <std::optional<std::string> SnapshotTexts::*Field>
PyObject* get_text(PyObject* self, void*) {
  return guarded_call([&]() -> PyResult<PyRef> {
    const SnapshotTexts* texts = as_tree_node(self)->texts.get();
    if (texts == nullptr) return PyRef::borrow(Py_None);
    return optional_text_to_py(texts->*Field);
  });
}

PyObject* get_is_merge_key(PyObject* self, void*) {
  return guarded_call([&]() -> PyResult<PyRef> {
    return PyRef::borrow(as_tree_node(self)->is_merge_key ? Py_True : Py_False);
  });
}

PyGetSetDef g_tree_node_getset[] = {
    {"kind", &get_kind, nullptr, nullptr, nullptr},
    {"value", &get_value, nullptr, nullptr, nullptr},
    {"style", &get_style, nullptr, nullptr, nullptr},
    {"tag", &get_text<&SnapshotTexts::tag>, nullptr, nullptr, nullptr},
    {"anchor", &get_text<&SnapshotTexts::anchor>, nullptr, nullptr, nullptr},
    {"comment", &get_text<&SnapshotTexts::comment>, nullptr, nullptr, nullptr},
    {"comment_before", &get_text<&SnapshotTexts::comment_before>, nullptr, nullptr, nullptr},
    {"comment_after", &get_text<&SnapshotTexts::comment_after>, nullptr, nullptr, nullptr},
    {"is_merge_key", &get_is_merge_key, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char kTreeNodeDoc[] =
    "An owned node snapshot. Collections contain child snapshots rather than\n"
    "live cursors, so walking a wide mapping never repeats root/path searches.\n"
    "Scalar values are resolved by the same schema as `to_dict()`. Aliases and\n"
    "merge keys remain explicit, allowing the host to choose whether to expand.";

PyType_Slot g_tree_node_slots[] = {
    {Py_tp_doc, const_cast<char*>(kTreeNodeDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&tree_node_dealloc)},
    {Py_tp_getset, g_tree_node_getset},
    {0, nullptr},
};

// No tp_new: instances come only from to_tree. Not garbage collected: a
// snapshot refers only to tuples of snapshots and to scalar values, never
// back to itself.
PyType_Spec g_tree_node_spec = {
    "ostrevane.OstrevaneTreeNode",
    static_cast<int>(sizeof(TreeNodeObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    g_tree_node_slots,
};

OnceCell<PyObject> g_tree_node_type;

}  // namespace

PyResult<PyTypeObject*> tree_node_type_object() {
  return lazy_type_object(g_tree_node_type, g_tree_node_spec, "OstrevaneTreeNode");
}

PyResult<PyRef> document_tree(const DocumentData& data) {
  if (data.roots.size() > 1) {
    return std::unexpected(PyError::builtin(
        PyExc_ValueError, "to_tree() requires one document; use loads_all(option=OPT_ROUND_TRIP)"));
  }
  if (data.roots.empty()) return PyRef::borrow(Py_None);
  const YamlNode& root = data.roots.front();
  SnapshotBuilder builder(data);
  return builder.build_guarded(
      root, join_comment_lines(root.comments.head(), CommentSelection::All), false);
}

}  // namespace ostrevane::ffi
