// The position and value members of OstrevaneNode: line, column, offsets,
// range and file; value (read and replaced), cursor[key] and `in`, tag,
// style, the provenance of configuration directives, and an alias's target.
//
// Positions are the node's own as composed; a node built from an assigned
// value carries the all-zero position. Children are found by key text,
// never by Python equality, so no Python code runs while reading. An alias
// is read through the definition it reads (anchor_search.hpp), as its value
// shows it.
#include <optional>
#include <string_view>
#include <utility>

#include "directives/expand.hpp"
#include "ffi/document/borrow_rules.hpp"
#include "ffi/document/editing.hpp"
#include "ffi/document/node.hpp"
#include "roundtrip/document/anchor_search.hpp"
#include "roundtrip/document/node_facts.hpp"

namespace ostrevane::ffi {
namespace {

PyResult<PyRef> checked(PyObject* obj) {
  if (obj == nullptr) return std::unexpected(PyError::fetch());
  return PyRef::steal(obj);
}

PyResult<PyRef> number(unsigned long long value) {
  return checked(PyLong_FromUnsignedLongLong(value));
}

PyResult<PyRef> boolean(bool value) { return PyRef::borrow(value ? Py_True : Py_False); }

PyResult<PyRef> text_or_none(std::optional<std::string_view> text) {
  if (!text) return PyRef::borrow(Py_None);
  return checked(
      PyUnicode_DecodeUTF8(text->data(), static_cast<Py_ssize_t>(text->size()), "replace"));
}

// The place whose children cursor[key] and `in` look at: the node itself,
// or, for an alias, the definition it reads (the alias itself when it reads
// none).
struct Base {
  NodePath path;
  const YamlNode* node;
};

Base base_of(const HeldNode& held, const YamlNode& node) {
  if (node.kind() == NodeKind::Alias) {
    if (std::optional<NodePath> path = find_anchor_path(*held.root(), node.text(), node)) {
      const YamlNode* definition = held.resolve(*path);
      return {std::move(*path), definition};
    }
  }
  return {held.path().clone(), &node};
}

// ---------------------------------------------------------------------------
// Slots.

PyObject* node_value(PyObject* self, void*) {
  return node_property(self, node_borrow("value"), [](HeldNode& held, const YamlNode& node) {
    return held.reader().to_py(node);
  });
}

int node_set_value(PyObject* self, PyObject* value, void*) {
  return guarded_status([&]() -> PyResult<void> {
    OSV_TRY(refuse_delete(value));
    OSV_TRY(refuse_document_objects(value));
    return edit_node(self, node_borrow("value="), [&](HeldNode& held) -> PyResult<void> {
      if (held.find() == nullptr) return std::unexpected(stale_node());
      YamlNode fresh = OSV_TRY(py_to_node(value, to_node_settings(held.data())));
      // Found again: the conversion ran Python code, though the exclusive
      // borrow kept the tree as it was.
      YamlNode* target = held.find_for_edit();
      if (target == nullptr) return std::unexpected(stale_node());
      OSV_TRY(
          refuse_replacement(*held.root(), *target, fresh,
                             resolve_holders(held.data().roots, held.cursor().root, held.path())));
      const std::uint32_t blanks = closing_blank_lines(*target);
      // A root keeps its directives and markers: its tag may use a %TAG
      // handle, which would be undefined without them.
      replace_node(*target, std::move(fresh),
                   held.path().empty() ? CarryOver::Root : CarryOver::Place);
      drop_contradicted_tag(*target, held.data().resolver_mode);
      std::size_t index = 0;
      if (YamlNode* parent =
              resolve_parent_for_edit(held.data().roots, held.cursor().root, held.path(), index)) {
        settle_lines(*parent, index, blanks);
      }
      return {};
    });
  });
}

PyObject* node_line(PyObject* self, void*) {
  return node_property(self, node_borrow("line"), [](HeldNode&, const YamlNode& node) {
    return number(node.span.line + 1ull);
  });
}

PyObject* node_column(PyObject* self, void*) {
  return node_property(self, node_borrow("column"), [](HeldNode&, const YamlNode& node) {
    return number(node.span.column + 1ull);
  });
}

PyObject* node_offset(PyObject* self, void*) {
  return node_property(self, node_borrow("offset"),
                       [](HeldNode&, const YamlNode& node) { return number(node.span.offset); });
}

PyObject* node_end_offset(PyObject* self, void*) {
  return node_property(self, node_borrow("end_offset"),
                       [](HeldNode&, const YamlNode& node) { return number(node.end_offset); });
}

PyObject* node_range(PyObject* self, PyObject*) {
  return node_property(self, node_borrow("range"),
                       [](HeldNode&, const YamlNode& node) { return node_position_tuple(node); });
}

PyObject* node_file(PyObject* self, void*) {
  return node_property(self, node_borrow("file"),
                       [](HeldNode& held, const YamlNode& node) -> PyResult<PyRef> {
                         const std::vector<std::string>& paths = held.data().file_paths;
                         if (node.span.file_id >= paths.size()) return PyRef::borrow(Py_None);
                         return checked(path_to_str(paths[node.span.file_id]));
                       });
}

PyObject* node_tag(PyObject* self, void*) {
  return node_property(self, node_borrow("tag"), [](HeldNode&, const YamlNode& node) {
    const std::optional<std::string>& tag = node.tag();
    return text_or_none(tag ? std::optional<std::string_view>(*tag) : std::nullopt);
  });
}

PyObject* node_style(PyObject* self, void*) {
  return node_property(self, node_borrow("style"), [](HeldNode&, const YamlNode& node) {
    return text_or_none(node_style_name(node));
  });
}

PyObject* node_source_tag_py(PyObject* self, void*) {
  return node_property(self, node_borrow("source_tag"), [](HeldNode&, const YamlNode& node) {
    return text_or_none(node_source_tag(node));
  });
}

PyObject* node_source_target(PyObject* self, void*) {
  return node_property(self, node_borrow("source_target"), [](HeldNode&, const YamlNode& node) {
    const std::optional<IncludeSource>& source = node.source();
    return text_or_none(source ? std::optional<std::string_view>(source->target) : std::nullopt);
  });
}

PyObject* node_is_secret(PyObject* self, void*) {
  return node_property(self, node_borrow("is_secret"), [](HeldNode&, const YamlNode& node) {
    return boolean(node_source_tag(node) == "!secret");
  });
}

PyObject* node_is_env_var(PyObject* self, void*) {
  return node_property(self, node_borrow("is_env_var"), [](HeldNode&, const YamlNode& node) {
    return boolean(node_source_tag(node) == "!env_var");
  });
}

PyObject* node_is_include(PyObject* self, void*) {
  return node_property(self, node_borrow("is_include"), [](HeldNode&, const YamlNode& node) {
    const std::optional<std::string_view> tag = node_source_tag(node);
    return boolean(tag && is_include_tag(std::string(*tag)));
  });
}

PyObject* node_target(PyObject* self, void*) {
  return node_property(
      self, node_borrow("target"), [](HeldNode& held, const YamlNode& node) -> PyResult<PyRef> {
        if (node.kind() != NodeKind::Alias) return PyRef::borrow(Py_None);
        std::optional<NodePath> path = find_anchor_path(*held.root(), node.text(), node);
        if (!path) return PyRef::borrow(Py_None);
        return held.new_cursor(std::move(*path));
      });
}

PyMethodDef g_value_methods[] = {
    {"range", reinterpret_cast<PyCFunction>(&node_range), METH_NOARGS,
     "range($self)\n--\n\n"
     "The node's 1-based source range `(start_line, start_col, end_line, end_col)`."},
};

PyGetSetDef g_value_getsets[] = {
    {"value", &node_value, &node_set_value,
     "The resolved plain-Python value of this node (scalar, dict, or list).\n\n"
     "Replace this node's value, preserving its comments, anchor, and tag.",
     nullptr},
    {"line", &node_line, nullptr, "The node's 1-based source line.", nullptr},
    {"column", &node_column, nullptr, "The node's 1-based source column.", nullptr},
    {"offset", &node_offset, nullptr,
     "The 0-based byte offset of the node's first source character.", nullptr},
    {"end_offset", &node_end_offset, nullptr,
     "The 0-based byte offset just past the node's last source character.", nullptr},
    {"file", &node_file, nullptr,
     "The path of the source file this node came from, or `None` when the\n"
     "document was loaded without includes (there is a single source).",
     nullptr},
    {"tag", &node_tag, nullptr, "The node's explicit tag (e.g. `!!str`, `!custom`), or `None`.",
     nullptr},
    {"style", &node_style, nullptr,
     "The node's style: `plain`, `single`, `double`, `literal` or `folded` for a\n"
     "scalar, `block` or `flow` for a collection, else `alias` or `null`.",
     nullptr},
    {"source_tag", &node_source_tag_py, nullptr,
     "The directive tag this node's value came from (`!include`, `!secret`,\n"
     "`!env_var`, ...), or its own custom tag; `None` otherwise.",
     nullptr},
    {"source_target", &node_source_target, nullptr,
     "The argument of the directive this node's value came from, or `None`.\n\n"
     "Together with `source_tag` it rebuilds the directive that produced the node.",
     nullptr},
    {"is_secret", &node_is_secret, nullptr,
     "Whether this node's value was produced by a `!secret` directive.", nullptr},
    {"is_env_var", &node_is_env_var, nullptr,
     "Whether this node's value was produced by an `!env_var` directive.", nullptr},
    {"is_include", &node_is_include, nullptr,
     "Whether this node's value was produced by any `!include` directive.", nullptr},
    {"target", &node_target, nullptr,
     "For an alias, the cursor of the node that defines its anchor; else `None`.", nullptr},
};

}  // namespace

PyObject* node_subscript(PyObject* self, PyObject* key) {
  return guarded_call([&] {
    return read_node(self, node_borrow("__getitem__"),
                     [&](HeldNode& held, const YamlNode& node) -> PyResult<PyRef> {
                       Base base = base_of(held, node);
                       if (base.node == nullptr) return std::unexpected(stale_node());
                       PathSegment step = OSV_TRY(extract_path_segment(key));
                       if (node_child(*base.node, step) == nullptr) {
                         return std::unexpected(index_or_key_error(base.node->kind(), key));
                       }
                       return held.new_cursor(base.path.extended(std::move(step)));
                     });
  });
}

int node_contains(PyObject* self, PyObject* key) {
  return guarded_predicate([&] {
    return read_node(self, node_borrow("__contains__"),
                     [&](HeldNode& held, const YamlNode& node) -> PyResult<bool> {
                       const Base base = base_of(held, node);
                       if (base.node == nullptr) return std::unexpected(stale_node());
                       const std::optional<std::string_view> text = str_text(key);
                       return text && mapping_has_text_key(*base.node, *text);
                     });
  });
}

std::span<const PyGetSetDef> node_value_getsets() noexcept { return g_value_getsets; }

std::span<const PyMethodDef> node_value_methods() noexcept { return g_value_methods; }

}  // namespace ostrevane::ffi
