#include "directives/write_back.hpp"

#include <utility>

#include "directives/paths.hpp"
#include "emit_util/line_breaks.hpp"
#include "roundtrip/document/document_text.hpp"
#include "roundtrip/emit/emitter.hpp"

namespace ostrevane {
namespace {

struct DirtyStep {
  const YamlNode* node;
  bool ignore_source;  // a key's own source is not a boundary
};

// One explicit stack for all three tests: edits may nest trees deeper than
// any native stack.
bool part_is_dirty(const YamlNode& start, bool ignore_source) {
  std::vector<DirtyStep> stack{{&start, ignore_source}};
  while (!stack.empty()) {
    const DirtyStep step = stack.back();
    stack.pop_back();
    const YamlNode& node = *step.node;
    if (!step.ignore_source && node.source()) {
      // The content belongs to another file (or to none); the directive
      // itself belongs to this one.
      if (node.source()->directive_modified) return true;
      continue;
    }
    if (node.comments.modified) return true;
    if (node.kind() == NodeKind::Mapping) {
      for (std::size_t i = 0; i < node.pair_count(); ++i) {
        stack.push_back({&node.key(i), true});
        stack.push_back({&node.value(i), false});
      }
    } else if (node.kind() == NodeKind::Sequence) {
      for (const YamlNode& item : node.items()) stack.push_back({&item, false});
    }
  }
  return false;
}

// Pushes the children of `node` so that they pop in document order.
template <class Entry, class Make>
void push_children_in_order(const YamlNode& node, std::vector<Entry>& stack, Make make) {
  const auto children = node.children();
  for (std::size_t i = children.size(); i-- > 0;) stack.push_back(make(children[i]));
}

std::string file_name(const DocumentData& data, std::uint32_t file_id) {
  return file_id < data.file_paths.size() ? data.file_paths[file_id] : std::string();
}

IncludeError unwritable_edit(std::string_view tag, std::string file) {
  std::string message = "edits inside '";
  message += tag;
  message += "' content cannot be written back";
  return IncludeError{
      std::nullopt, std::move(message), std::move(file), {}, IncludeErrorKind::Include};
}

std::string included_file_text(const YamlNode& node, std::uint32_t id,
                               const std::vector<std::optional<std::string>>& file_texts,
                               const IncludedFileRests& rests) {
  const IncludedFileRest* rest = find_file_rest(rests, id);
  OutputBuffer text =
      rest != nullptr ? emit_included_file(node, rest->later_documents) : emit_without_source(node);
  // The file keeps the line break it was written with.
  if (id < file_texts.size() && file_texts[id]) {
    use_line_break(text, first_line_break(*file_texts[id]));
  }
  return std::string(text.view());
}

}  // namespace

bool node_is_dirty(const YamlNode& node) { return part_is_dirty(node, false); }

bool pair_is_dirty(const YamlNode& key, const YamlNode& value) {
  return part_is_dirty(key, true) || part_is_dirty(value, false);
}

bool own_part_is_dirty(const YamlNode& node) { return part_is_dirty(node, true); }

void collect_include_texts(const YamlNode& node,
                           const std::vector<std::optional<std::string>>& file_texts,
                           const IncludedFileRests& rests, std::vector<IncludeText>& out) {
  std::vector<const YamlNode*> stack{&node};
  while (!stack.empty()) {
    const YamlNode& current = *stack.back();
    stack.pop_back();
    const std::optional<IncludeSource>& source = current.source();
    if (source && source->target_file_id) {
      const std::uint32_t id = *source->target_file_id;
      const bool dirty = own_part_is_dirty(current);
      if (!dirty && id < file_texts.size() && file_texts[id]) {
        out.push_back({id, *file_texts[id], false});
      } else {
        out.push_back({id, included_file_text(current, id, file_texts, rests), dirty});
      }
    }
    push_children_in_order(current, stack, [](const YamlNode& child) { return &child; });
  }
}

Result<void, IncludeError> WriteBackMap::add(const std::string& path, std::string text,
                                             bool dirty) {
  auto [it, inserted] = index_.try_emplace(path_key(path), entries_.size());
  if (inserted) {
    entries_.push_back({path, std::move(text), dirty});
    return {};
  }
  Entry& entry = entries_[it->second];
  if (entry.text != text) {
    std::string message = "'";
    message += path;
    message +=
        "' is included more than once with conflicting edits; write-back cannot store two "
        "different versions of one file";
    return std::unexpected(
        IncludeError{std::nullopt, std::move(message), path, {}, IncludeErrorKind::Include});
  }
  entry.dirty = entry.dirty || dirty;
  return {};
}

Result<void, IncludeError> check_writable_edits(const DocumentData& data) {
  struct Step {
    const YamlNode* node;
    std::uint32_t file_id;  // the file whose part holds the node
  };
  std::vector<Step> stack;
  for (std::size_t i = data.roots.size(); i-- > 0;) stack.push_back({&data.roots[i], 0});
  while (!stack.empty()) {
    const Step step = stack.back();
    stack.pop_back();
    const YamlNode& node = *step.node;
    std::uint32_t inner_file = step.file_id;
    if (const std::optional<IncludeSource>& source = node.source()) {
      if (!source->target_file_id) {
        // Content of a directory include, a secret or a variable: no file
        // of its own to take the edit, and the file holding the directive
        // must keep the directive.
        if (own_part_is_dirty(node)) {
          return std::unexpected(unwritable_edit(source->tag, file_name(data, step.file_id)));
        }
      } else {
        inner_file = *source->target_file_id;
        // The included file held a directive, not this content: writing
        // the content there would store a secret's value, a variable or a
        // third file's text in place of the directive.
        if (!source->replaced.empty() && own_part_is_dirty(node)) {
          return std::unexpected(
              unwritable_edit(source->replaced.back().tag, file_name(data, inner_file)));
        }
      }
    }
    push_children_in_order(node, stack, [inner_file](const YamlNode& child) {
      return Step{&child, inner_file};
    });
  }
  return {};
}

Result<WriteBackMap, IncludeError> include_outputs(const DocumentData& data) {
  OSV_TRY(check_writable_edits(data));
  std::vector<IncludeText> texts;
  for (const YamlNode& root : data.roots) {
    collect_include_texts(root, data.file_texts, data.file_rests, texts);
  }
  WriteBackMap map;
  for (IncludeText& text : texts) {
    if (text.file_id >= data.file_paths.size()) continue;
    OSV_TRY(map.add(data.file_paths[text.file_id], std::move(text.text), text.dirty));
  }
  return map;
}

Result<WriteBackMap, WriteBackError> collect_include_outputs(const DocumentData& data) {
  if (data.file_paths.empty()) {
    return std::unexpected(WriteBackError{WriteBackFailure::NoFileTable, {}});
  }
  Result<WriteBackMap, IncludeError> map = include_outputs(data);
  if (!map)
    return std::unexpected(WriteBackError{WriteBackFailure::Include, std::move(map.error())});
  return std::move(*map);
}

bool main_file_is_dirty(const DocumentData& data) {
  if (!data.source_text) return true;
  for (const YamlNode& root : data.roots) {
    if (own_part_is_dirty(root)) return true;
    if (root.source() && root.source()->directive_modified) return true;
  }
  return false;
}

}  // namespace ostrevane
