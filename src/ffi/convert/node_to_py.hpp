// Node trees to plain Python values: what a round-trip document hands to
// Python (to_dict now; item access, walk and snapshots later).
//
// Input: a node of a composed (or edited) tree, read only, and the root of
// its document, against which aliases are resolved. Output: new Python
// objects: None, bool, int, float, str, datetime.date and datetime.datetime
// (with timestamps on), list, dict, and tuple for collection keys. Custom
// tags are ignored: a tagged node converts as its content does.
//
// - Scalars resolve under the document's ResolverMode; merge keys ("<<", or
//   a "!!merge" tag) are applied while mappings are built: explicit keys win
//   over merged ones, the first merge source that supplies a key wins, and a
//   merge source that is not a mapping is kept under the "<<" key.
// - Aliases: an alias means the nearest complete definition of its name
//   before it (AnchorIndex, built on the first alias met). The object made
//   for an anchored node is kept for the whole conversion and every alias
//   of it gets that very object, so aliased collections are shared, not
//   copied, and an alias bomb costs one object per anchored node. Keys keep
//   their own (tuple) objects per anchored collection the same way.
// - Errors: an int beyond the interpreter's int_max_str_digits raises its
//   ValueError; other failures are the interpreter's (memory).
// - Every level runs through with_stack_guard (each eighth one measures), so
//   no depth exhausts the native stack.
//
// Runs with the interpreter lock held; runs no Python code of the caller's
// (keys are plain str, int, float, bool, None, dates and tuples of them).
#pragma once

#include <memory>

#include "ffi/errors.hpp"
#include "resolver/resolver.hpp"
#include "roundtrip/anchors.hpp"
#include "roundtrip/node.hpp"

namespace ostrevane::ffi {

struct TagOptions;

struct NodeToPySettings {
  ResolverMode mode = ResolverMode::Yaml12;
  // Untagged plain scalars that read as timestamps become dates.
  bool timestamps = false;
  // The tag callbacks of a loads call, or nullptr to ignore custom tags.
  // With them, every node with a custom tag (scalar keys included, keys
  // that are collections excepted) is handed to the callbacks after its
  // content is converted, before an anchor keeps the object, so aliases
  // yield what the callback returned; a callback's error ends the
  // conversion.
  const TagOptions* tag_options = nullptr;
  // An index the caller already built over the root, so that many small
  // conversions of one tree build it once; nullptr: built on the first
  // alias met.
  const AnchorIndex* index = nullptr;
};

namespace detail {
class NodeConverter;
}  // namespace detail

// Several conversions of nodes of one tree that share one object cache, as
// the parts of one node_to_py call do: each anchored node is converted once
// for all of them, so reading every leaf or every key of a tree whose
// aliases repeat a large definition costs about what one conversion of the
// whole tree does. Objects made for anchored nodes are handed out again
// (shared, as aliases share them within one conversion). The cache holds
// pointers into the tree: it lives for one call at most, and the tree must
// not change while it lives. `settings` and `root` are borrowed for its
// life (settings.index may be set later, before the first alias is met).
class NodeToPyCache {
 public:
  NodeToPyCache(const YamlNode& root, const NodeToPySettings& settings);
  ~NodeToPyCache();
  NodeToPyCache(const NodeToPyCache&) = delete;
  NodeToPyCache& operator=(const NodeToPyCache&) = delete;

  // As node_to_py and node_to_py_key, for a node under the cache's root.
  [[nodiscard]] PyResult<PyRef> value(const YamlNode& node);
  [[nodiscard]] PyResult<PyRef> key(const YamlNode& node);

 private:
  std::unique_ptr<detail::NodeConverter> converter_;
};

// `node` (under `root`, the root of its document) as Python values. New
// reference.
[[nodiscard]] PyResult<PyRef> node_to_py(const YamlNode& root, const YamlNode& node,
                                         const NodeToPySettings& settings);

// `node` (under `root`) as a hashable mapping key: a collection as a tuple
// (a mapping as the tuple of its (key, value) pairs, merge keys not
// applied), an alias as its target's key, anything else as node_to_py
// converts it. New reference.
[[nodiscard]] PyResult<PyRef> node_to_py_key(const YamlNode& root, const YamlNode& node,
                                             const NodeToPySettings& settings);

// The first document of a loads call on the directive road: tag callbacks
// on, timestamps exactly in the YAML 1.1 form that OPT_PYYAML_COMPAT
// selects. New reference, or the first Python error.
[[nodiscard]] PyResult<PyRef> tree_to_python(const YamlNode& root, ResolverMode mode,
                                             const TagOptions& tag_options);

}  // namespace ostrevane::ffi
