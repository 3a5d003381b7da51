#include "roundtrip/document/anchor_search.hpp"

#include "roundtrip/anchors.hpp"

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <utility>

namespace ostrevane {
namespace {

bool has_place_anchor(const YamlNode& node, std::string_view name) noexcept {
  const std::string* anchor = place_anchor(node);
  return anchor != nullptr && *anchor == name;
}

enum class Next : std::uint8_t { Children, SkipChildren, Stop };

// Occurrences of the key texts of one mapping's pairs, for the steps of the
// paths copied while the walk is inside it: for each text, how many pairs
// after `through` have it. Built on the first copy and moved forward with
// the walk, so a mapping costs one pass however many hits it holds (a
// scan per hit, as pair_step does, would be quadratic).
struct LaterKeys {
  std::unordered_map<std::string_view, std::uint64_t> counts;
  std::size_t through = 0;

  LaterKeys(const YamlNode& mapping, std::size_t pair) : through(pair) {
    for (std::size_t i = pair + 1; i < mapping.pair_count(); ++i) {
      if (mapping.key(i).kind() == NodeKind::Scalar) ++counts[mapping.key(i).text()];
    }
  }

  std::uint64_t occurrence(const YamlNode& mapping, std::size_t pair) {
    for (; through < pair; ++through) {
      const YamlNode& key = mapping.key(through + 1);
      if (key.kind() == NodeKind::Scalar) --counts[key.text()];
    }
    const auto it = counts.find(mapping.key(pair).text());
    return it == counts.end() ? 0 : it->second;
  }
};

// A walk in document order (pre-order for `enter`, post-order for `leave`)
// with an explicit stack, that can tell the path of the node it is at.
// Every child is visited, also under pairs whose key is not a scalar; such
// nodes are not `reachable` by any path.
class PathWalk {
 public:
  explicit PathWalk(const YamlNode& root) { frames_.push_back({&root, 0, true, nullptr}); }

  // enter(walk, node) -> Next; leave(walk, node). Both see the node's path
  // through path() and reachable().
  template <class Enter, class Leave>
  void run(Enter&& enter, Leave&& leave) {
    const Next first = enter(*this, *frames_.back().node);
    if (first == Next::Stop) return;
    if (first == Next::SkipChildren) frames_.back().next = frames_.back().node->children().size();
    while (!frames_.empty()) {
      Frame& top = frames_.back();
      const auto children = top.node->children();
      if (top.next >= children.size()) {
        leave(*this, *top.node);
        frames_.pop_back();
        continue;
      }
      const std::size_t index = top.next++;
      bool reachable = top.reachable;
      if (top.node->kind() == NodeKind::Mapping) {
        reachable = reachable && children[index & ~std::size_t{1}].kind() == NodeKind::Scalar;
      }
      frames_.push_back({&children[index], 0, reachable, nullptr});
      const Next next = enter(*this, children[index]);
      if (next == Next::Stop) return;
      if (next == Next::SkipChildren) frames_.back().next = children[index].children().size();
    }
  }

  [[nodiscard]] bool reachable() const noexcept { return frames_.back().reachable; }

  // The path of the node on top of the stack. Only for reachable nodes.
  [[nodiscard]] NodePath path() {
    NodePath path;
    for (std::size_t level = 0; level + 1 < frames_.size(); ++level) {
      Frame& frame = frames_[level];
      const std::size_t child = frame.next - 1;
      if (frame.node->kind() == NodeKind::Sequence) {
        path.push(PathSegment::index(child));
        continue;
      }
      const std::size_t pair = child / 2;
      if (!frame.later) frame.later = std::make_unique<LaterKeys>(*frame.node, pair);
      const std::uint64_t occurrence = frame.later->occurrence(*frame.node, pair);
      std::string text(frame.node->key(pair).text());
      path.push(child % 2 == 0 ? PathSegment::key_node(std::move(text), occurrence)
                               : PathSegment::key(std::move(text), occurrence));
    }
    return path;
  }

 private:
  struct Frame {
    const YamlNode* node;
    std::size_t next;  // the next child to visit; the one visited last is next - 1
    bool reachable;
    std::unique_ptr<LaterKeys> later;
  };
  std::vector<Frame> frames_;
};

const auto kNoLeave = [](PathWalk&, const YamlNode&) {};

}  // namespace

std::optional<NodePath> find_anchor_path(const YamlNode& root, std::string_view name) {
  std::optional<NodePath> found;
  PathWalk(root).run(
      [&](PathWalk& walk, const YamlNode& node) {
        if (!walk.reachable()) return Next::SkipChildren;
        if (!has_place_anchor(node, name)) return Next::Children;
        found = walk.path();
        return Next::Stop;
      },
      kNoLeave);
  return found;
}

std::optional<NodePath> find_anchor_path(const YamlNode& root, std::string_view name,
                                         const YamlNode& reader) {
  // The last definition left before the walk reaches the reader; one under
  // a collection key replaces any earlier one but has no path.
  std::optional<NodePath> nearest;
  const std::uint32_t file = place_file(reader);
  PathWalk(root).run(
      [&](PathWalk&, const YamlNode& node) {
        return &node == &reader ? Next::Stop : Next::Children;
      },
      [&](PathWalk& walk, const YamlNode& node) {
        if (!defines_anchor(node, file, name)) return;
        nearest.reset();
        if (walk.reachable()) nearest = walk.path();
      });
  return nearest;
}

std::vector<NodePath> collect_alias_paths(const YamlNode& root, const YamlNode& definition) {
  std::vector<NodePath> paths;
  const std::string* name = place_anchor(definition);
  if (name == nullptr) return paths;
  const std::uint32_t file = place_file(definition);
  // The definition an alias met now reads: the last one of the name left.
  const YamlNode* current = nullptr;
  PathWalk(root).run(
      [&](PathWalk& walk, const YamlNode& node) {
        if (node.kind() == NodeKind::Alias && current == &definition && walk.reachable() &&
            node.span.file_id == file && node.text() == *name) {
          paths.push_back(walk.path());
        }
        return Next::Children;
      },
      [&](PathWalk&, const YamlNode& node) {
        if (defines_anchor(node, file, *name)) current = &node;
      });
  return paths;
}

std::vector<AnchorEntry> collect_anchors(const YamlNode& root) {
  std::vector<AnchorEntry> entries;
  PathWalk(root).run(
      [&](PathWalk& walk, const YamlNode& node) {
        if (!walk.reachable()) return Next::SkipChildren;
        if (const std::string* anchor = place_anchor(node)) entries.push_back({*anchor, walk.path()});
        return Next::Children;
      },
      kNoLeave);
  return entries;
}

}  // namespace ostrevane
