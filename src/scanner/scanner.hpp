// Scanner: YAML text to tokens.
//
// Input: one whole text as UTF-8 bytes, already known to be valid UTF-8
// (the input layer decodes and validates). A leading byte-order mark is
// skipped but counted in byte offsets. Output: the complete token list,
// StreamStart first and StreamEnd last, plus the comments when asked for;
// or the first ScanError, with no partial list.
//
// Invariants: the scanner never recurses and keeps its nesting on explicit
// stacks; flow nesting is bounded by limits::kMaxDepth. Token texts are views
// either into the input (one-line plain scalars, quoted scalars without
// escapes, doubled quotes or line breaks, anchor/alias/tag/directive names)
// or into the list's own never-moving storage, so the input must outlive the
// list. Texts longer than limits::kMaxScanInput bytes are refused, never
// truncated.
#pragma once

#include "scanner/token.hpp"
