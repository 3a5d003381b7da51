#include "roundtrip/document/path.hpp"

namespace ostrevane {
namespace {

bool key_has_text(const YamlNode& key, std::string_view text) noexcept {
  return key.kind() == NodeKind::Scalar && key.text() == text;
}

// Whether a step of this kind can name the pair of `key`: a scalar key by
// its text, an empty key by a step of its own.
bool step_names(const YamlNode& key, const PathSegment& step) noexcept {
  return step.empty_key ? key.kind() == NodeKind::Null : key_has_text(key, step.text);
}

bool key_reachable(const YamlNode& key) noexcept {
  return key.kind() == NodeKind::Scalar || key.kind() == NodeKind::Null;
}

// The pair whose key has the step's text, at the step's occurrence counted
// from the last pair; or none.
std::optional<std::size_t> find_pair(const YamlNode& mapping, const PathSegment& step) noexcept {
  std::uint64_t skip = step.number;
  for (std::size_t i = mapping.pair_count(); i-- > 0;) {
    if (!step_names(mapping.key(i), step)) continue;
    if (skip == 0) return i;
    --skip;
  }
  return std::nullopt;
}

template <class Node>
Node* child_of(Node& node, const PathSegment& step) noexcept {
  switch (step.kind) {
    case PathSegment::Kind::Key:
    case PathSegment::Kind::KeyNode: {
      if (node.kind() != NodeKind::Mapping) return nullptr;
      const std::optional<std::size_t> pair = find_pair(node, step);
      if (!pair) return nullptr;
      return step.kind == PathSegment::Kind::Key ? &node.value(*pair) : &node.key(*pair);
    }
    case PathSegment::Kind::Index:
      if (node.kind() != NodeKind::Sequence || step.number >= node.item_count()) return nullptr;
      return &node.items()[step.number];
  }
  return nullptr;
}

template <class Node>
Node* resolve(std::span<Node> roots, std::size_t root, const NodePath& path) noexcept {
  if (root >= roots.size()) return nullptr;
  Node* node = &roots[root];
  for (const PathSegment& step : path.segments()) {
    node = child_of(*node, step);
    if (node == nullptr) return nullptr;
  }
  return node;
}

}  // namespace

const YamlNode* node_child(const YamlNode& node, const PathSegment& step) noexcept {
  return child_of(node, step);
}

YamlNode* node_child(YamlNode& node, const PathSegment& step) noexcept {
  return child_of(node, step);
}

const YamlNode* resolve_node_path(std::span<const YamlNode> roots, std::size_t root,
                                  const NodePath& path) noexcept {
  return resolve(roots, root, path);
}

YamlNode* resolve_node_path_for_edit(std::span<YamlNode> roots, std::size_t root,
                                     const NodePath& path) noexcept {
  return resolve(roots, root, path);
}

YamlNode* resolve_parent_for_edit(std::span<YamlNode> roots, std::size_t root,
                                  const NodePath& path, std::size_t& index) {
  const std::span<const PathSegment> steps = path.segments();
  if (steps.empty()) return nullptr;
  const NodePath up(std::vector<PathSegment>(steps.begin(), steps.end() - 1));
  YamlNode* parent = resolve(roots, root, up);
  if (parent == nullptr) return nullptr;
  const YamlNode* child = node_child(*parent, steps.back());
  if (child == nullptr) return nullptr;
  index = static_cast<std::size_t>(child - parent->children().data());
  return parent;
}

PathHolders resolve_holders(std::span<const YamlNode> roots, std::size_t root,
                            const NodePath& path) noexcept {
  if (root >= roots.size()) return {};
  PathHolders holders;
  const YamlNode* node = &roots[root];
  for (const PathSegment& step : path.segments()) {
    holders = {node, holders.parent};
    node = child_of(*node, step);
    if (node == nullptr) return {};
  }
  return holders;
}

PathSegment pair_step(const YamlNode& mapping, std::size_t pair) {
  PathSegment step = PathSegment::key(std::string(mapping.key(pair).text()));
  step.empty_key = mapping.key(pair).kind() == NodeKind::Null;
  for (std::size_t i = pair + 1; i < mapping.pair_count(); ++i) {
    if (step_names(mapping.key(i), step)) ++step.number;
  }
  return step;
}

std::optional<NodePath> find_node_path(const YamlNode& root, const YamlNode& target) {
  // Pre-order walk with an explicit stack. `next` is the index of the next
  // child to visit in the frame's children; the path to the node on top is
  // made of each lower frame's last visited child.
  struct Frame {
    const YamlNode* node;
    std::size_t next;
  };
  std::vector<Frame> stack{{&root, 0}};
  bool found = &root == &target;
  while (!found && !stack.empty()) {
    Frame& top = stack.back();
    const YamlNode& node = *top.node;
    const auto children = node.children();
    if (node.kind() == NodeKind::Mapping) {
      // Pairs that no step names are skipped whole, key and value.
      while (top.next < children.size() && top.next % 2 == 0 &&
             !key_reachable(children[top.next])) {
        top.next += 2;
      }
    } else if (node.kind() != NodeKind::Sequence) {
      top.next = children.size();
    }
    if (top.next >= children.size()) {
      stack.pop_back();
      continue;
    }
    const YamlNode& child = children[top.next++];
    stack.push_back({&child, 0});
    found = &child == &target;
  }
  if (!found) return std::nullopt;
  NodePath path;
  for (std::size_t level = 0; level + 1 < stack.size(); ++level) {
    const YamlNode& node = *stack[level].node;
    const std::size_t child = stack[level].next - 1;
    if (node.kind() == NodeKind::Sequence) {
      path.push(PathSegment::index(child));
      continue;
    }
    PathSegment step = pair_step(node, child / 2);
    if (child % 2 == 0) step.kind = PathSegment::Kind::KeyNode;
    path.push(std::move(step));
  }
  return path;
}

bool mapping_has_text_key(const YamlNode& node, std::string_view key) noexcept {
  if (node.kind() != NodeKind::Mapping) return false;
  for (std::size_t i = 0; i < node.pair_count(); ++i) {
    if (key_has_text(node.key(i), key)) return true;
  }
  return false;
}

}  // namespace ostrevane
