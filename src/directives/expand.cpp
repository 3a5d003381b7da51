#include "directives/expand.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <iterator>
#include <string>
#include <utility>

#include "directives/include_dir.hpp"
#include "directives/include_steps.hpp"
#include "directives/paths.hpp"
#include "directives/secrets.hpp"
#include "roundtrip/composer/compose.hpp"
#include "scanner/input_decode.hpp"
#include "scanner/yaml_directive.hpp"
#include "util/limits.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane {
namespace {

constexpr std::string_view kIncludeTag = "!include";
constexpr std::string_view kEnvVarTag = "!env_var";
constexpr std::string_view kSecretTag = "!secret";
constexpr std::array<std::string_view, 4> kIncludeDirTags = {
    "!include_dir_list", "!include_dir_named", "!include_dir_merge_list",
    "!include_dir_merge_named"};

// The words of `text`, split at runs of Unicode white space.
std::vector<std::string_view> split_words(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t ws = white_space_length(text.substr(i));
    if (ws == 0) {
      ++i;  // no white-space encoding starts with a continuation byte
      continue;
    }
    if (i > start) words.push_back(text.substr(start, i - start));
    i += ws;
    start = i;
  }
  if (i > start) words.push_back(text.substr(start, i - start));
  return words;
}

// The value of an environment variable, or nothing when it is unset, not
// UTF-8, or its name cannot be asked for (a NUL or "=" in it).
std::optional<std::string_view> environment_value(std::string_view name) {
  if (name.find('\0') != std::string_view::npos || name.find('=') != std::string_view::npos) {
    return std::nullopt;
  }
  const std::string owned(name);
  const char* value = std::getenv(owned.c_str());
  if (value == nullptr) return std::nullopt;
  const std::string_view text(value);
  if (!validate_utf8(text)) return std::nullopt;
  return text;
}

class Expander {
 public:
  explicit Expander(IncludeContext& ctx) : ctx_(ctx) {}

  Result<YamlNode, IncludeError> guarded(YamlNode node, const IncludeChain& chain) {
    return with_stack_guard([&] { return expand(std::move(node), chain); });
  }

 private:
  Result<YamlNode, IncludeError> expand(YamlNode node, const IncludeChain& chain);
  Result<YamlNode, IncludeError> env_var(const YamlNode& node, const IncludeChain& chain);
  Result<YamlNode, IncludeError> include(const YamlNode& node, const IncludeChain& chain);
  Result<YamlNode, IncludeError> expand_include_dir(std::size_t form, const YamlNode& node,
                                                    const IncludeChain& chain) {
    switch (form) {
      case 0:
        return expand_include_dir_list(ctx_, node, chain);
      case 1:
        return expand_include_dir_named(ctx_, node, chain);
      case 2:
        return expand_include_dir_merge_list(ctx_, node, chain);
      default:
        return expand_include_dir_merge_named(ctx_, node, chain);
    }
  }

  // A child needs the walk only when it is a collection or carries a tag.
  static bool needs_walk(const YamlNode& node) noexcept {
    return node.is_collection() || node.tag().has_value();
  }

  IncludeContext& ctx_;
};

// The documents of the included file after its first. Taken out of
// `loaded`, which keeps the first document only.
void keep_rest_of_file(IncludeContext& ctx, LoadedFile& loaded) {
  NodeList& documents = loaded.documents;
  if (documents.size() <= 1) return;
  IncludedFileRest rest{loaded.id, {}};
  rest.later_documents.assign(std::make_move_iterator(documents.begin() + 1),
                              std::make_move_iterator(documents.end()));
  documents.erase(documents.begin() + 1, documents.end());
  ctx.file_rests.push_back(std::move(rest));
}

// The content of an included file without any document: an empty block
// mapping that holds the file's comment lines, "---" markers and directives
// as its own, exactly as loading the file again with that mapping written
// after them reads them (so an edit that gives the file content keeps them,
// and a comment read or set above its first key is one of them).
YamlNode empty_file_root(const std::string& text, std::uint32_t file_id) {
  if (text.find_first_not_of(" \t\r\n") != std::string::npos) {
    std::string with_content = text;
    if (with_content.back() != '\n') with_content += '\n';
    with_content += "{}\n";
    Result<NodeList, ScanError> documents = compose_file_documents(with_content, file_id);
    if (documents && documents->size() == 1 && documents->front().kind() == NodeKind::Mapping) {
      YamlNode root = std::move(documents->front());
      root.style = CollectionStyle::Block;
      return root;
    }
  }
  return YamlNode::mapping({});
}

// The node a directive produced takes the comment lines and the anchor of
// the directive's own line: they belong to the file holding the directive,
// and are written there with it. What the included file's root had goes
// with the source, for writing that file back; a secret's or a listed
// file's comments belong to no file this document writes.
Result<YamlNode, IncludeError> keep_directive_line(YamlNode& directive,
                                                   Result<YamlNode, IncludeError> produced) {
  if (!produced) return produced;
  YamlNode& result = *produced;
  NodeExtras* extras = result.extras() ? &result.edit_extras() : nullptr;
  if (extras && extras->source && extras->source->target_file_id) {
    extras->source->root_comments = result.comments.take_lines();
  }
  result.comments.put_lines(directive.comments.take_lines());
  // Aliases of the directive's file that name its anchor mean what the
  // directive produced.
  if (extras && extras->source) {
    extras->source->directive_file_id = directive.span.file_id;
    if (const NodeExtras* directive_extras = directive.extras()) {
      extras->source->anchor = directive_extras->anchor;
    }
  }
  return produced;
}

Result<YamlNode, IncludeError> Expander::expand(YamlNode node, const IncludeChain& chain) {
  if (const std::optional<std::string>& tag = node.tag()) {
    const std::string_view t = *tag;
    if (ctx_.env_vars && t == kEnvVarTag) return keep_directive_line(node, env_var(node, chain));
    if (ctx_.secrets && t == kSecretTag) {
      return keep_directive_line(node, resolve_secret(ctx_, node, chain));
    }
    if (ctx_.includes) {
      if (t == kIncludeTag) return keep_directive_line(node, include(node, chain));
      for (std::size_t i = 0; i < kIncludeDirTags.size(); ++i) {
        if (t != kIncludeDirTags[i]) continue;
        return keep_directive_line(node, expand_include_dir(i, node, chain));
      }
    }
  }
  switch (node.kind()) {
    case NodeKind::Sequence:
      for (YamlNode& item : node.items()) {
        if (needs_walk(item)) item = OSV_TRY(guarded(std::move(item), chain));
      }
      break;
    case NodeKind::Mapping:
      for (std::size_t i = 0; i < node.pair_count(); ++i) {
        YamlNode& value = node.value(i);
        if (needs_walk(value)) value = OSV_TRY(guarded(std::move(value), chain));
      }
      break;
    default:
      break;
  }
  return node;
}

Result<YamlNode, IncludeError> Expander::env_var(const YamlNode& node, const IncludeChain& chain) {
  const std::string_view text = node.kind() == NodeKind::Scalar ? node.text() : std::string_view();
  const std::vector<std::string_view> words = split_words(text);
  std::string value;
  if (!words.empty()) {
    if (const std::optional<std::string_view> found = environment_value(words[0])) {
      value.assign(*found);
    } else if (words.size() > 1) {
      for (std::size_t i = 1; i < words.size(); ++i) {
        if (i > 1) value += ' ';
        value += words[i];
      }
    } else {
      std::string file = ctx_.source_file_name(node.span.file_id);
      if (!ctx_.defer_missing_env_vars) {
        return std::unexpected(
            make_include_error(IncludeErrorKind::EnvVar,
                               "environment variable " + std::string(words[0]) + " is not defined",
                               std::move(file), chain, error_span(node.span)));
      }
      ctx_.missing_env_vars.push_back(
          MissingReference{std::string(words[0]), std::move(file), node.span.line});
      // The null still records the directive, as a found value does.
      YamlNode null;
      place_at(null, node.span);
      null.set_source(directive_source(std::string(kEnvVarTag), std::string(text)));
      return null;
    }
  }
  YamlNode result = YamlNode::scalar(std::move(value), ScalarStyle::SingleQuoted);
  place_at(result, node.span);
  result.set_source(directive_source(std::string(kEnvVarTag), std::string(text)));
  return result;
}

Result<YamlNode, IncludeError> Expander::include(const YamlNode& node, const IncludeChain& chain) {
  const std::string_view argument = OSV_TRY(include_tag_argument(ctx_, node, kIncludeTag, chain));
  const std::uint32_t file_id = node.span.file_id;
  OSV_TRY(check_include_depth(ctx_, file_id, chain));

  std::string candidate = include_candidate(ctx_, file_id, argument);
  ConfinedPath resolved;
  std::optional<OpenedFile> opened = ctx_.open_plain_path(candidate);
  if (opened) {
    resolved.path = normalize_path_lexically(candidate);
  } else {
    resolved = OSV_TRY(confine_include_path(ctx_, std::move(candidate), argument, file_id, chain));
  }
  for (const IncludeFrame& frame : chain) {
    if (paths_equal(frame.path, resolved.path)) {
      return std::unexpected(make_include_error(
          IncludeErrorKind::CircularInclude,
          quoted_message("circular include detected: ", argument, ""), resolved.path, chain));
    }
  }
  LoadedFile loaded =
      OSV_TRY(load_included_file(ctx_, resolved, std::move(opened), argument, chain));

  const IncludeChain inner = chain_with(chain, std::move(resolved.path), node.span.line);
  keep_rest_of_file(ctx_, loaded);

  YamlNode root;
  if (!loaded.documents.empty()) {
    root = OSV_TRY(guarded(std::move(loaded.documents.front()), inner));
  } else {
    root = empty_file_root(*ctx_.file_texts[loaded.id], loaded.id);
    place_at(root, node.span);
  }
  IncludeSource source = directive_source(std::string(kIncludeTag), std::string(argument));
  source.target_file_id = loaded.id;
  const IncludedFileRest* rest = find_file_rest(ctx_.file_rests, loaded.id);
  source.followed_by_documents = rest != nullptr && !rest->later_documents.empty();
  if (const std::optional<IncludeSource>& inner_source = root.source()) {
    source.replaced = inner_source->replaced;
    IncludeSource overwritten = *inner_source;
    overwritten.replaced.clear();
    source.replaced.push_back(std::move(overwritten));
  }
  root.set_source(std::move(source));
  return root;
}

}  // namespace

ErrorSpan error_span(const Span& span) noexcept {
  return ErrorSpan{span.offset, span.file_id, span.line, span.column};
}

IncludeError make_include_error(IncludeErrorKind kind, std::string message, std::string file,
                                const IncludeChain& chain, std::optional<ErrorSpan> span) {
  return IncludeError{span, std::move(message), std::move(file), chain, kind};
}

std::string quoted_message(std::string_view head, std::string_view argument,
                           std::string_view tail) {
  std::string out;
  out.reserve(head.size() + argument.size() + tail.size() + 2);
  out += head;
  out += '\'';
  out += argument;
  out += '\'';
  out += tail;
  return out;
}

std::string cannot_read_message(std::string_view argument, std::string_view why) {
  return quoted_message("cannot read included file ", argument, std::string(": ") += why);
}

IncludeSource directive_source(std::string tag, std::string target) {
  IncludeSource source;
  source.tag = std::move(tag);
  source.target = std::move(target);
  return source;
}

void place_at(YamlNode& node, const Span& span) noexcept {
  node.span = span;
  node.end_offset = span.offset;
  node.end_line = span.line;
  node.end_column = span.column;
}

IncludeChain chain_with(const IncludeChain& chain, std::string path, std::uint32_t line) {
  IncludeChain inner;
  inner.reserve(chain.size() + 1);
  inner = chain;
  inner.push_back(IncludeFrame{std::move(path), line});
  return inner;
}

std::string include_candidate(const IncludeContext& ctx, std::uint32_t file_id,
                              std::string_view argument) {
  std::string base;
  if (file_id >= ctx.file_paths.size() || !parent_path(ctx.file_paths[file_id], base)) {
    base = ctx.include_dir;
  }
  return join_path(base, argument);
}

Result<std::string_view, IncludeError> include_tag_argument(const IncludeContext& ctx,
                                                            const YamlNode& node,
                                                            std::string_view tag,
                                                            const IncludeChain& chain) {
  if (node.kind() == NodeKind::Scalar && !trim_white_space_front(node.text()).empty()) {
    return node.text();
  }
  return std::unexpected(make_include_error(IncludeErrorKind::Include,
                                            std::string(tag) + " needs an argument",
                                            ctx.source_file_name(node.span.file_id), chain));
}

Result<void, IncludeError> check_include_depth(const IncludeContext& ctx, std::uint32_t file_id,
                                               const IncludeChain& chain) {
  if (chain.size() < limits::kMaxIncludeDepth) return {};
  return std::unexpected(make_include_error(
      IncludeErrorKind::IncludeDepth,
      "include chain exceeds the maximum depth of " + std::to_string(limits::kMaxIncludeDepth),
      ctx.source_file_name(file_id), chain));
}

Result<LoadedFile, IncludeError> load_included_file(IncludeContext& ctx, const ConfinedPath& path,
                                                    std::optional<OpenedFile> opened,
                                                    std::string_view argument,
                                                    const IncludeChain& chain) {
  if (++ctx.files_loaded > limits::kMaxIncludedFiles) {
    return std::unexpected(make_include_error(IncludeErrorKind::IncludeDepth,
                                              "include expansion exceeded the maximum of " +
                                                  std::to_string(limits::kMaxIncludedFiles) +
                                                  " files (a fan-out of nested includes)",
                                              path.path, chain));
  }
  if (path.unresolved) {
    return std::unexpected(make_include_error(IncludeErrorKind::IncludeNotFound,
                                              cannot_read_message(argument, *path.unresolved),
                                              path.path, chain));
  }
  Result<std::string, FileError> text =
      opened ? read_opened(std::move(*opened)) : ctx.read_confined(path.path);
  if (!text) {
    return std::unexpected(make_include_error(
        IncludeErrorKind::IncludeNotFound, cannot_read_message(argument, text.error().description),
        path.path, chain));
  }
  const std::uint32_t id = ctx.register_source_file(path.path, std::move(*text));
  // Composed straight from the table's copy: nothing is registered until the
  // composer is done with it.
  Result<NodeList, ScanError> documents = compose_file_documents(*ctx.file_texts[id], id);
  if (!documents) {
    ScanError& e = documents.error();
    return std::unexpected(make_include_error(IncludeErrorKind::Parse, std::move(e.message),
                                              path.path, chain, error_span(e.span)));
  }
  return LoadedFile{id, std::move(*documents)};
}

Result<ConfinedPath, IncludeError> confine_include_path(const IncludeContext& ctx,
                                                        std::string candidate,
                                                        std::string_view argument,
                                                        std::uint32_t file_id,
                                                        const IncludeChain& chain) {
  auto outside = [&] {
    return std::unexpected(make_include_error(
        IncludeErrorKind::IncludeConfinement,
        quoted_message("", argument, " resolves outside the configured include directory"),
        ctx.source_file_name(file_id), chain));
  };
  if (Result<std::string, FileError> canonical = canonical_path(candidate)) {
    if (!path_lies_under(*canonical, ctx.include_root)) return outside();
    return ConfinedPath{std::move(*canonical), std::nullopt};
  }
  std::string absolute;
  if (!candidate.empty() && candidate[0] == '/') {
    absolute = candidate;
  } else if (std::optional<std::string> cwd = current_directory()) {
    absolute = join_path(*cwd, candidate);
  } else {
    absolute = candidate;
  }
  std::string normalized = normalize_path_lexically(absolute);
  if (!path_lies_under(normalized, ctx.include_root)) return outside();
  if (is_symbolic_link(candidate)) {
    return std::unexpected(make_include_error(IncludeErrorKind::IncludeNotFound,
                                              cannot_read_message(argument, "not found"),
                                              ctx.source_file_name(file_id), chain));
  }
  // The lexical ".." may have stepped over a missing component onto a path
  // that exists and leads elsewhere through a link: confine what it really
  // names, and read nothing when it names nothing.
  Result<std::string, FileError> canonical = canonical_path(normalized);
  if (!canonical)
    return ConfinedPath{std::move(normalized), std::move(canonical.error().description)};
  if (!path_lies_under(*canonical, ctx.include_root)) return outside();
  return ConfinedPath{std::move(*canonical), std::nullopt};
}

Result<YamlNode, IncludeError> expand_config_tags_guarded(YamlNode node, IncludeContext& ctx,
                                                          const IncludeChain& chain) {
  return Expander(ctx).guarded(std::move(node), chain);
}

Result<NodeList, IncludeError> expand_root_document(IncludeContext& ctx, std::string_view text,
                                                    const std::optional<std::string>& root_path) {
  std::string name = root_path ? *root_path : join_path(ctx.include_dir, "<root>");
  const std::uint32_t id = ctx.register_source_file(name, std::string(text));
  Result<NodeList, ScanError> documents = compose_file_documents(*ctx.file_texts[id], id);
  if (!documents) {
    ScanError& e = documents.error();
    return std::unexpected(make_include_error(IncludeErrorKind::Parse, std::move(e.message),
                                              std::move(name), {}, error_span(e.span)));
  }
  Expander expander(ctx);
  const IncludeChain empty;
  for (YamlNode& root : *documents) root = OSV_TRY(expander.guarded(std::move(root), empty));
  return std::move(*documents);
}

bool is_include_tag(const std::optional<std::string>& tag) noexcept {
  if (!tag) return false;
  if (*tag == kIncludeTag) return true;
  return std::find(kIncludeDirTags.begin(), kIncludeDirTags.end(), *tag) != kIncludeDirTags.end();
}

}  // namespace ostrevane
