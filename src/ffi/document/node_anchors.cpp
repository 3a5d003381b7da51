// The anchor members of OstrevaneNode: anchor (read and set), is_alias,
// aliases, make_alias(name) and detach().
//
// Every name is read as the text reads it: an alias reads the nearest
// definition of its name complete before it, in its own file
// (anchor_search.hpp). The editing members keep the written text loadable
// and run every check before their first change, so a refused edit leaves
// the document as it was: names the reader would not give back, a name
// another node defines, an anchor on an alias, an alias with no definition
// before it, and a removed anchor that aliases still read are refused
// (roundtrip/document/anchor_edit.hpp, roundtrip/edit.hpp). A node a
// directive produced is named by the anchor on the directive's line (its
// place anchor, roundtrip/anchors.hpp), read and set there, in the file
// holding the directive; an anchor set where no file holds the node (in
// what a secret, a variable or a directory include reads) is refused, since
// no text could carry it. detach()
// replaces an alias by a stand-alone copy of what it reads
// (roundtrip/detach_copy.hpp), refused whole past the copy limits.
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ffi/args.hpp"
#include "ffi/convert/encode.hpp"
#include "ffi/document/borrow_rules.hpp"
#include "ffi/document/editing.hpp"
#include "ffi/document/node.hpp"
#include "roundtrip/anchors.hpp"
#include "roundtrip/detach_copy.hpp"
#include "roundtrip/document/anchor_edit.hpp"
#include "roundtrip/document/anchor_search.hpp"
#include "util/limits.hpp"

namespace ostrevane::ffi {
namespace {

PyError value_error(std::string message) {
  return PyError::builtin(PyExc_ValueError, std::move(message));
}

// `format` with its two "{}" placeholders filled, in order, by the name and
// the refused character, each quoted by the message literal rules.
std::string invalid_name_message(std::string_view format, std::string_view name,
                                 std::string_view character) {
  std::string message;
  const std::size_t first = format.find("{}");
  const std::size_t second = format.find("{}", first + 2);
  message += format.substr(0, first);
  append_message_literal(message, name, '"');
  message += format.substr(first + 2, second - first - 2);
  append_message_literal(message, character, '\'');
  message += format.substr(second + 2);
  return message;
}

PyResult<void> check_anchor_name(std::string_view name) {
  const Result<void, AnchorNameError> checked = validate_anchor_name(name);
  if (checked) return {};
  const AnchorNameError& error = checked.error();
  switch (error.fault) {
    case AnchorNameFault::Empty:
      return std::unexpected(value_error(std::string(kEmptyAnchorNameMessage)));
    case AnchorNameFault::Separator:
      return std::unexpected(
          value_error(invalid_name_message(kAnchorSeparatorMessage, name, error.character)));
    case AnchorNameFault::ControlCharacter:
      break;
  }
  return std::unexpected(
      value_error(invalid_name_message(kAnchorControlMessage, name, error.character)));
}

// A message of the form "...'{}'..." with the name as given.
std::string with_name(std::string_view before, std::string_view name, std::string_view after) {
  std::string message(before);
  message += name;
  message += after;
  return message;
}

// ---------------------------------------------------------------------------
// anchor

PyObject* node_anchor(PyObject* self, void*) {
  return node_property(self, node_borrow("anchor"),
                       [](HeldNode&, const YamlNode& node) -> PyResult<PyRef> {
                         const std::string* anchor = place_anchor(node);
                         if (anchor == nullptr) return PyRef::borrow(Py_None);
                         PyObject* text = PyUnicode_DecodeUTF8(
                             anchor->data(), static_cast<Py_ssize_t>(anchor->size()), "replace");
                         if (text == nullptr) return std::unexpected(PyError::fetch());
                         return PyRef::steal(text);
                       });
}

PyResult<void> set_anchor(HeldNode& held, std::optional<std::string_view> name) {
  if (name) {
    OSV_TRY(check_anchor_name(*name));
    // Unique: the document can never write two definitions of one name.
    const YamlNode* root = held.root();
    if (root != nullptr) {
      if (const std::optional<std::string> tag = unwritten_content_tag(*root, held.path())) {
        return std::unexpected(value_error(unwritable_anchor_message(*name, *tag)));
      }
      if (const std::optional<NodePath> other = find_anchor_path(*root, *name)) {
        if (held.resolve(*other) != held.find()) {
          return std::unexpected(
              value_error(with_name("anchor name '", *name, "' is already used by another node")));
        }
      }
    }
  }
  YamlNode* node = held.find_for_edit();
  if (node == nullptr) return std::unexpected(stale_node());
  // "&y *x" does not load.
  if (name && node->kind() == NodeKind::Alias) {
    return std::unexpected(value_error("an alias node cannot have an anchor"));
  }
  const std::string* old = place_anchor(*node);
  if (old != nullptr && (!name || *old != *name)) {
    // Aliases that read the old name must find another definition of it.
    const Removal removal{node, false, true};
    OSV_TRY(refuse_stranding(*held.root(), std::span(&removal, 1)));
  }
  // A directive's anchor is written on its line, in the file holding it:
  // that file changes, not the one the directive reads.
  set_place_anchor(*node, name ? std::optional<std::string>(*name) : std::nullopt);
  if (node->source()) {
    node->edit_extras().source->directive_modified = true;
  } else {
    node->comments.modified = true;
  }
  return {};
}

int node_set_anchor(PyObject* self, PyObject* value, void*) {
  return guarded_status([&]() -> PyResult<void> {
    OSV_TRY(refuse_delete(value));
    const std::optional<std::string> name = OSV_TRY(text_or_none_argument(value, "name"));
    return edit_node(self, node_borrow("anchor="), [&](HeldNode& held) {
      return set_anchor(held, name ? std::optional<std::string_view>(*name) : std::nullopt);
    });
  });
}

// ---------------------------------------------------------------------------
// is_alias, aliases

PyObject* node_is_alias(PyObject* self, void*) {
  return node_property(self, node_borrow("is_alias"),
                       [](HeldNode&, const YamlNode& node) -> PyResult<PyRef> {
                         return PyRef::borrow(node.kind() == NodeKind::Alias ? Py_True : Py_False);
                       });
}

PyObject* node_aliases(PyObject* self, void*) {
  return node_property(self, node_borrow("aliases"),
                       [](HeldNode& held, const YamlNode& node) -> PyResult<PyRef> {
                         std::vector<NodePath> paths = collect_alias_paths(*held.root(), node);
                         PyRef list = PyRef::steal(PyList_New(0));
                         if (!list) return std::unexpected(PyError::fetch());
                         for (NodePath& path : paths) {
                           PyRef cursor = OSV_TRY(held.new_cursor(std::move(path)));
                           if (PyList_Append(list.get(), cursor.get()) != 0) {
                             return std::unexpected(PyError::fetch());
                           }
                         }
                         return list;
                       });
}

// ---------------------------------------------------------------------------
// make_alias

PyResult<void> make_alias(HeldNode& held, std::string_view name) {
  const YamlNode* root = held.root();
  const YamlNode* place = held.find();
  const std::optional<AliasPlaceFault> fault =
      root != nullptr ? alias_place_fault(*root, place, name) : AliasPlaceFault::NoAnchor;
  if (fault) {
    switch (*fault) {
      case AliasPlaceFault::NoAnchor:
        return std::unexpected(
            value_error(with_name("no anchor '&", name, "' is defined in this document")));
      case AliasPlaceFault::Cycle:
        return std::unexpected(value_error(with_name(
            "anchor '&", name, "' contains the alias that would reference it, which is a cycle")));
      case AliasPlaceFault::NotBefore:
        return std::unexpected(value_error(
            with_name("anchor '&", name, "' must be defined before the alias that references it")));
    }
  }
  if (place == nullptr) return std::unexpected(stale_node());
  // The node's content goes, and with it every definition it holds.
  const Removal removal{place, false};
  OSV_TRY(refuse_stranding(*root, std::span(&removal, 1)));
  // A merge that reads the place reads what the alias names.
  if (const std::optional<NodePath> definition = find_anchor_path(*root, name, *place)) {
    if (const YamlNode* content = held.resolve(*definition)) {
      OSV_TRY(
          refuse_unmergeable(*root, *place, *content,
                             resolve_holders(held.data().roots, held.cursor().root, held.path())));
    }
  }
  YamlNode* node = held.find_for_edit();
  // The alias stands where the node's place is written (a directive's
  // node lies in the file the directive reads).
  node->span.file_id = place_file(*node);
  node->set_alias(std::string(name));
  // What described the content goes with it: an anchor or a tag on an
  // alias does not load, a directive source would be written in the
  // alias's place, and kept block text belongs to the scalar.
  node->set_anchor(std::nullopt);
  node->set_tag(std::nullopt);
  node->set_source(std::nullopt);
  if (node->comments.raw()) node->comments.edit_raw().reset();
  node->comments.modified = true;
  return {};
}

PyObject* node_make_alias(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded_call([&]() -> PyResult<PyRef> {
    static const char* keywords[] = {"name", nullptr};
    PyObject* name = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:make_alias", const_cast<char**>(keywords),
                                     &name)) {
      return std::unexpected(PyError::fetch());
    }
    const std::string text = OSV_TRY(text_argument(name, "name"));
    OSV_TRY(edit_node(self, node_borrow("make_alias"),
                      [&](HeldNode& held) { return make_alias(held, text); }));
    return PyRef::borrow(Py_None);
  });
}

// ---------------------------------------------------------------------------
// detach

PyResult<PyRef> detach(HeldNode& held) {
  const YamlNode* node = held.find();
  if (node == nullptr) return std::unexpected(stale_node());
  if (node->kind() != NodeKind::Alias) {
    return std::unexpected(
        PyError::builtin(PyExc_TypeError, "detach() is only valid on an alias node"));
  }
  YamlNode copy;
  {
    const AnchorIndex index(*held.root());
    const YamlNode* target = index.target(*node);
    if (target == nullptr) {
      return std::unexpected(
          key_error(with_name("alias *", node->text(), " has no anchor to detach")));
    }
    AliasBudget budget = AliasBudget::for_node_trees();
    Result<YamlNode, DetachLimit> copied = clone_for_detach_guarded(*target, index, 0, budget);
    if (!copied) return std::unexpected(value_error(detach_limit_message(copied.error())));
    copy = std::move(*copied);
    keep_alias_comments(*node, copy);
    // The copy is written where the alias stood, and read as that file.
    adopt_into_file(copy, node->span.file_id);
  }
  // A copy that is a directive changes the file it stands in, not the
  // content the directive reads.
  if (copy.source()) {
    copy.edit_extras().source->directive_modified = true;
  } else {
    copy.comments.modified = true;
  }
  *held.find_for_edit() = std::move(copy);
  return held.new_cursor(held.path().clone());
}

PyObject* node_detach(PyObject* self, PyObject*) {
  return guarded_call([&] { return edit_node(self, node_borrow("detach"), detach); });
}

PyGetSetDef g_anchor_getsets[] = {
    {"anchor", &node_anchor, &node_set_anchor,
     "The node's anchor name (`&name`), or `None`.\n\n"
     "Set it to name the node; the name must be unique in the document, so that\n"
     "it never writes two definitions of one name. `None` removes the anchor.",
     nullptr},
    {"is_alias", &node_is_alias, nullptr, "Whether this node is an alias (`*name`).", nullptr},
    {"aliases", &node_aliases, nullptr,
     "The cursors of the aliases that refer to this node's anchor, in document\n"
     "order; empty for a node without an anchor.",
     nullptr},
};

PyMethodDef g_anchor_methods[] = {
    {"make_alias", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&node_make_alias)),
     METH_VARARGS | METH_KEYWORDS,
     "make_alias($self, name)\n--\n\n"
     "Turn this node into an alias `*name`, replacing its current value.\n\n"
     "The anchor must be defined earlier in the document, so that no dangling or\n"
     "forward reference can arise; mark the target with `anchor` first."},
    {"detach", reinterpret_cast<PyCFunction>(&node_detach), METH_NOARGS,
     "detach($self)\n--\n\n"
     "Replace this alias with a copy of the node it refers to.\n\n"
     "The copy carries the anchored node's styles and comments but no anchor of its\n"
     "own, and aliases inside it are expanded, so editing it no longer affects the\n"
     "anchored node. Raises if this node is not an alias."},
};

}  // namespace

std::span<const PyGetSetDef> node_anchor_getsets() noexcept { return g_anchor_getsets; }

std::span<const PyMethodDef> node_anchor_methods() noexcept { return g_anchor_methods; }

}  // namespace ostrevane::ffi
