// Duplicate-key passes over node trees.
#include <charconv>
#include <cstddef>
#include <deque>
#include <unordered_set>

#include "roundtrip/passes/passes.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane {

namespace {

const std::string* tag_of(const YamlNode& node) noexcept { return node.read_tag(); }

void append_decimal(std::string& out, std::uint64_t n) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, n);
  out.append(buf, r.ptr);
}

void append_resolved_key(std::string& out, std::string_view text, bool plain, OptionalTag tag,
                         ResolverMode mode) {
  append_canonical_key(out, resolve_plain_scalar(mode, text, plain, tag));
}

// The text that names a key in the messages: a scalar's own text, else the
// kind and contents of the key.
void append_key_name(std::string& out, const YamlNode& node) {
  switch (node.kind()) {
    case NodeKind::Scalar:
      out.append(node.text());
      return;
    case NodeKind::Alias:
      out.append("Alias(\"").append(node.text()).append("\")");
      return;
    case NodeKind::Null:
      out.append("Null");
      return;
    case NodeKind::Sequence: {
      out.append("Sequence([");
      const char* sep = "";
      for (const YamlNode& item : node.items()) {
        out.append(sep);
        sep = ", ";
        with_stack_guard([&] { append_key_name(out, item); });
      }
      out.append("])");
      return;
    }
    case NodeKind::Mapping: {
      out.append("Mapping([");
      const char* sep = "";
      for (std::size_t i = 0; i < node.pair_count(); ++i) {
        out.append(sep).append("(");
        sep = ", ";
        with_stack_guard([&] {
          append_key_name(out, node.key(i));
          out.append(", ");
          append_key_name(out, node.value(i));
        });
        out.append(")");
      }
      out.append("])");
      return;
    }
  }
}

// One walk over the trees. With `warnings` null the first repeat ends it
// (`error`); otherwise every repeat is appended there.
class DuplicateKeyWalk {
 public:
  DuplicateKeyWalk(ResolverMode mode, std::vector<std::string>* warnings)
      : mode_(mode), warnings_(warnings) {}

  // False once the walk must stop.
  bool walk(const YamlNode& node, std::size_t depth) {
    if (node.kind() == NodeKind::Sequence) {
      for (const YamlNode& item : node.items()) {
        if (!child(item, depth)) return false;
      }
      return true;
    }
    if (node.kind() == NodeKind::Mapping) return mapping(node, depth);
    return true;
  }

  std::optional<DecodeError> error;

 private:
  bool child(const YamlNode& node, std::size_t depth) {
    if (!node.is_collection()) return true;
    return with_stack_guard([&] { return walk(node, depth + 1); });
  }

  // The keys of a depth; a deque keeps the deeper levels' growth from
  // moving them.
  MappingKeys& keys(std::size_t depth) {
    while (keys_.size() <= depth) keys_.emplace_back();
    return keys_[depth];
  }

  bool mapping(const YamlNode& node, std::size_t depth) {
    MappingKeys& keys = this->keys(depth);
    keys.build(node, mode_);
    for (std::size_t i = 0; i < node.pair_count(); ++i) {
      if (keys.repeats_earlier(i) && !report(node.key(i))) return false;
      if (!child(node.key(i), depth) || !child(node.value(i), depth)) return false;
    }
    return true;
  }

  // False when the walk stops at this repeat.
  bool report(const YamlNode& key) {
    std::string name;
    append_key_name(name, key);
    if (warnings_ == nullptr) {
      error.emplace(DecodeError{"duplicate mapping key: " + name, key.span,
                                DecodeErrorCategory::DuplicateKey});
      return false;
    }
    std::string text = "duplicate mapping key '";
    text += name;
    text += "' at line ";
    append_decimal(text, std::uint64_t{key.span.line} + 1);
    text += ", column ";
    append_decimal(text, std::uint64_t{key.span.column} + 1);
    text += "; keeping the last value";
    warnings_->push_back(std::move(text));
    return true;
  }

  ResolverMode mode_;
  std::vector<std::string>* warnings_;
  std::deque<MappingKeys> keys_;
};

}  // namespace

bool is_merge_key(const YamlNode& key) noexcept {
  if (const std::string* tag = tag_of(key)) {
    return *tag == "!!merge" || *tag == "tag:yaml.org,2002:merge";
  }
  return key.kind() == NodeKind::Scalar && key.scalar_style() == ScalarStyle::Plain &&
         key.text() == "<<";
}

bool is_decoded_merge_key(const YamlNode& key, ResolverMode mode) noexcept {
  if (key.kind() != NodeKind::Scalar && key.kind() != NodeKind::Null) return false;
  const std::string* tag = tag_of(key);
  const bool scalar = key.kind() == NodeKind::Scalar;
  return resolve_scalar_kind(mode, scalar ? key.text() : std::string_view(),
                             !scalar || key.scalar_style() == ScalarStyle::Plain,
                             tag ? OptionalTag(*tag) : std::nullopt)
             .kind == ResolvedScalar::Kind::Merge;
}

void append_node_canonical_key(std::string& out, const YamlNode& node, ResolverMode mode) {
  switch (node.kind()) {
    case NodeKind::Scalar: {
      const std::string* tag = tag_of(node);
      append_resolved_key(out, node.text(), node.scalar_style() == ScalarStyle::Plain,
                          tag ? OptionalTag(*tag) : std::nullopt, mode);
      return;
    }
    case NodeKind::Null:
      // A tagged empty node means what its empty text means under the tag
      // ("!!str" gives ""), as the conversions read it.
      if (const std::string* tag = tag_of(node)) {
        append_resolved_key(out, std::string_view(), true, *tag, mode);
      } else {
        out += "null";
      }
      return;
    case NodeKind::Alias:
      out += "alias:";
      append_decimal(out, node.text().size());
      out += ':';
      out.append(node.text());
      return;
    case NodeKind::Sequence: {
      out += "seq:[";
      const char* sep = "";
      for (const YamlNode& item : node.items()) {
        out += sep;
        sep = ",";
        with_stack_guard([&] { append_node_canonical_key(out, item, mode); });
      }
      out += ']';
      return;
    }
    case NodeKind::Mapping: {
      out += "map:{";
      const char* sep = "";
      for (std::size_t i = 0; i < node.pair_count(); ++i) {
        out += sep;
        sep = ",";
        with_stack_guard([&] {
          append_node_canonical_key(out, node.key(i), mode);
          out += '=';
          append_node_canonical_key(out, node.value(i), mode);
        });
      }
      out += '}';
      return;
    }
  }
}

void MappingKeys::build(const YamlNode& mapping, ResolverMode mode, bool decoded_merges) {
  const std::size_t pairs = mapping.pair_count();
  keys_.clear();
  ends_.clear();
  merge_.assign(pairs, false);
  for (std::size_t i = 0; i < pairs; ++i) {
    if (decoded_merges ? is_decoded_merge_key(mapping.key(i), mode)
                       : is_merge_key(mapping.key(i))) {
      merge_[i] = true;
    } else {
      append_node_canonical_key(keys_, mapping.key(i), mode);
    }
    ends_.push_back(keys_.size());
  }
  hashed_ = pairs > kLinearKeyCompare;
  if (hashed_) seen_.clear();
}

std::string_view MappingKeys::text(std::size_t i) const noexcept {
  const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
  return std::string_view(keys_).substr(begin, ends_[i] - begin);
}

bool MappingKeys::repeats_earlier(std::size_t i) {
  if (merge_[i]) return false;
  const std::string_view key = text(i);
  if (hashed_) return !seen_.insert(key).second;
  for (std::size_t j = 0; j < i; ++j) {
    if (!merge_[j] && text(j) == key) return true;
  }
  return false;
}

bool MappingKeys::any_repeat() {
  for (std::size_t i = 0; i < ends_.size(); ++i) {
    if (repeats_earlier(i)) return true;
  }
  return false;
}

std::optional<DecodeError> find_first_duplicate_key(std::span<const YamlNode> roots,
                                                    ResolverMode mode) {
  DuplicateKeyWalk walk(mode, nullptr);
  for (const YamlNode& root : roots) {
    if (!with_stack_guard([&] { return walk.walk(root, 0); })) break;
  }
  return std::move(walk.error);
}

void collect_duplicate_key_warnings(std::span<const YamlNode> roots, ResolverMode mode,
                                    std::vector<std::string>& warnings) {
  DuplicateKeyWalk walk(mode, &warnings);
  for (const YamlNode& root : roots) {
    with_stack_guard([&] { return walk.walk(root, 0); });
  }
}

}  // namespace ostrevane
