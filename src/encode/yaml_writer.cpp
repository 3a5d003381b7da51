// The YAML value writer: one pass over a Value tree into one buffer.
#include <bit>
#include <cstring>
#include <span>
#include <vector>

#include "emit_util/plain_safety.hpp"
#include "emit_util/scalar_text.hpp"
#include "encode/detail/number_text.hpp"
#include "encode/detail/stable_sort.hpp"
#include "encode/writer.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane {

namespace {

// Sort groups of `value_key_less`: null, bool, numbers, texts, the rest.
int key_group(ValueKind kind) noexcept {
  switch (kind) {
    case ValueKind::Null:
      return 0;
    case ValueKind::Bool:
      return 1;
    case ValueKind::Int:
    case ValueKind::BigInt:
    case ValueKind::Float:
      return 2;
    case ValueKind::String:
    case ValueKind::Timestamp:
      return 3;
    default:
      return 4;
  }
}

// IEEE 754 total order as a signed integer key: -NaN < -inf < ... < -0.0 <
// 0.0 < ... < inf < NaN.
std::int64_t total_order_key(double d) noexcept {
  auto bits = std::bit_cast<std::int64_t>(d);
  return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

// The sort_keys order. Not a strict weak order (numbers of different kinds
// meet as doubles), hence the sort of detail/stable_sort.hpp.
bool value_key_less(const Value& a, const Value& b) noexcept {
  const int ga = key_group(a.kind());
  const int gb = key_group(b.kind());
  if (ga != gb) return ga < gb;
  switch (ga) {
    case 1:
      return a.kind() == ValueKind::Bool && b.kind() == ValueKind::Bool && !a.as_bool() &&
             b.as_bool();
    case 2:
      if (a.kind() == ValueKind::Int && b.kind() == ValueKind::Int) return a.as_int() < b.as_int();
      return total_order_key(value_as_f64(a)) < total_order_key(value_as_f64(b));
    case 3:
      if (a.kind() == ValueKind::String && b.kind() == ValueKind::String)
        return a.text() < b.text();
      return false;
    default:
      return false;
  }
}

// Sequence, Mapping and Tagged: the kinds whose writing recurses.
bool is_nested(const Value& v) noexcept { return v.kind() >= ValueKind::Sequence; }

bool is_non_empty_sequence(const Value& v) noexcept {
  return v.kind() == ValueKind::Sequence && !v.items().empty();
}
bool is_non_empty_mapping(const Value& v) noexcept {
  return v.kind() == ValueKind::Mapping && !v.pairs().empty();
}

class ValueWriter {
 public:
  ValueWriter(OutputBuffer& out, const WriterOptions& options)
      : out_(out), o_(options), step_(options.indent == 0 ? 1 : options.indent) {}

  void document(const Value& root) {
    if (o_.explicit_start) out_.append("---\n");
    if (root.kind() == ValueKind::String && suits_literal_block(root.text())) {
      write_block_header(out_, root.text(), '|');
      write_literal_body(out_, root.text(), step_);
    } else if (is_non_empty_sequence(root) && !o_.flow_style) {
      block_sequence(root.items(), 0);
    } else if (is_non_empty_mapping(root) && !o_.flow_style) {
      block_mapping(root.pairs(), 0);
    } else if (root.kind() == ValueKind::Tagged) {
      out_.append(root.tag());
      block_value_guarded(root.inner(), 0);
    } else {
      flow_value(root, false);
      out_.push_back('\n');
    }
    if (o_.explicit_end) out_.append("...\n");
  }

 private:
  // ---- the current line (only needed when wrapping or folding)

  std::size_t line_start() noexcept {
    if (scanned_ < out_.size()) {
      const void* lf = memrchr(out_.data() + scanned_, '\n', out_.size() - scanned_);
      if (lf != nullptr) line_start_ = static_cast<const char*>(lf) - out_.data() + 1;
      scanned_ = out_.size();
    }
    return line_start_;
  }
  std::size_t line_length() noexcept { return out_.size() - line_start(); }
  std::size_t line_indentation() noexcept {
    const std::size_t start = line_start();
    std::size_t i = start;
    while (i < out_.size() && out_[i] == ' ') ++i;
    return i - start;
  }

  // ---- recursion: every step into a collection or tagged value goes
  // through the stack guard; scalars end the recursion and need none.

  void flow_value_guarded(const Value& v, bool in_flow) {
    if (!is_nested(v)) return flow_value(v, in_flow);
    with_stack_guard([&] { flow_value(v, in_flow); });
  }
  void block_value_guarded(const Value& v, std::size_t c) {
    if (!is_nested(v)) return block_value(v, c);
    with_stack_guard([&] { block_value(v, c); });
  }
  void block_sequence_guarded(const ValueList& items, std::size_t a) {
    with_stack_guard([&] { block_sequence(items, a); });
  }
  void block_mapping_guarded(const ValuePairList& pairs, std::size_t c) {
    with_stack_guard([&] { block_mapping(pairs, c); });
  }

  // A mapping key: nothing inside it wraps or folds.
  void key(const Value& k, bool in_flow) {
    const bool saved = in_flow_key_;
    in_flow_key_ = true;
    flow_value_guarded(k, in_flow);
    in_flow_key_ = saved;
  }

  // A key in the simple form, or, when it is longer than readers take
  // there, after "? " (then true: a block key's ":" goes on a line of its
  // own).
  bool simple_or_explicit_key(const Value& k, bool in_flow) {
    const std::size_t start = out_.size();
    key(k, in_flow);
    if (fits_implicit_key(out_.size() - start)) return false;
    out_.truncate(start);
    out_.append("? ");
    key(k, in_flow);
    return true;
  }

  // Calls f(pair, index) in the order of `sorted_pairs`.
  template <class F>
  void for_each_pair(const ValuePairList& pairs, F&& f) {
    if (!o_.sort_keys || pairs.size() < 2) {
      for (std::size_t i = 0; i < pairs.size(); ++i) f(pairs[i], i);
      return;
    }
    std::vector<const ValuePair*> order(pairs.size());
    for (std::size_t i = 0; i < pairs.size(); ++i) order[i] = &pairs[i];
    detail::stable_sort_items(
        std::span<const ValuePair*>(order),
        [](const ValuePair* a, const ValuePair* b) { return value_key_less(a->key, b->key); });
    for (std::size_t i = 0; i < order.size(); ++i) f(*order[i], i);
  }

  // ---- block context

  void block_value(const Value& v, std::size_t c) {
    switch (v.kind()) {
      case ValueKind::Null:
        if (o_.null_style == NullStyle::Default) {
          out_.push_back('\n');
          return;
        }
        break;
      case ValueKind::String:
        if (suits_literal_block(v.text())) {
          out_.append(" ");
          write_block_header(out_, v.text(), '|');
          write_literal_body(out_, v.text(), c + step_);
          return;
        }
        break;
      case ValueKind::Sequence:
        if (!v.items().empty() && !o_.flow_style) {
          out_.push_back('\n');
          block_sequence_guarded(v.items(), o_.indentless_sequences ? c : c + step_);
          return;
        }
        break;
      case ValueKind::Mapping:
        if (!v.pairs().empty() && !o_.flow_style) {
          out_.push_back('\n');
          block_mapping_guarded(v.pairs(), c + step_);
          return;
        }
        break;
      case ValueKind::Tagged:
        out_.push_back(' ');
        out_.append(v.tag());
        // After a tag, a block sequence is always indented: an indentless
        // one would start at its key's column on the tag's node.
        if (is_non_empty_sequence(v.inner()) && !o_.flow_style) {
          out_.push_back('\n');
          block_sequence_guarded(v.inner().items(), c + step_);
        } else {
          block_value_guarded(v.inner(), c);
        }
        return;
      default:
        break;
    }
    out_.push_back(' ');
    flow_value(v, false);
    out_.push_back('\n');
  }

  void block_mapping(const ValuePairList& pairs, std::size_t c) {
    for_each_pair(pairs, [&](const ValuePair& p, std::size_t i) {
      append_spaces(out_, c);
      mapping_entry(p.key, p.value, c, i != 0);
    });
  }

  void mapping_entry(const Value& k, const Value& v, std::size_t c, bool not_first) {
    if (not_first && k.kind() == ValueKind::Tagged) {
      out_.append("? ");
      key(k, false);
      out_.push_back('\n');
      append_spaces(out_, c);
    } else if (simple_or_explicit_key(k, false)) {
      out_.push_back('\n');
      append_spaces(out_, c);
    }
    out_.push_back(':');
    block_value_guarded(v, c);
  }

  void block_sequence(const ValueList& items, std::size_t a) {
    for (const Value& item : items) {
      append_spaces(out_, a);
      out_.push_back('-');
      switch (item.kind()) {
        case ValueKind::Null:
          if (o_.null_style == NullStyle::Default) {
            out_.push_back('\n');
            continue;
          }
          break;
        case ValueKind::String:
          if (suits_literal_block(item.text())) {
            out_.push_back(' ');
            write_block_header(out_, item.text(), '|');
            write_literal_body(out_, item.text(), a + 2);
            continue;
          }
          break;
        case ValueKind::Sequence:
          if (!item.items().empty() && !o_.flow_style) {
            out_.push_back('\n');
            block_sequence_guarded(item.items(), a + 2);
            continue;
          }
          break;
        case ValueKind::Mapping:
          if (!item.pairs().empty() && !o_.flow_style) {
            out_.push_back(' ');
            with_stack_guard([&] {
              for_each_pair(item.pairs(), [&](const ValuePair& p, std::size_t i) {
                if (i != 0) append_spaces(out_, a + 2);
                mapping_entry(p.key, p.value, a + 2, i != 0);
              });
            });
            continue;
          }
          break;
        case ValueKind::Tagged:
          out_.push_back(' ');
          out_.append(item.tag());
          if (is_non_empty_sequence(item.inner()) && !o_.flow_style) {
            out_.push_back('\n');
            block_sequence_guarded(item.inner().items(), a + 2);
          } else {
            block_value_guarded(item.inner(), a);
          }
          continue;
        default:
          break;
      }
      out_.push_back(' ');
      flow_value(item, false);
      out_.push_back('\n');
    }
  }

  // ---- flow context

  void flow_value(const Value& v, bool in_flow) {
    switch (v.kind()) {
      case ValueKind::Null:
        out_.append(o_.null_style == NullStyle::Tilde ? "~" : "null");
        return;
      case ValueKind::Bool:
        out_.append(v.as_bool() ? "true" : "false");
        return;
      case ValueKind::Int:
        detail::append_int(out_, v.as_int());
        return;
      case ValueKind::BigInt:
        detail::append_big_int_decimal(out_, v);
        return;
      case ValueKind::Float:
        append_float(out_, v.as_float());
        return;
      case ValueKind::String:
        string_scalar(v.text(), in_flow);
        return;
      case ValueKind::Timestamp: {
        const std::string text = format_timestamp(v.as_timestamp());
        string_scalar(text, in_flow);
        return;
      }
      case ValueKind::Sequence: {
        out_.push_back('[');
        const std::size_t b = continuation_indent();
        bool first = true;
        for (const Value& item : v.items()) {
          if (!first) flow_separator(b);
          first = false;
          flow_value_guarded(item, true);
        }
        out_.push_back(']');
        return;
      }
      case ValueKind::Mapping: {
        out_.push_back('{');
        const std::size_t b = continuation_indent();
        for_each_pair(v.pairs(), [&](const ValuePair& p, std::size_t i) {
          if (i != 0) flow_separator(b);
          simple_or_explicit_key(p.key, true);
          out_.append(": ");
          flow_value_guarded(p.value, true);
        });
        out_.push_back('}');
        return;
      }
      case ValueKind::Tagged:
        out_.append(v.tag());
        out_.push_back(' ');
        flow_value_guarded(v.inner(), in_flow);
        return;
    }
  }

  // Where a wrapped flow collection continues: the current line's
  // indentation plus one step. Only wrapping uses it.
  std::size_t continuation_indent() noexcept {
    if (o_.width == 0 || in_flow_key_) return 0;
    return line_indentation() + step_;
  }

  void flow_separator(std::size_t b) {
    out_.push_back(',');
    if (o_.width == 0 || in_flow_key_ || line_length() < o_.width) {
      out_.push_back(' ');
      return;
    }
    out_.push_back('\n');
    append_spaces(out_, b);
  }

  static bool has_flow_indicator(std::string_view text) noexcept {
    return text.find_first_of(",[]{}") != std::string_view::npos;
  }

  void string_scalar(std::string_view text, bool in_flow) {
    if (text.empty()) {
      out_.append(o_.double_quotes ? "\"\"" : "''");
      return;
    }
    if (plain_needs_quotes(text, o_.mode) || (in_flow && has_flow_indicator(text))) {
      quoted(text);
      return;
    }
    if (o_.width != 0 && !in_flow_key_ && line_length() + text.size() > o_.width &&
        find_fold_space(text).found) {
      quoted(text);
      return;
    }
    out_.append(text);
  }

  void quoted(std::string_view text) {
    const bool single = !o_.double_quotes && text.find('\'') == std::string_view::npos &&
                        is_single_line_printable(text);
    if (o_.width == 0 || in_flow_key_) {
      if (single) {
        write_single_quoted(out_, text);
      } else {
        write_double_quoted(out_, text);
      }
      return;
    }
    write_folded_quoted(out_, text, single, line_length(), o_.width);
  }

  OutputBuffer& out_;
  const WriterOptions& o_;
  const std::size_t step_;
  bool in_flow_key_ = false;
  // Start of the current line, found lazily: bytes before `scanned_` were
  // already searched for a line feed.
  std::size_t line_start_ = 0;
  std::size_t scanned_ = 0;
};

}  // namespace

void write_yaml_document(OutputBuffer& out, const Value& root, const WriterOptions& options) {
  ValueWriter(out, options).document(root);
}

OutputBuffer write_yaml_document(const Value& root, const WriterOptions& options) {
  OutputBuffer out(kYamlOutputInitialCapacity);
  write_yaml_document(out, root, options);
  return out;
}

}  // namespace ostrevane
