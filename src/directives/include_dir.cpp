#include "directives/include_dir.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "directives/file_access.hpp"
#include "directives/include_steps.hpp"
#include "directives/paths.hpp"

namespace ostrevane {
namespace {

constexpr std::string_view kListTag = "!include_dir_list";
constexpr std::string_view kNamedTag = "!include_dir_named";
constexpr std::string_view kMergeListTag = "!include_dir_merge_list";
constexpr std::string_view kMergeNamedTag = "!include_dir_merge_named";
constexpr std::string_view kSecretsFile = "secrets.yaml";

struct IdentityHash {
  std::size_t operator()(const FileIdentity& id) const noexcept {
    return std::hash<std::uint64_t>()(id.inode) ^ (id.device * 0x9E3779B97F4A7C15ull);
  }
};

// The length of the stem when `name` is a YAML file name: a non-empty stem,
// then ".yaml" or ".yml" exactly.
std::size_t yaml_stem_length(std::string_view name) noexcept {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return 0;
  const std::string_view extension = name.substr(dot + 1);
  return extension == "yaml" || extension == "yml" ? dot : 0;
}

IncludeError unreadable_directory(const FileError& error, const std::string& dir,
                                  const IncludeChain& chain) {
  return make_include_error(IncludeErrorKind::IncludeNotFound,
                            "cannot read directory: " + error.description, dir, chain);
}

// The directive's argument and the files of the directory it names.
struct Selection {
  std::string_view argument;
  std::vector<IncludeDirEntry> entries;
};

Result<Selection, IncludeError> select_directory(IncludeContext& ctx, const YamlNode& node,
                                                 std::string_view tag, const IncludeChain& chain) {
  Selection out;
  out.argument = OSV_TRY(include_tag_argument(ctx, node, tag, chain));
  const std::uint32_t file_id = node.span.file_id;
  OSV_TRY(check_include_depth(ctx, file_id, chain));
  ConfinedPath dir = OSV_TRY(confine_include_path(
      ctx, include_candidate(ctx, file_id, out.argument), out.argument, file_id, chain));
  if (dir.unresolved || !is_directory(dir.path)) return out;
  out.entries = OSV_TRY(list_include_dir(ctx, dir.path, file_id, chain));
  return out;
}

// A new collection where the directive stood, naming it as its source.
YamlNode result_node(NodeList children, bool mapping, const YamlNode& node, std::string_view tag,
                     std::string_view argument) {
  YamlNode out =
      mapping ? YamlNode::mapping(std::move(children)) : YamlNode::sequence(std::move(children));
  place_at(out, node.span);
  out.set_source(directive_source(std::string(tag), std::string(argument)));
  return out;
}

// Loads the files of the directory the directive names, one by one in
// listing order; `take(entry, loaded, chain)` adds what each contributes,
// with the chain its documents expand under. Returns the argument.
template <class Take>
Result<std::string_view, IncludeError> load_listed_files(IncludeContext& ctx, const YamlNode& node,
                                                         std::string_view tag,
                                                         const IncludeChain& chain, Take&& take) {
  Selection selection = OSV_TRY(select_directory(ctx, node, tag, chain));
  for (IncludeDirEntry& entry : selection.entries) {
    LoadedFile loaded =
        OSV_TRY(load_included_file(ctx, entry.path, std::nullopt, entry.path.path, chain));
    OSV_TRY(take(entry, loaded, chain_with(chain, entry.path.path, node.span.line)));
  }
  return selection.argument;
}

// Every document of every listed file, expanded.
Result<NodeList, IncludeError> list_documents(IncludeContext& ctx, const YamlNode& node,
                                              const IncludeChain& chain,
                                              std::string_view& argument) {
  NodeList items;
  argument = OSV_TRY(load_listed_files(
      ctx, node, kListTag, chain,
      [&](IncludeDirEntry&, LoadedFile& loaded,
          const IncludeChain& inner) -> Result<void, IncludeError> {
        for (YamlNode& document : loaded.documents) {
          items.push_back(OSV_TRY(expand_config_tags_guarded(std::move(document), ctx, inner)));
        }
        return {};
      }));
  return items;
}

// One (stem, first document) pair per listed file, keys and values
// interleaved.
Result<NodeList, IncludeError> named_documents(IncludeContext& ctx, const YamlNode& node,
                                               const IncludeChain& chain,
                                               std::string_view& argument) {
  NodeList pairs;
  argument =
      OSV_TRY(load_listed_files(ctx, node, kNamedTag, chain,
                                [&](IncludeDirEntry& entry, LoadedFile& loaded,
                                    const IncludeChain& inner) -> Result<void, IncludeError> {
                                  YamlNode value;
                                  if (!loaded.documents.empty()) {
                                    value = OSV_TRY(expand_config_tags_guarded(
                                        std::move(loaded.documents.front()), ctx, inner));
                                  } else {
                                    value = YamlNode::mapping({});
                                    place_at(value, node.span);
                                  }
                                  // The key stands at the very start of its own file.
                                  YamlNode key = YamlNode::scalar(std::move(entry.stem));
                                  place_at(key, Span{0, loaded.id, 0, 0});
                                  pairs.push_back(std::move(key));
                                  pairs.push_back(std::move(value));
                                  return {};
                                }));
  return pairs;
}

}  // namespace

Result<std::vector<IncludeDirEntry>, IncludeError> list_include_dir(IncludeContext& ctx,
                                                                    const std::string& dir,
                                                                    std::uint32_t file_id,
                                                                    const IncludeChain& chain) {
  std::vector<IncludeDirEntry> entries;
  std::vector<std::string> pending{dir};
  // A link to an ancestor would otherwise bring its directory back without
  // end; each directory is listed once, wherever it is met first.
  std::unordered_set<FileIdentity, IdentityHash> listed;
  while (!pending.empty()) {
    const std::string current = std::move(pending.back());
    pending.pop_back();
    Result<OpenedFile, FileError> file = ctx.open_confined_directory(current);
    if (!file) return std::unexpected(unreadable_directory(file.error(), current, chain));
    Result<OpenedDirectory, FileError> opened = OpenedDirectory::open(std::move(*file));
    if (!opened) return std::unexpected(unreadable_directory(opened.error(), current, chain));
    if (!listed.insert(opened->identity()).second) continue;

    std::vector<DirectoryEntry> listing = opened->read_entries();
    std::sort(listing.begin(), listing.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    std::vector<std::string> subdirectories;
    for (const DirectoryEntry& entry : listing) {
      const std::string& name = entry.name;
      if (name.starts_with('.')) continue;
      const EntryKind kind = opened->entry_kind(entry);
      if (kind.type == EntryType::Directory && !ctx.include_dir_recursive) continue;
      const std::size_t stem = yaml_stem_length(name);
      if (kind.type != EntryType::Directory &&
          (stem == 0 || (ctx.secrets && name == kSecretsFile))) {
        continue;
      }
      // `current` is canonical and confined, and a name holds no "/": an
      // entry that is no link is already its own canonical path. Only links
      // need resolving and confining; the open beneath the root refuses any
      // link that appears after this look.
      std::string path = join_path(current, name);
      ConfinedPath confined{std::move(path), std::nullopt};
      if (kind.link) {
        confined = OSV_TRY(confine_include_path(ctx, confined.path, confined.path, file_id, chain));
      }
      if (kind.type == EntryType::Directory) {
        subdirectories.push_back(std::move(confined.path));
        continue;
      }
      entries.push_back(
          IncludeDirEntry{utf8_lossy(std::string_view(name).substr(0, stem)), std::move(confined)});
    }
    // The first subdirectory by name is listed next.
    for (auto it = subdirectories.rbegin(); it != subdirectories.rend(); ++it) {
      pending.push_back(std::move(*it));
    }
  }
  return entries;
}

Result<YamlNode, IncludeError> expand_include_dir_list(IncludeContext& ctx, const YamlNode& node,
                                                       const IncludeChain& chain) {
  std::string_view argument;
  NodeList items = OSV_TRY(list_documents(ctx, node, chain, argument));
  return result_node(std::move(items), false, node, kListTag, argument);
}

Result<YamlNode, IncludeError> expand_include_dir_named(IncludeContext& ctx, const YamlNode& node,
                                                        const IncludeChain& chain) {
  std::string_view argument;
  NodeList pairs = OSV_TRY(named_documents(ctx, node, chain, argument));
  return result_node(std::move(pairs), true, node, kNamedTag, argument);
}

Result<YamlNode, IncludeError> expand_include_dir_merge_list(IncludeContext& ctx,
                                                             const YamlNode& node,
                                                             const IncludeChain& chain) {
  std::string_view argument;
  NodeList documents = OSV_TRY(list_documents(ctx, node, chain, argument));
  NodeList items;
  items.reserve(documents.size());
  for (YamlNode& document : documents) {
    if (document.kind() == NodeKind::Sequence) {
      for (YamlNode& item : document.items()) items.push_back(std::move(item));
    } else {
      items.push_back(std::move(document));
    }
  }
  return result_node(std::move(items), false, node, kMergeListTag, argument);
}

Result<YamlNode, IncludeError> expand_include_dir_merge_named(IncludeContext& ctx,
                                                              const YamlNode& node,
                                                              const IncludeChain& chain) {
  std::string_view argument;
  NodeList named = OSV_TRY(named_documents(ctx, node, chain, argument));
  NodeList pairs;
  for (std::size_t i = 1; i < named.size(); i += 2) {
    YamlNode& value = named[i];
    if (value.kind() != NodeKind::Mapping) continue;
    for (YamlNode& child : value.edit_children()) pairs.push_back(std::move(child));
  }
  return result_node(std::move(pairs), true, node, kMergeNamedTag, argument);
}

}  // namespace ostrevane
