// Where a node of a text's first document starts, read from the scanner's
// tokens instead of a composed tree.
//
// Input: a text (borrowed for the call; valid UTF-8, as the scanner
// requires) and the steps from its first document's root to one node
// (ValueFailure::steps: an item by index, a pair's key or value by the
// pair's index). Output: that node's start, exactly as node_at finds it on
// the first root of compose_bare_documents(text): a node's first token
// after its anchor, the "-" of an empty block item, the "---" of an empty
// document, the first token after an anchor with no node, line 0 column 0
// for an empty mapping value. Or nothing where the walk cannot be sure:
// a tag, an alias, a second anchor, a pair written inside a flow sequence,
// an empty flow key, steps that lead past a scalar or out of the document,
// a scan error, or any token outside the shapes the composer builds from
// valid text; the caller then composes the text.
//
// It walks the tokens as the composer does (one frame per open collection,
// no recursion) and stops at the node's first token: the cost is the text
// up to that node, scanned in batches of tokens that are dropped once read,
// so memory is one batch and the nesting. Nothing is allocated per token.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "scanner/token.hpp"
#include "schema/validator.hpp"

namespace ostrevane::schema {

[[nodiscard]] std::optional<Span> locate_node(std::string_view text,
                                              std::span<const NodeStep> steps);

}  // namespace ostrevane::schema
