// The represent road of `dumps`: Python objects to YamlNode trees, object by
// object through the caller's `represent` callback.
//
// Input: one borrowed Python object, the callback and the call's encode
// options. Output: an owned YamlNode tree for the round-trip emitter, every
// node synthetic, with zero positions; or the PyError that ended the run
// (nodes made so far are destroyed). The callback sees every object met,
// depth first, keys before values; `None` leaves an object to the default
// representation (scalars through the encoder, then `value_to_node`; lists,
// tuples, sets, dicts and dataclasses as collections); a descriptor
// (OstrevaneScalar, OstrevaneSequence, OstrevaneMapping) fixes the node's
// style, tag, flow layout and comments, each checked so that what is asked
// for is written and reads back, or refused with the reason.
//
// Identity: every object that could be shared (containers, dates, tags,
// descriptors: all but None, bools, numbers, strs, bytes and empty tuples)
// is tracked by address for the whole run; met again, it becomes an alias of
// its first node. Anchors are named by address during the run and renamed
// "id001", "id002", ... in document order afterwards, only where an alias
// refers to them.
//
// Invariants: the Representer keeps a reference to every tracked object, so
// no address is reused during the run; it is destroyed with the lock held.
// represent_object never changes stack segment: it checks the stack left on
// entry and stops with the "too deeply nested" error instead, also at depth
// 1000. Lock held throughout.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ffi/convert/encode.hpp"
#include "ffi/represent/address_set.hpp"
#include "ffi/represent/descriptors.hpp"
#include "resolver/resolver.hpp"
#include "roundtrip/node.hpp"

namespace ostrevane::ffi {

// The options of one represent run, from the `dumps` call.
struct RepresentSettings {
  EncodeOptions encode_options;   // default, serializers, depth 0, the six flags
  PyObject* represent = nullptr;  // borrowed callable
  bool sort_keys = false;         // OPT_SORT_KEYS
  bool flow_style = false;        // OPT_FLOW_STYLE
  bool double_quotes = true;      // OPT_SINGLE_QUOTES clear
  ResolverMode mode = ResolverMode::Yaml12;
};

// The state of one run.
class Representer {
 public:
  explicit Representer(const RepresentSettings& settings) noexcept
      : encode_options(settings.encode_options),
        represent(settings.represent),
        sort_keys(settings.sort_keys),
        flow_style(settings.flow_style),
        double_quotes(settings.double_quotes),
        mode(settings.mode) {}
  Representer(const Representer&) = delete;
  Representer& operator=(const Representer&) = delete;
  // Releases the kept references in order (queued when the lock is not held).
  ~Representer();

  std::vector<PyObject*> keep_alive;  // one strong reference per tracked object
  EncodeOptions encode_options;
  PyObject* represent;
  AddressSet seen;     // being represented, or anchored under their address
  AddressSet aliased;  // referred to by an Alias node
  bool sort_keys;
  bool flow_style;
  bool double_quotes;
  // A node was obtained by representing another object in this one's place.
  bool delegated = false;
  ResolverMode mode;
};

// Runs the whole road for `obj`: represent_object at depth 0, the
// RecursionError rule (such an error becomes the "too deeply nested" error
// with it as the cause), rename_anchors, and the Representer destroyed
// before returning. Lock held.
[[nodiscard]] PyResult<YamlNode> represent_root(const RepresentSettings& settings, PyObject* obj);

// One object at `depth`; `in_flow`: the node stands in a flow collection;
// `is_key`: it is a mapping key.
[[nodiscard]] PyResult<YamlNode> represent_object(Representer& r, PyObject* obj,
                                                  std::uint32_t depth, bool in_flow, bool is_key);

// Names the anchors that aliases refer to "id001", "id002", ... in document
// order and removes every other anchor; aliases take their anchor's new name.
void rename_anchors(YamlNode& root, const AddressSet& referenced);

// ---------------------------------------------------------------------------
// Default scalar nodes (nodes.cpp).

// Literal for a text that reads back from a literal block, else the assigned
// style of a string: plain when safe, else quoted by the preference.
[[nodiscard]] ScalarStyle choose_scalar_style(std::string_view text, bool double_quotes,
                                              ResolverMode mode) noexcept;

// `value` (consumed) as a fresh node tree; `context`: in a flow collection or
// a key, where a literal block cannot stand. Never fails.
[[nodiscard]] YamlNode value_to_node_guarded(const Representer& r, Value value, bool context);

// A fresh node as the road makes them: synthetic, everything else empty.
[[nodiscard]] YamlNode new_node(YamlNode node) noexcept;

// ---------------------------------------------------------------------------
// Collection nodes (nodes.cpp). The items and pairs are new references,
// consumed on every path. `tag`: not shortened yet; `flow`: the descriptor's
// override, absent for the default representation.

using OwnedItems = std::vector<PyRef>;
using OwnedPairs = std::vector<std::pair<PyRef, PyRef>>;

[[nodiscard]] PyResult<YamlNode> represent_sequence(Representer& r, OwnedItems items,
                                                    std::uint32_t depth,
                                                    std::optional<std::string> tag,
                                                    std::optional<bool> flow, bool in_flow,
                                                    bool is_key);
[[nodiscard]] PyResult<YamlNode> represent_mapping(Representer& r, OwnedPairs pairs,
                                                   std::uint32_t depth,
                                                   std::optional<std::string> tag,
                                                   std::optional<bool> flow, bool in_flow,
                                                   bool is_key);

// "tag:yaml.org,2002:x" becomes "!!x"; then the tag must pass
// validate_dump_tag, and comes back in the form dumps writes
// (written_dump_tag).
[[nodiscard]] PyResult<std::optional<std::string>> shorten_tag(std::optional<std::string> tag);

// New references to every item of an iterable, taken before any is
// represented.
[[nodiscard]] PyResult<OwnedItems> collect_iterable(PyObject* obj);

// ---------------------------------------------------------------------------
// Callback results (results.cpp).

// The node of a descriptor the callback returned for the object at `depth`
// (borrowed); any other result is the TypeError naming the three classes.
[[nodiscard]] PyResult<YamlNode> apply_represent_result(Representer& r, PyObject* result,
                                                        std::uint32_t depth, bool in_flow,
                                                        bool is_key);

// ---------------------------------------------------------------------------
// Comments from descriptors (comments.cpp).

// Puts a descriptor's comments on its node (consumed): comment_before as head
// lines, comment inline, comment_after as foot lines. Refuses comment_after
// where it has no place (unless `root`: the object given to dumps) and an
// inline comment on a block collection at the root.
[[nodiscard]] PyResult<YamlNode> apply_represent_comments(YamlNode node,
                                                          const DescriptorComments& comments,
                                                          bool root);

// A key may carry lines above it, but no comment of its own on or after its
// line and none inside it.
[[nodiscard]] PyResult<void> check_key_comments(const YamlNode& key);

// The first item of a block sequence may carry lines above it or a comment
// on its dash line, not both: no layout reads both back as the item's.
[[nodiscard]] PyResult<void> check_first_item_comments(const YamlNode& item);

// The lines above a mapping value go above its key, after the key's own.
void move_value_head_to_key(YamlNode& key, YamlNode& value);

}  // namespace ostrevane::ffi
