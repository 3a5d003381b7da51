// Default scalar nodes and collection nodes of the represent road.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "emit_util/scalar_text.hpp"
#include "encode/detail/number_text.hpp"
#include "encode/detail/stable_sort.hpp"
#include "ffi/represent/represent.hpp"
#include "resolver/timestamp.hpp"
#include "roundtrip/passes/passes.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane::ffi {
namespace {

constexpr std::string_view kCoreTagPrefix = "tag:yaml.org,2002:";

YamlNode value_to_node(const Representer& r, const Value& value, bool context) {
  switch (value.kind()) {
    case ValueKind::Null:
      return new_node(YamlNode::null());
    case ValueKind::Bool:
      return new_node(YamlNode::scalar(value.as_bool() ? "true" : "false"));
    case ValueKind::Int: {
      char digits[24];
      const auto end = std::to_chars(digits, digits + sizeof digits, value.as_int()).ptr;
      return new_node(YamlNode::scalar(std::string(digits, end)));
    }
    case ValueKind::BigInt:
      return new_node(YamlNode::scalar(ostrevane::detail::big_int_decimal(value)));
    case ValueKind::Float:
      return new_node(YamlNode::scalar(format_float(value.as_float())));
    case ValueKind::String: {
      const std::string_view text = value.text();
      ScalarStyle style = choose_scalar_style(text, r.double_quotes, r.mode);
      if (style == ScalarStyle::Literal && context) style = ScalarStyle::DoubleQuoted;
      return new_node(YamlNode::scalar(std::string(text), style));
    }
    case ValueKind::Timestamp:
      return new_node(YamlNode::scalar(format_timestamp(value.as_timestamp())));
    case ValueKind::Sequence: {
      NodeList items;
      items.reserve(value.items().size());
      for (const Value& item : value.items()) {
        items.push_back(with_stack_guard([&] { return value_to_node(r, item, context); }));
      }
      return new_node(YamlNode::sequence(std::move(items)));
    }
    case ValueKind::Mapping: {
      NodeList keys_and_values;
      keys_and_values.reserve(2 * value.pairs().size());
      for (const ValuePair& pair : value.pairs()) {
        keys_and_values.push_back(
            with_stack_guard([&] { return value_to_node(r, pair.key, context); }));
        keys_and_values.push_back(
            with_stack_guard([&] { return value_to_node(r, pair.value, context); }));
      }
      return new_node(YamlNode::mapping(std::move(keys_and_values)));
    }
    case ValueKind::Tagged: {
      YamlNode node = with_stack_guard([&] { return value_to_node(r, value.inner(), context); });
      node.set_tag(std::string(value.tag()));
      return node;
    }
  }
  return new_node(YamlNode::null());
}

// ---------------------------------------------------------------------------
// Key order under OPT_SORT_KEYS.

enum class SortKind : std::uint8_t { Null = 0, Bool = 1, Number = 2, Text = 3, Other = 4 };

struct SortEntry {
  SortKind kind = SortKind::Other;
  bool is_int = false;  // Number: an Int (else a Float)
  bool flag = false;    // Bool
  std::int64_t int_value = 0;
  double float_value = 0;
  std::string text;          // Text
  std::size_t position = 0;  // Other: the pair's input position
  std::pair<PyRef, PyRef>* pair = nullptr;
};

// The float an int key outside 64 bits sorts by: its decimal digits read as
// a double (an infinity when huge), NaN when they cannot be had.
double big_int_key(PyObject* key) {
  PyRef as_int = PyRef::steal(PyObject_CallOneArg(reinterpret_cast<PyObject*>(&PyLong_Type), key));
  PyRef text = as_int ? PyRef::steal(PyObject_Str(as_int.get())) : PyRef();
  const char* digits = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
  if (digits == nullptr) {
    PyErr_Clear();
    return std::numeric_limits<double>::quiet_NaN();
  }
  char* end = nullptr;
  const double value = std::strtod(digits, &end);
  if (end == digits || *end != '\0') return std::numeric_limits<double>::quiet_NaN();
  return value;
}

void compute_sort_key(SortEntry& e, PyObject* key) {
  if (key == Py_None) {
    e.kind = SortKind::Null;
    return;
  }
  if (PyBool_Check(key)) {
    e.kind = SortKind::Bool;
    e.flag = key == Py_True;
    return;
  }
  if (PyLong_Check(key)) {
    const long value = PyLong_AsLong(key);
    e.kind = SortKind::Number;
    if (value != -1 || !PyErr_Occurred()) {
      e.is_int = true;
      e.int_value = value;
    } else {
      PyErr_Clear();
      e.float_value = big_int_key(key);
    }
    return;
  }
  if (PyFloat_Check(key)) {
    const double value = PyFloat_AsDouble(key);
    if (value != -1.0 || !PyErr_Occurred()) {
      e.kind = SortKind::Number;
      e.float_value = value;
      return;
    }
    PyErr_Clear();
  }
  if (PyUnicode_Check(key)) {
    Py_ssize_t len = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(key, &len)) {
      e.kind = SortKind::Text;
      e.text.assign(utf8, static_cast<std::size_t>(len));
      return;
    }
    PyErr_Clear();
  }
  if (PyBytes_Check(key)) {
    const std::string_view bytes(PyBytes_AS_STRING(key),
                                 static_cast<std::size_t>(PyBytes_GET_SIZE(key)));
    PyRef decoded = PyRef::steal(
        PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "strict"));
    if (decoded) {
      e.kind = SortKind::Text;
      e.text.assign(bytes);
      return;
    }
    PyErr_Clear();
  }
  e.kind = SortKind::Other;
}

// The IEEE 754 total order as a signed integer order.
std::int64_t total_order_key(double value) noexcept {
  const auto bits = std::bit_cast<std::int64_t>(value);
  return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

bool repr_key_less(const SortEntry& a, const SortEntry& b) noexcept {
  if (a.kind != b.kind) return a.kind < b.kind;
  switch (a.kind) {
    case SortKind::Null:
      return false;
    case SortKind::Bool:
      return !a.flag && b.flag;
    case SortKind::Number:
      if (a.is_int && b.is_int) return a.int_value < b.int_value;
      return total_order_key(a.is_int ? static_cast<double>(a.int_value) : a.float_value) <
             total_order_key(b.is_int ? static_cast<double>(b.int_value) : b.float_value);
    case SortKind::Text:
      return a.text < b.text;
    case SortKind::Other:
      return a.position < b.position;
  }
  return false;
}

void sort_pairs(OwnedPairs& pairs) {
  std::vector<SortEntry> entries(pairs.size());
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    entries[i].position = i;
    entries[i].pair = &pairs[i];
    compute_sort_key(entries[i], pairs[i].first.get());
  }
  std::vector<const SortEntry*> order(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) order[i] = &entries[i];
  ostrevane::detail::stable_sort_items(
      std::span<const SortEntry*>(order),
      [](const SortEntry* a, const SortEntry* b) { return repr_key_less(*a, *b); });
  OwnedPairs sorted;
  sorted.reserve(pairs.size());
  for (const SortEntry* e : order) sorted.push_back(std::move(*e->pair));
  pairs = std::move(sorted);
}

// Flow or block: a descriptor's override, else flow for keys and under
// OPT_FLOW_STYLE; always flow inside a flow collection.
bool flow_decision(const Representer& r, std::optional<bool> flow, bool in_flow, bool is_key) {
  if (in_flow) return true;
  if (flow) return *flow;
  return is_key || r.flow_style;
}

CollectionStyle style_of(bool flow) {
  return flow ? CollectionStyle::Flow : CollectionStyle::Block;
}

}  // namespace

ScalarStyle choose_scalar_style(std::string_view text, bool double_quotes,
                                ResolverMode mode) noexcept {
  if (suits_literal_block(text)) return ScalarStyle::Literal;
  return choose_assigned_style(text, double_quotes, mode);
}

YamlNode value_to_node_guarded(const Representer& r, Value value, bool context) {
  const ValueKind kind = value.kind();
  // Scalars, the common case, cannot go deeper.
  const bool nested =
      kind == ValueKind::Sequence || kind == ValueKind::Mapping || kind == ValueKind::Tagged;
  YamlNode node = nested ? with_stack_guard([&] { return value_to_node(r, value, context); })
                         : value_to_node(r, value, context);
  drop_value_iterative(std::move(value));
  return node;
}

PyResult<std::optional<std::string>> shorten_tag(std::optional<std::string> tag) {
  if (!tag) return tag;
  if (tag->starts_with(kCoreTagPrefix)) tag->replace(0, kCoreTagPrefix.size(), "!!");
  OSV_TRY(validate_dump_tag(*tag));
  return written_dump_tag(*tag);
}

PyResult<YamlNode> represent_sequence(Representer& r, OwnedItems items, std::uint32_t depth,
                                      std::optional<std::string> tag, std::optional<bool> flow,
                                      bool in_flow, bool is_key) {
  tag = OSV_TRY(shorten_tag(std::move(tag)));
  const bool as_flow = flow_decision(r, flow, in_flow, is_key);
  NodeList nodes;
  nodes.reserve(items.size());
  for (PyRef& item : items) {
    nodes.push_back(OSV_TRY(represent_object(r, item.get(), depth + 1, as_flow, false)));
    if (nodes.size() == 1 && !as_flow) OSV_TRY(check_first_item_comments(nodes.front()));
  }
  YamlNode node = new_node(YamlNode::sequence(std::move(nodes), style_of(as_flow)));
  if (tag) node.set_tag(std::move(tag));
  return node;
}

PyResult<YamlNode> represent_mapping(Representer& r, OwnedPairs pairs, std::uint32_t depth,
                                     std::optional<std::string> tag, std::optional<bool> flow,
                                     bool in_flow, bool is_key) {
  tag = OSV_TRY(shorten_tag(std::move(tag)));
  const bool as_flow = flow_decision(r, flow, in_flow, is_key);
  if (r.sort_keys) sort_pairs(pairs);
  NodeList nodes;
  nodes.reserve(2 * pairs.size());
  for (auto& [key, value] : pairs) {
    YamlNode key_node = OSV_TRY(represent_object(r, key.get(), depth + 1, as_flow, true));
    OSV_TRY(check_key_comments(key_node));
    YamlNode value_node = OSV_TRY(represent_object(r, value.get(), depth + 1, as_flow, false));
    move_value_head_to_key(key_node, value_node);
    nodes.push_back(std::move(key_node));
    nodes.push_back(std::move(value_node));
  }
  YamlNode node = new_node(YamlNode::mapping(std::move(nodes), style_of(as_flow)));
  if (tag) node.set_tag(std::move(tag));
  return node;
}

}  // namespace ostrevane::ffi
