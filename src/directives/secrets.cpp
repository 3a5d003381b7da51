#include "directives/secrets.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "directives/file_access.hpp"
#include "directives/include_steps.hpp"
#include "directives/paths.hpp"
#include "resolver/resolver.hpp"
#include "roundtrip/alias_budget.hpp"
#include "roundtrip/anchors.hpp"
#include "roundtrip/composer/compose.hpp"
#include "util/limits.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane {
namespace {

constexpr std::string_view kSecretTag = "!secret";
constexpr std::string_view kSecretsFile = "secrets.yaml";
constexpr std::string_view kLoggerKey = "logger";

// Copies one stored value with its aliases replaced by copies of what they
// mean in their own file, and with no anchor left anywhere: the copy is
// used inside other files, whose anchors must neither capture it nor be
// captured by it. The bounds are those of every node-tree expansion; past
// them the file is refused rather than cut short.
class SecretValueCopier {
 public:
  explicit SecretValueCopier(const YamlNode& root) : index_(root) {}

  Result<YamlNode, std::string> copy(const YamlNode& node) { return guarded(node, 0); }

 private:
  Result<YamlNode, std::string> guarded(const YamlNode& node, std::uint32_t depth) {
    return with_stack_guard([&] { return copy_at(node, depth); });
  }

  Result<YamlNode, std::string> copy_at(const YamlNode& node, std::uint32_t depth) {
    if (!budget_.charge(node.kind() == NodeKind::Alias ? AliasCharge{1, 0} : node_charge(node))) {
      return std::unexpected("alias expansion in secrets.yaml exceeds the limit of " +
                             budget_.limit_text());
    }
    switch (node.kind()) {
      case NodeKind::Alias: {
        const YamlNode* target = index_.target(node);
        if (target == nullptr) {
          YamlNode null;
          place_at(null, node.span);
          return null;
        }
        if (depth >= limits::kNodeAliasDepth) {
          return std::unexpected("alias expansion in secrets.yaml exceeds the maximum depth of " +
                                 std::to_string(limits::kNodeAliasDepth));
        }
        return guarded(*target, depth + 1);
      }
      case NodeKind::Sequence:
      case NodeKind::Mapping: {
        NodeList children;
        children.reserve(node.children().size());
        for (const YamlNode& child : node.children()) {
          children.push_back(OSV_TRY(guarded(child, depth)));
        }
        YamlNode out = node.kind() == NodeKind::Sequence
                           ? YamlNode::sequence(std::move(children), node.style)
                           : YamlNode::mapping(std::move(children), node.style);
        out.span = node.span;
        out.end_offset = node.end_offset;
        out.end_line = node.end_line;
        out.end_column = node.end_column;
        out.comments = node.comments.clone();
        out.explicit_key = node.explicit_key;
        out.copy_tag_from(node);
        return out;
      }
      default: {
        YamlNode out = node.clone();
        out.set_anchor(std::nullopt);
        return out;
      }
    }
  }

  AnchorIndex index_;
  AliasBudget budget_ = AliasBudget::for_node_trees();
};

// An empty node, or a scalar that reads as null ("~", "null").
bool is_null_node(const YamlNode& node) noexcept {
  if (node.kind() == NodeKind::Null) return true;
  if (node.kind() != NodeKind::Scalar) return false;
  const std::string* tag = node.read_tag();
  const OptionalTag read = tag ? OptionalTag(*tag) : std::nullopt;
  return resolve_scalar_yaml12(node.text(), node.scalar_style() == ScalarStyle::Plain, read)
             .kind == ResolvedScalar::Kind::Null;
}

IncludeError secrets_file_error(std::string message, const std::string& candidate) {
  return make_include_error(IncludeErrorKind::Include, std::move(message), candidate, {});
}

// The secrets of one candidate; an empty map when it is absent, lies
// outside the include root or cannot be read as UTF-8 text.
Result<SecretMap, IncludeError> load_secrets_file(IncludeContext& ctx,
                                                  const std::string& candidate) {
  SecretMap secrets;
  Result<std::string, FileError> canonical = canonical_path(candidate);
  if (!canonical || !path_lies_under(*canonical, ctx.include_root)) return secrets;
  Result<std::string, FileError> text = ctx.read_confined(*canonical);
  if (!text) return secrets;
  const std::uint32_t id = ctx.register_source_file(candidate, std::move(*text));
  Result<NodeList, ScanError> documents = compose_file_documents(*ctx.file_texts[id], id);
  if (!documents) {
    return std::unexpected(
        secrets_file_error("invalid secrets.yaml: " + documents.error().message, candidate));
  }
  if (documents->empty()) return secrets;
  const YamlNode& root = documents->front();
  if (is_null_node(root)) return secrets;
  if (root.kind() != NodeKind::Mapping) {
    return std::unexpected(
        secrets_file_error("secrets.yaml does not contain a dictionary", candidate));
  }
  SecretValueCopier copier(root);
  for (std::size_t i = 0; i < root.pair_count(); ++i) {
    const YamlNode& key = root.key(i);
    const YamlNode& value = root.value(i);
    if (subtree_has_secret_tag(value)) {
      return std::unexpected(
          secrets_file_error("secrets not supported in a secrets.yaml file", candidate));
    }
    if (key.kind() != NodeKind::Scalar) continue;
    if (key.text() == kLoggerKey) {
      if (value.kind() != NodeKind::Scalar || !is_debug_value(value.text())) {
        ctx.warnings.emplace_back(
            "secrets.yaml: 'logger: debug' expected, but a different value was found");
      }
      continue;
    }
    Result<YamlNode, std::string> stored = copier.copy(value);
    if (!stored) return std::unexpected(secrets_file_error(std::move(stored.error()), candidate));
    secrets.insert_or_assign(std::string(key.text()), std::move(*stored));
  }
  return secrets;
}

// The directory the search starts in: that of the file holding the
// directive, else the include root.
std::string search_start(const IncludeContext& ctx, const std::string& file) {
  std::string dir;
  if (Result<std::string, FileError> canonical = canonical_path(file)) {
    if (parent_path(*canonical, dir)) return dir;
  }
  return ctx.include_root;
}

}  // namespace

Result<YamlNode, IncludeError> resolve_secret(IncludeContext& ctx, const YamlNode& node,
                                              const IncludeChain& chain) {
  const std::string_view name = node.kind() == NodeKind::Scalar ? node.text() : std::string_view();
  std::string file = ctx.source_file_name(node.span.file_id);
  if (!ctx.secrets_cache) ctx.secrets_cache = std::make_unique<SecretsCache>();
  auto& files = ctx.secrets_cache->files;

  std::vector<std::optional<std::string>>& starts = ctx.secrets_cache->start_dirs;
  const std::uint32_t file_id = node.span.file_id;
  if (starts.size() <= file_id) starts.resize(std::size_t{file_id} + 1);
  if (!starts[file_id]) starts[file_id] = search_start(ctx, file);
  std::string dir = *starts[file_id];
  while (path_lies_under(dir, ctx.include_root)) {
    const std::string candidate = join_path(dir, kSecretsFile);
    std::string key = path_key(candidate);
    auto cached = files.find(key);
    if (cached == files.end()) {
      SecretMap loaded = OSV_TRY(load_secrets_file(ctx, candidate));
      cached = files.emplace(std::move(key), std::move(loaded)).first;
    }
    if (const auto found = cached->second.find(name); found != cached->second.end()) {
      YamlNode value = found->second.clone();
      value.span = node.span;
      value.set_source(directive_source(std::string(kSecretTag), std::string(name)));
      return value;
    }
    std::string parent;
    if (paths_equal(dir, ctx.include_root) || !parent_path(dir, parent)) break;
    dir = std::move(parent);
  }

  if (!ctx.defer_missing_secrets) {
    return std::unexpected(
        make_include_error(IncludeErrorKind::SecretNotFound,
                           quoted_message("secret ", name, " is not defined in any secrets.yaml"),
                           std::move(file), chain, error_span(node.span)));
  }
  ctx.missing_secrets.push_back(
      MissingReference{std::string(name), std::move(file), node.span.line});
  // The null still records the directive, so that a document written back
  // keeps `!secret name` (and any anchor on it) rather than a bare null.
  YamlNode null;
  place_at(null, node.span);
  null.set_source(directive_source(std::string(kSecretTag), std::string(name)));
  return null;
}

bool subtree_has_secret_tag(const YamlNode& node) {
  std::vector<const YamlNode*> stack{&node};
  while (!stack.empty()) {
    const YamlNode* current = stack.back();
    stack.pop_back();
    if (const std::optional<std::string>& tag = current->tag(); tag && *tag == kSecretTag) {
      return true;
    }
    push_children(*current, stack);
  }
  return false;
}

bool is_debug_value(std::string_view text) noexcept {
  constexpr std::string_view kDebug = "debug";
  if (text.size() != kDebug.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != kDebug[i]) return false;
  }
  return true;
}

}  // namespace ostrevane
