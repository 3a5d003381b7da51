// Scanner: YAML text to tokens.
//
// Input: one whole text as UTF-8 bytes, already known to be valid UTF-8 (the
// input layer decodes and validates it). A leading byte-order mark is skipped
// but counted in byte offsets. C0 controls other than TAB, LF and CR, DEL,
// C1 controls other than NEL, U+FFFE and U+FFFF are refused before any token.
//
// Output: scan_all_tokens (token.hpp) returns the complete TokenList,
// StreamStart first and StreamEnd last, with the comments when asked for, or
// the first ScanError and nothing else. Nothing is recovered after an error.
//
// Invariants:
// - The scanner never recurses: block indentation and flow brackets live on
//   explicit stacks, and flow nesting stops at limits::kMaxDepth.
// - Token texts are views, either into the input (one-line plain scalars,
//   quoted scalars without escapes, doubled quotes or line breaks, and the
//   names of anchors, aliases, tags and directives) or into the list's own
//   storage, which never moves. The input must outlive the list.
// - ScannedComment texts are owned strings.
// - Texts longer than limits::kMaxScanInput bytes are refused, never
//   truncated: lines, columns and text lengths are 32-bit.
#pragma once

#include "scanner/token.hpp"
