// The JSON writer: a Value tree into one buffer.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "encode/detail/json_string.hpp"
#include "encode/detail/number_text.hpp"
#include "encode/detail/stable_sort.hpp"
#include "encode/writer.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane {

namespace {

constexpr std::size_t kGuardEvery = 8;

constexpr std::string_view kCollectionKeyMessage = "a collection cannot be a JSON object key";

// Per byte: 0 copy as is, 1 needs a look (controls, '"', '\\', and 0xE2,
// the lead byte of U+2028 and U+2029).
struct JsonByteClass {
  std::uint8_t at[256] = {};
  constexpr JsonByteClass() {
    for (int c = 0; c < 0x20; ++c) at[c] = 1;
    at[static_cast<unsigned char>('"')] = 1;
    at[static_cast<unsigned char>('\\')] = 1;
    at[0xE2] = 1;
  }
};
constexpr JsonByteClass kJsonByte;

constexpr char kHex[] = "0123456789abcdef";

const Value& untagged(const Value& v) noexcept {
  const Value* p = &v;
  while (p->kind() == ValueKind::Tagged) p = &p->inner();
  return *p;
}

bool is_collection(const Value& v) noexcept {
  return v.kind() == ValueKind::Sequence || v.kind() == ValueKind::Mapping;
}

// The key text of a scalar key: a view of the value's own text, or `scratch`.
std::string_view json_key_text(const Value& key, std::string& scratch) {
  switch (key.kind()) {
    case ValueKind::Null:
      return "null";
    case ValueKind::Bool:
      return key.as_bool() ? "true" : "false";
    case ValueKind::String:
      return key.text();
    case ValueKind::Int: {
      char buf[24];
      scratch.append(buf, static_cast<std::size_t>(
                              std::to_chars(buf, buf + sizeof buf, key.as_int()).ptr - buf));
      break;
    }
    case ValueKind::BigInt:
      scratch = detail::big_int_decimal(key);
      break;
    case ValueKind::Float:
      if (!std::isfinite(key.as_float())) return "null";
      scratch = format_float(key.as_float());
      break;
    case ValueKind::Timestamp:
      append_timestamp(scratch, key.as_timestamp());
      break;
    default:
      break;
  }
  return scratch;
}

struct JsonEntry {
  std::string_view key;
  const Value* value;
};

class JsonWriter {
 public:
  JsonWriter(OutputBuffer& out, const JsonOptions& options) : out_(out), o_(options) {}

  // Steps into collections measure the stack at every 8th level only, as
  // the decoder does: seven levels of these frames stay far below the
  // guard's threshold, and each measure is a thread-local lookup. A tagged
  // value keeps its depth, so a chain of tags is measured at every step.
  // Scalars end the recursion and need no measure.
  // Scalars are written right here, inlined into the collection loops, so
  // that only collections pay for a call of value().
  Result<void, JsonError> value_guarded(const Value& v, std::size_t depth) {
    if (v.kind() < ValueKind::Sequence) {
      scalar(v);
      return {};
    }
    if (v.kind() != ValueKind::Tagged && (depth & (kGuardEvery - 1)) != 0) return value(v, depth);
    return with_stack_guard([&] { return value(v, depth); });
  }

 private:
  void newline_indent(std::size_t depth) { out_.newline_and_spaces(o_.indent * depth); }

  void scalar(const Value& v) {
    switch (v.kind()) {
      case ValueKind::Null:
        out_.append("null");
        break;
      case ValueKind::Bool:
        out_.append(v.as_bool() ? "true" : "false");
        break;
      case ValueKind::Int:
        detail::append_int(out_, v.as_int());
        break;
      case ValueKind::BigInt:
        detail::append_big_int_decimal(out_, v);
        break;
      case ValueKind::Float:
        write_json_float(out_, v.as_float());
        break;
      case ValueKind::String:
        write_json_string(out_, v.text());
        break;
      case ValueKind::Timestamp: {
        write_json_string(out_, format_timestamp(v.as_timestamp()));
        break;
      }
      default:
        break;
    }
  }

  // `lead` then the value: the common scalars share the separator's
  // reservation.
  Result<void, JsonError> value_after(char lead, const Value& v, std::size_t depth) {
    switch (v.kind()) {
      case ValueKind::String:
        detail::put_json_string(out_, lead, v.text(), 0);
        return {};
      case ValueKind::Int: {
        constexpr std::size_t kMaxDigits = 20;  // sign and 19 digits
        char* p = out_.tail(kMaxDigits + 1);
        p[0] = lead;
        out_.commit(
            static_cast<std::size_t>(std::to_chars(p + 1, p + 1 + kMaxDigits, v.as_int()).ptr - p));
        return {};
      }
      default:
        out_.push_back(lead);
        return value_guarded(v, depth);
    }
  }

  Result<void, JsonError> value(const Value& v, std::size_t depth) {
    switch (v.kind()) {
      case ValueKind::Sequence:
        return sequence(v.items(), depth);
      case ValueKind::Mapping:
        return mapping(v.pairs(), depth);
      case ValueKind::Tagged:
        return value_guarded(v.inner(), depth);
      default:
        scalar(v);
        break;
    }
    return {};
  }

  Result<void, JsonError> sequence(const ValueList& items, std::size_t depth) {
    if (items.empty()) {
      out_.append("[]");
      return {};
    }
    if (o_.indent == 0) {
      // Compact: each item brings its separator ('[' or ',') along.
      char lead = '[';
      for (const Value& item : items) {
        if (auto r = value_after(lead, item, depth + 1); !r) return r;
        lead = ',';
      }
      out_.push_back(']');
      return {};
    }
    out_.push_back('[');
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i != 0) out_.push_back(',');
      if (o_.indent != 0) newline_indent(depth + 1);
      if (auto r = value_guarded(items[i], depth + 1); !r) return r;
    }
    if (o_.indent != 0) newline_indent(depth);
    out_.push_back(']');
    return {};
  }

  void entry_open(std::size_t i, std::size_t depth, std::string_view key) {
    if (i != 0) out_.push_back(',');
    if (o_.indent != 0) newline_indent(depth + 1);
    write_json_string(out_, key);
    if (o_.indent != 0) {
      out_.append(": ");
    } else {
      out_.push_back(':');
    }
  }

  Result<void, JsonError> mapping(const ValuePairList& pairs, std::size_t depth) {
    if (pairs.empty()) {
      out_.append("{}");
      return {};
    }
    // Refuse collection keys before anything of this mapping is written.
    for (const ValuePair& p : pairs) {
      if (is_collection(untagged(p.key))) {
        return std::unexpected(JsonError{std::string(kCollectionKeyMessage)});
      }
    }
    if (o_.indent == 0 && (!o_.sort_keys || pairs.size() < 2)) {
      // Compact and in order: the separator ('{' or ','), the key and ':'
      // go out together.
      char lead = '{';
      std::string scratch;
      for (const ValuePair& pair : pairs) {
        if (pair.key.kind() == ValueKind::String) [[likely]] {
          detail::put_json_string(out_, lead, pair.key.text(), ':');
        } else {
          scratch.clear();
          detail::put_json_string(out_, lead, json_key_text(untagged(pair.key), scratch), ':');
        }
        if (auto r = value_guarded(pair.value, depth + 1); !r) return r;
        lead = ',';
      }
      out_.push_back('}');
      return {};
    }
    out_.push_back('{');
    if (!o_.sort_keys || pairs.size() < 2) {
      std::string scratch;
      for (std::size_t i = 0; i < pairs.size(); ++i) {
        const Value& key = pairs[i].key;
        if (key.kind() == ValueKind::String) [[likely]] {
          entry_open(i, depth, key.text());
        } else {
          scratch.clear();
          entry_open(i, depth, json_key_text(untagged(key), scratch));
        }
        if (auto r = value_guarded(pairs[i].value, depth + 1); !r) return r;
      }
    } else {
      // Key texts that are not views of the tree live in `texts`, one
      // string per pair, reserved up front so views into them stay valid.
      std::vector<std::string> texts(pairs.size());
      std::vector<JsonEntry> entries(pairs.size());
      for (std::size_t i = 0; i < pairs.size(); ++i) {
        entries[i] = {json_key_text(untagged(pairs[i].key), texts[i]), &pairs[i].value};
      }
      detail::stable_sort_items(
          std::span<JsonEntry>(entries),
          [](const JsonEntry& a, const JsonEntry& b) { return a.key < b.key; });
      for (std::size_t i = 0; i < entries.size(); ++i) {
        entry_open(i, depth, entries[i].key);
        if (auto r = value_guarded(*entries[i].value, depth + 1); !r) return r;
      }
    }
    if (o_.indent != 0) newline_indent(depth);
    out_.push_back('}');
    return {};
  }

  OutputBuffer& out_;
  const JsonOptions& o_;
};

}  // namespace

void write_json_float(OutputBuffer& out, double value) {
  if ((std::bit_cast<std::uint64_t>(value) & 0x7FF0000000000000ULL) == 0x7FF0000000000000ULL) {
    out.append("null");
    return;
  }
  append_float(out, value);
}

void write_json_string(OutputBuffer& out, std::string_view text) {
  detail::put_json_string(out, 0, text, 0);
}

void detail::write_json_string_escaped(OutputBuffer& out, std::string_view text) {
  const auto* data = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  out.push_back('"');
  std::size_t run = 0;  // start of the bytes not yet copied
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char c = data[i];
    if (kJsonByte.at[c] == 0) continue;
    char esc[6] = {'\\', 0, 0, 0, 0, 0};
    std::size_t esc_len = 2;
    std::size_t consumed = 1;
    switch (c) {
      case '\b':
        esc[1] = 'b';
        break;
      case '\t':
        esc[1] = 't';
        break;
      case '\n':
        esc[1] = 'n';
        break;
      case '\f':
        esc[1] = 'f';
        break;
      case '\r':
        esc[1] = 'r';
        break;
      case '"':
        esc[1] = '"';
        break;
      case '\\':
        esc[1] = '\\';
        break;
      case 0xE2:
        // U+2028 and U+2029 (E2 80 A8 / E2 80 A9) end lines in JavaScript.
        if (i + 2 >= n || data[i + 1] != 0x80 || (data[i + 2] != 0xA8 && data[i + 2] != 0xA9)) {
          continue;
        }
        std::memcpy(esc + 1, data[i + 2] == 0xA8 ? "u2028" : "u2029", 5);
        esc_len = 6;
        consumed = 3;
        break;
      default:
        esc[1] = 'u', esc[2] = '0', esc[3] = '0', esc[4] = kHex[c >> 4], esc[5] = kHex[c & 15];
        esc_len = 6;
        break;
    }
    out.append(text.data() + run, i - run);
    out.append(esc, esc_len);
    i += consumed - 1;
    run = i + 1;
  }
  out.append(text.data() + run, n - run);
  out.push_back('"');
}

Result<std::string_view, JsonError> json_object_key_text(const Value& key, std::string& scratch) {
  const Value& bare = untagged(key);
  if (is_collection(bare)) return std::unexpected(JsonError{std::string(kCollectionKeyMessage)});
  return json_key_text(bare, scratch);
}

Result<void, JsonError> write_json_value_guarded(OutputBuffer& out, const Value& value,
                                                 const JsonOptions& options, std::size_t depth) {
  return JsonWriter(out, options).value_guarded(value, depth);
}

// The layout of JsonWriter::sequence at depth 0, a piece at a time.
void write_json_sequence_start(OutputBuffer& out) { out.push_back('['); }

Result<void, JsonError> write_json_sequence_item(OutputBuffer& out, const Value& item,
                                                 const JsonOptions& options, std::size_t index) {
  if (index != 0) out.push_back(',');
  if (options.indent != 0) {
    out.push_back('\n');
    out.append(options.indent, ' ');
  }
  return JsonWriter(out, options).value_guarded(item, 1);
}

void write_json_sequence_end(OutputBuffer& out, const JsonOptions& options) {
  if (options.indent != 0) out.push_back('\n');
  out.push_back(']');
}

}  // namespace ostrevane
