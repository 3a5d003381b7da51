// Whole documents of a stream replaced or removed: what doc[i] = value and
// del doc[i] do to a document of several roots.
//
// Input: a document's contents, the number of one of its roots and, for a
// replacement, the new root (converted from Python). Output: the roots
// changed in place, written back so that every other document reads as it
// did:
// - The stream's %YAML directive decides how all of its documents read (the
//   reader looks at the head of the text only, and no later %YAML directive
//   counts). It is the first root's, or stood on an empty first document
//   that loading left out (NodeExtras::version_above_skipped). It therefore
//   stays at the head: a new first root takes it in place of its own %YAML
//   directive, if any, or above the empty documents left out before it, and
//   a stream without one gets none. %TAG directives are each document's own
//   and stay where they are.
// - Removing a root drops the loaded text, which no longer matches the
//   roots though no node says so, and keeps its line break, so that the text
//   written from then on ends its lines as the loaded one did.
// Nothing fails; the index must be that of a root.
#pragma once

#include <cstddef>

#include "roundtrip/document/document_data.hpp"

namespace ostrevane {

// Puts `root` in the place of root `index`, nothing of the old root kept
// but the stream's %YAML directive, and marks it modified.
void replace_stream_document(DocumentData& data, std::size_t index, YamlNode root);

// Removes root `index` (later roots move down by one).
void remove_stream_document(DocumentData& data, std::size_t index);

}  // namespace ostrevane
