// The budget of alias expansion: one counter of nodes and text bytes that
// every expansion of aliases charges, whatever tree it expands.
//
// Input: charges, each a count of nodes and of scalar and tag text bytes
// that expanding an alias makes (or would make, for a walk that only
// measures), and what %TAG expansions add to the text where the loaded
// values hand every use of a tag to Python (tag_expansion_charge). Output: whether the totals are still within the limits, and
// which limit they passed, by name, for the message.
//
// Two budgets share the byte limit (limits::kAliasByteBudget) and differ in
// nodes: reading a text into values (the plain decoder, and the same rule on
// composed node trees for the roads that turn a text into Python values)
// allows limits::kAliasBudget nodes; writing out or copying a node tree
// with its aliases expanded (writers, views, detach, secrets, validation)
// allows limits::kNodeAliasBudget.
//
// Invariants: totals only grow (saturating), so once a charge fails every
// later one fails too: a walk that carries on after a failure (validation
// cuts the rest of its copy off) never fits a small node in after a large
// one was refused.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "util/limits.hpp"

namespace ostrevane {

// The plain road's refusal, on every road that reads a text into values.
inline constexpr std::string_view kAliasBombMessage =
    "document expands to too many nodes (possible alias bomb)";

// What one node, or one expansion of an alias, makes.
struct AliasCharge {
  std::uint64_t nodes = 0;
  std::uint64_t bytes = 0;

  AliasCharge& operator+=(const AliasCharge& other) noexcept {
    nodes = add(nodes, other.nodes);
    bytes = add(bytes, other.bytes);
    return *this;
  }

  static constexpr std::uint64_t add(std::uint64_t a, std::uint64_t b) noexcept {
    const std::uint64_t s = a + b;
    return s < a ? UINT64_MAX : s;
  }
};

// The bytes a custom tag counts in the size of its node: its text as
// written, or, where the loaded values hand tags to Python (tag callbacks
// and tag objects, each use of which gets the tag's %TAG expansion in
// full), its text as it reads.
[[nodiscard]] constexpr std::uint64_t tag_bytes(std::string_view written, std::string_view read,
                                                bool tags_to_python) noexcept {
  return tags_to_python ? read.size() : written.size();
}

// What one use of a custom tag, written in the text, charges the budget at
// once (as an alias charges what it expands to): where the tags reach
// Python, what its expansion adds to the text as written; else nothing.
// The written bytes are the text's own, as a scalar's are.
[[nodiscard]] constexpr std::uint64_t tag_expansion_charge(std::string_view written,
                                                           std::string_view read,
                                                           bool tags_to_python) noexcept {
  return tags_to_python && read.size() > written.size() ? read.size() - written.size() : 0;
}

class AliasBudget {
 public:
  enum class Limit : std::uint8_t { None, Nodes, Bytes };

  explicit constexpr AliasBudget(std::uint64_t node_limit,
                                 std::uint64_t byte_limit = limits::kAliasByteBudget) noexcept
      : node_limit_(node_limit), byte_limit_(byte_limit) {}

  // Reading a text into values.
  [[nodiscard]] static constexpr AliasBudget for_text() noexcept {
    return AliasBudget(limits::kAliasBudget);
  }
  // Expanding the aliases of a node tree.
  [[nodiscard]] static constexpr AliasBudget for_node_trees() noexcept {
    return AliasBudget(limits::kNodeAliasBudget);
  }

  // Adds `charge` to the totals; false when either total is past its limit.
  [[nodiscard]] bool charge(const AliasCharge& charge) noexcept {
    used_ += charge;
    return used_.nodes <= node_limit_ && used_.bytes <= byte_limit_;
  }

  // The limit the totals passed (nodes first), or None.
  [[nodiscard]] Limit passed() const noexcept {
    if (used_.nodes > node_limit_) return Limit::Nodes;
    if (used_.bytes > byte_limit_) return Limit::Bytes;
    return Limit::None;
  }

  // The limit passed, as messages name it: "1000000 nodes" or "268435456
  // bytes of scalar and tag text" (the node limit when none was passed).
  [[nodiscard]] std::string limit_text() const {
    return describe(passed() == Limit::Bytes ? Limit::Bytes : Limit::Nodes, node_limit_,
                    byte_limit_);
  }
  [[nodiscard]] static std::string describe(Limit limit, std::uint64_t node_limit,
                                            std::uint64_t byte_limit = limits::kAliasByteBudget) {
    if (limit == Limit::Bytes) return std::to_string(byte_limit) + " bytes of scalar and tag text";
    return std::to_string(node_limit) + " nodes";
  }

  [[nodiscard]] const AliasCharge& used() const noexcept { return used_; }
  [[nodiscard]] std::uint64_t nodes_left() const noexcept {
    return used_.nodes >= node_limit_ ? 0 : node_limit_ - used_.nodes;
  }

 private:
  std::uint64_t node_limit_;
  std::uint64_t byte_limit_;
  AliasCharge used_;
};

}  // namespace ostrevane
