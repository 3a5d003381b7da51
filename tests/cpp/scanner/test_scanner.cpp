#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "scanner/dump_tokens.hpp"
#include "scanner/scanner.hpp"
#include "util/limits.hpp"

namespace ostrevane {
namespace {

using testing::dump_tokens;

std::string dump(std::string_view yaml) {
  auto result = scan_all_tokens(yaml);
  if (!result) {
    return "error: " + result.error().message + " at " +
           std::to_string(result.error().span.line + 1) + ":" +
           std::to_string(result.error().span.column + 1);
  }
  return dump_tokens(*result);
}

// ---------------------------------------------------------------------------
// Token kinds and texts.

struct DumpCase {
  const char* name;
  std::string yaml;
  std::string expected;
};

void PrintTo(const DumpCase& c, std::ostream* os) { *os << c.name; }

class TokenDump : public ::testing::TestWithParam<DumpCase> {};

TEST_P(TokenDump, Matches) {
  const DumpCase& c = GetParam();
  EXPECT_EQ(dump(c.yaml), c.expected) << "yaml: " << c.yaml;
}

const DumpCase kDumpCases[] = {
    // Stream frame and block structure.
    {"empty", "", ""},
    {"only_comment", "# c\n", ""},
    {"plain_key", "a: 1", "MAP K S(a) V S(1) BE"},
    {"anchor_before_key", "&x a: 1", "MAP K &(x) S(a) V S(1) BE"},
    {"alias_key", "*x : 1", "MAP K *(x) V S(1) BE"},
    {"alias_name_takes_colon", "*x: 1", "*(x:) S(1)"},
    {"indentless_sequence", "key:\n- a", "MAP K S(key) V - S(a) BE"},
    {"sequence_then_mapping", "- a\nb: 1", "SEQ - S(a) BE MAP K S(b) V S(1) BE"},
    {"three_levels", "a:\n  b:\n    c: 1", "MAP K S(a) V MAP K S(b) V MAP K S(c) V S(1) BE BE BE"},
    {"nested_sequences", "- - a\n  - b\n- c", "SEQ - SEQ - S(a) - S(b) BE - S(c) BE"},
    {"explicit_key", "? a\n: b", "MAP ?K S(a) V S(b) BE"},
    {"empty_key", ": b", "MAP V S(b) BE"},
    {"document_markers", "---\na\n...\n---\nb", "DOC S(a) DOCEND DOC S(b)"},
    {"document_start_flow", "--- [a]", "DOC [ S(a) ]"},
    {"document_end_comment", "... # done", "DOCEND"},
    {"directive_then_start", "%YAML 1.2\n---\na", "%(YAML 1.2) DOC S(a)"},
    {"directive_keeps_comment", "%YAML 1.2 # c", "%(YAML 1.2 # c)"},
    {"directive_after_end", "a\n...\n%TAG ! x\n---\nb", "S(a) DOCEND %(TAG ! x) DOC S(b)"},
    {"percent_not_col0", "a: %x", "MAP K S(a) V S(%x) BE"},
    {"tab_after_colon", "a:\tb", "MAP K S(a) V S(b) BE"},
    {"property_indented", "a:\n  &x", "MAP K S(a) V &(x) BE"},
    // Flow collections.
    {"flow_sequence", "[a, b]", "[ S(a) , S(b) ]"},
    {"flow_mapping_alias_key", "{a: 1, *x : 2}", "{ K S(a) V S(1) , *(x) V S(2) }"},
    {"flow_trailing_comma", "[a, ]", "[ S(a) , ]"},
    {"flow_inner_blank", "[a b]", "[ S(a b) ]"},
    {"flow_adjacent_value", "{\"a\":1}", "{ S\"(a) V S(1) }"},
    {"flow_single_pair", "[a: 1]", "[ K S(a) V S(1) ]"},
    {"flow_collection_key", "[a]: b", "MAP K [ S(a) ] V S(b) BE"},
    {"flow_no_comma", "[a,b]", "[ S(a) , S(b) ]"},
    {"flow_colon_inside", "[a:b]", "[ S(a:b) ]"},
    {"flow_key_before_bracket", "{a:[b]}", "{ K S(a) V [ S(b) ] }"},
    {"flow_dash_word", "[-a]", "[ S(-a) ]"},
    {"flow_plain_indicators", "[%x, .x, |x, >x]", "[ S(%x) , S(.x) , S(|x) , S(>x) ]"},
    {"flow_top_level_col0", "[a,\nb]", "[ S(a) , S(b) ]"},
    {"flow_nested", "{a: [1, {b: c}]}", "{ K S(a) V [ S(1) , { K S(b) V S(c) } ] }"},
    {"flow_tab_before_closer", "[a,\n\t]", "[ S(a) , ]"},
    {"flow_document_marker_folds", "[a\n---\n]", "[ S(a ---) ]"},
    {"flow_multiline_quoted_key", "{\"a\nb\": c}", "{ K S\"(a b) V S(c) }"},
    // A closer's adjacency does not leak into the next top-level collection.
    {"flow_adjacency_reset", "[a]: [:b]", "MAP K [ S(a) ] V [ S(:b) ] BE"},
    // Node properties.
    {"anchor_sequence", "&a [1]", "&(a) [ S(1) ]"},
    {"tag_nonspecific", "! a", "!(!) S(a)"},
    {"tag_primary", "!foo a", "!(!foo) S(a)"},
    {"tag_secondary", "!!int 1", "!(!!int) S(1)"},
    {"tag_named", "!e!x a", "!(!e!x) S(a)"},
    {"tag_verbatim", "!<tag:a,2000:b> a", "!(!<tag:a,2000:b>) S(a)"},
    {"tag_ends_at_comma", "[!a, b]", "[ !(!a) , S(b) ]"},
    {"tag_keeps_openers", "!a[b{c d", "!(!a[b{c) S(d)"},
    // Plain scalars.
    {"plain_inner_blanks", "a b  c", "S(a b  c)"},
    {"plain_trailing_blanks", "a  ", "S(a)"},
    {"plain_comment", "a #x", "S(a)"},
    {"plain_hash_inside", "a#x", "S(a#x)"},
    {"plain_hash_after_colon", "a: 1#x", "MAP K S(a) V S(1#x) BE"},
    {"plain_colon_word", "key:value", "S(key:value)"},
    {"plain_folds", "a:\n  b\n\n  c", "MAP K S(a) V S(b\\nc) BE"},
    {"plain_top_level_fold", "a\n  b\n\n  c", "S(a b\\nc)"},
    {"plain_dash_continues", "a\n- b", "S(a - b)"},
    {"plain_comment_after_blank_lines", "a\n\n# c\nb", "S(a) S(b)"},
    {"plain_marker_ends", "a\n---\nb", "S(a) DOC S(b)"},
    {"plain_marker_inside_line", "a --- b", "S(a --- b)"},
    {"plain_less_indented_colon", "x:\n    a\n  b: c", "MAP K S(x) V S(a b) MAP V S(c) BE BE"},
    {"plain_end_after_break", "a\n  b\n", "S(a b)"},
    {"plain_non_ascii", "é: ü ö", "MAP K S(é) V S(ü ö) BE"},
    {"plain_crlf", "a: 1\r\nb: 2\r\n", "MAP K S(a) V S(1) K S(b) V S(2) BE"},
    // Quoted scalars.
    {"double_escapes", "\"a\\tb\\x41\\u00e9\\U0001F600\"", "S\"(a\\tbAé😀)"},
    {"double_named_escapes", "\"\\N\\_\\L\\P\\e\\/\\\"\"", "S\"(\u0085\u00a0\u2028\u2029\x1b/\")"},
    {"double_fold", "\"a  \n  b\"", "S\"(a b)"},
    {"double_escaped_break_space", "\"a \\\n  b\"", "S\"(a b)"},
    {"double_escaped_break", "\"a\\\n  b\"", "S\"(ab)"},
    {"double_escaped_space_kept", "\"a\\ \n  b\"", "S\"(a  b)"},
    {"double_empty_lines", "\"a\n\n  b\"", "S\"(a\\nb)"},
    {"double_key", "\"a b\": c", "MAP K S\"(a b) V S(c) BE"},
    {"double_comment_after", "\"a\" # c", "S\"(a)"},
    {"single_quote_doubled", "'it''s'", "S'(it's)"},
    {"single_empty", "''", "S'()"},
    {"single_empty_line", "'a\n\n  b'", "S'(a\\nb)"},
    {"single_fold", "'a\nb'", "S'(a b)"},
    {"single_trailing_blanks_cut", "'a  \n  b'", "S'(a b)"},
    {"quoted_top_level_col0", "\"a\nb\"", "S\"(a b)"},
    {"quoted_flow_any_column", "key: [\"a\n b\"]", "MAP K S(key) V [ S\"(a b) ] BE"},
    {"quoted_adjacent_colon_flow", "[\"a\":1]", "[ S\"(a) V S(1) ]"},
    // Block scalars.
    {"literal_clip", "|\n  a\n  b\n", "S|(a\\nb\\n)"},
    {"literal_strip", "|-\n  a\n  b\n", "S|(a\\nb)"},
    {"literal_keep", "|+\n  a\n  b\n\n\n", "S|(a\\nb\\n\\n\\n)"},
    {"folded", ">\n  a\n  b\n\n  c\n", "S>(a b\\nc\\n)"},
    {"folded_more_indented", ">\n  a\n    b\n  c\n", "S>(a\\n  b\\nc\\n)"},
    {"literal_no_final_break", "|\n  a", "S|(a\\n)"},
    {"literal_strip_no_final_break", "|-\n  a", "S|(a)"},
    {"literal_indicator_under_mapping", "a:\n  b: |2\n      x\n",
     "MAP K S(a) V MAP K S(b) V S|(  x\\n) BE BE"},
    {"literal_header_comment", "| #c\n  a", "S|(a\\n)"},
    {"literal_empty_before_key", "key: |\nnext: 1", "MAP K S(key) V S|() K S(next) V S(1) BE"},
    {"literal_keep_empty_before_key", "key: |+\n\n\nnext: 1",
     "MAP K S(key) V S|(\\n\\n) K S(next) V S(1) BE"},
    {"literal_less_indented_ends", "a: |\n    x\n  y\n", "MAP K S(a) V S|(x\\n) S(y) BE"},
    {"literal_marker_ends", "|\na\n---\nb", "S|(a\\n) DOC S(b)"},
    {"literal_in_sequence", "- |\n  a\n- b", "SEQ - S|(a\\n) - S(b) BE"},
    {"literal_trailing_more_indented_blank", "|\n  a\n    \n", "S|(a\\n  \\n)"},
    {"literal_keeps_tabs", "|\n  a\tb\n  \tc\n", "S|(a\\tb\\n\\tc\\n)"},
    {"literal_at_end_of_text", "|", "S|()"},
    // Mended: a property at its mapping's indentation that starts the next key.
    {"mend_anchor_starts_key", "a:\n&x b: 1", "MAP K S(a) V K &(x) S(b) V S(1) BE"},
    {"mend_tag_starts_key", "a:\n!!str 1: x", "MAP K S(a) V K !(!!str) S(1) V S(x) BE"},
    {"mend_two_properties", "a:\n!t &x b: 1", "MAP K S(a) V K !(!t) &(x) S(b) V S(1) BE"},
    {"mend_property_quoted_key", "a:\n&x \"b\": 1", "MAP K S(a) V K &(x) S\"(b) V S(1) BE"},
    {"mend_property_flow_key", "a:\n&x [1]: 2", "MAP K S(a) V K &(x) [ S(1) ] V S(2) BE"},
    {"mend_outer_mapping", "x:\n  a:\n&y b: 1",
     "MAP K S(x) V MAP K S(a) V BE K &(y) S(b) V S(1) BE"},
    // Mended: a top-level block scalar with only blank lines.
    {"mend_blank_block_scalar", "|\n  \n", "S|()"},
    {"mend_blank_block_scalar_keep", "|+\n  \n \n", "S|(\\n\\n)"},
    {"mend_blank_block_scalar_before_document", "--- |\n  \n---\nb", "DOC S|() DOC S(b)"},
    {"mend_blank_folded_no_break", ">\n   ", "S>()"},
};

INSTANTIATE_TEST_SUITE_P(Scanner, TokenDump, ::testing::ValuesIn(kDumpCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Every error message, with its line and column (counted from 1).

struct ErrorCase {
  const char* name;
  std::string yaml;
  std::string message;
  std::uint32_t line;
  std::uint32_t column;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class ScanErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ScanErrors, MessageAndPosition) {
  const ErrorCase& c = GetParam();
  auto result = scan_all_tokens(c.yaml);
  ASSERT_FALSE(result.has_value()) << "yaml: " << c.yaml << " gave " << dump_tokens(*result);
  EXPECT_EQ(result.error().message, c.message) << "yaml: " << c.yaml;
  EXPECT_EQ(result.error().span.line + 1, c.line) << "yaml: " << c.yaml;
  EXPECT_EQ(result.error().span.column + 1, c.column) << "yaml: " << c.yaml;
}

const ErrorCase kErrorCases[] = {
    // Character check.
    {"control_char", "a\ab", "disallowed control character U+0007", 1, 2},
    {"c1_control", "x\u0080", "disallowed control character U+0080", 1, 2},
    {"nul", std::string("a: \0", 4), "disallowed control character U+0000", 1, 4},
    {"del", "ab\x7f", "disallowed control character U+007F", 1, 3},
    {"ffff_after_crlf", "a\r\nb\r\nc\uffff", "disallowed control character U+FFFF", 3, 2},
    {"control_char_past_first_blocks", std::string(150, 'a') + "\x01",
     "disallowed control character U+0001", 1, 151},
    {"c1_control_in_long_text",
     "k: " + std::string(70, 'v') + "\n" + std::string(60, 'w') + "\u009f",
     "disallowed control character U+009F", 2, 61},
    {"fffe_long_line", "0123456789abcdefghij: \ufffe", "disallowed control character U+FFFE", 1,
     23},
    // Dispatch.
    {"reserved_at", "@x", "'@' is a reserved indicator and cannot start a plain scalar", 1, 1},
    {"reserved_backtick", "`x", "'`' is a reserved indicator and cannot start a plain scalar", 1,
     1},
    {"reserved_in_flow", "[@x]", "'@' is a reserved indicator and cannot start a plain scalar", 1,
     2},
    {"comma_block", ",a", "a plain scalar cannot start with ','", 1, 1},
    {"comment_no_space_quoted", "'a'#b", "a comment must be preceded by whitespace", 1, 4},
    {"comment_no_space_flow", "[a]#b", "a comment must be preceded by whitespace", 1, 4},
    // Block structure.
    {"multiline_key", "a\nb: c", "an implicit mapping key cannot span multiple lines", 1, 1},
    {"tab_before_key", "\tkey: value", "a tab cannot be used for indentation", 1, 2},
    {"tab_before_entry", "\t- a", "a tab cannot be used for indentation", 1, 2},
    {"tab_before_explicit_key", "\t? a", "a tab cannot be used for indentation", 1, 2},
    {"tab_after_question", "?\ta", "a tab cannot be used for indentation", 1, 2},
    {"tab_before_anchor_key", "\t&x a : 1", "a tab cannot be used for indentation", 1, 7},
    {"tab_before_quoted_key", "\t\"a\": 1", "a tab cannot be used for indentation", 1, 2},
    {"entry_indented_past", "-\n  k: v\n - x", "a sequence entry is indented past its sequence", 3,
     2},
    {"entry_on_key_line", "key: - a",
     "a block sequence cannot start on the same line as its mapping key", 1, 6},
    {"entry_after_property", "&a - b",
     "a block sequence entry cannot follow an anchor or tag on the same line", 1, 4},
    // The error stands at the key, where the mapping would start.
    {"mapping_on_start_line", "--- a: b", "a block collection cannot start on the same line as ---",
     1, 5},
    {"mapping_on_start_line_spaced", "---  a : b",
     "a block collection cannot start on the same line as ---", 1, 6},
    {"sequence_on_start_line", "--- - a", "a block collection cannot start on the same line as ---",
     1, 5},
    {"content_after_end_marker", "... x", "unexpected content after document-end marker (...)", 1,
     1},
    // Flow collections.
    {"nesting_limit", std::string(1001, '['), "maximum nesting depth (1000) exceeded", 1, 1001},
    {"stray_closer", "]", "unexpected ']' with no open flow collection", 1, 1},
    {"stray_brace", "a: }", "unexpected '}' with no open flow collection", 1, 4},
    {"mismatched_bracket", "[a}", "mismatched flow collection: '}' cannot close a '['", 1, 3},
    {"mismatched_brace", "{a]", "mismatched flow collection: ']' cannot close a '{'", 1, 3},
    {"multiline_flow_key", "[a,\nb]: c",
     "a multiline flow collection cannot be an implicit mapping key", 2, 2},
    {"content_after_flow", "[a] b", "unexpected content after flow collection", 1, 4},
    {"stray_comma_first", "[, a]", "empty flow entry (stray ',')", 1, 2},
    {"stray_comma_double", "[a,, b]", "empty flow entry (stray ',')", 1, 4},
    {"missing_comma_bracket", "[a [b]]", "missing ',' between flow collection entries", 1, 4},
    {"missing_comma_quoted", "[\"a\" b]", "missing ',' between flow collection entries", 1, 6},
    {"missing_comma_multiline_key", "{a: b\nc: d}", "missing ',' between flow collection entries",
     1, 5},
    {"flow_pair_two_lines", "[a\n: 1]",
     "the implicit key of a flow sequence pair must be on one line", 1, 2},
    {"flow_pair_plain_two_lines", "[a\nb: c]",
     "the implicit key of a flow sequence pair must be on one line", 1, 2},
    {"flow_not_indented", "key: [a,\nb]",
     "flow content must be indented more than its block context", 2, 1},
    {"flow_unclosed", "[a", "unclosed flow collection at end of input", 1, 3},
    {"flow_bare_dash", "[-]", "a plain scalar cannot be a bare '-' here", 1, 2},
    {"flow_document_marker", "[a,\n---\n]",
     "a document marker is not allowed inside a flow collection", 2, 1},
    {"flow_tab_indent", "[a,\n\tb]", "a tab cannot be used for indentation", 2, 1},
    // Node properties and directives.
    {"anchor_empty", "& a", "expected anchor name", 1, 1},
    {"alias_empty", "*", "expected alias name", 1, 1},
    {"property_not_indented", "a:\n&x", "a node property must be indented past its mapping key", 2,
     1},
    {"property_not_indented_value", "a:\n&x b",
     "a node property must be indented past its mapping key", 2, 1},
    {"tag_not_indented_next_line", "a:\n!t\n&x b: 1",
     "a node property must be indented past its mapping key", 2, 1},
    {"property_not_indented_block_scalar", "a:\n&x |\n  t",
     "a node property must be indented past its mapping key", 2, 1},
    {"property_not_indented_entry", "a:\n&x - b",
     "a node property must be indented past its mapping key", 2, 1},
    {"verbatim_empty", "!<> a", "a verbatim tag must not be empty", 1, 1},
    {"verbatim_unterminated", "!<abc d", "unterminated verbatim tag: expected '>'", 1, 1},
    {"directive_after_content", "a: 1\n%YAML 1.2\n---",
     "a directive must start the stream or follow a document-end marker (...)", 2, 1},
    {"directive_after_start", "---\n%YAML 1.2",
     "a directive must start the stream or follow a document-end marker (...)", 2, 1},
    // Quoted scalars.
    {"double_unterminated", "a: \"abc", "unterminated double-quoted scalar", 1, 4},
    {"single_unterminated", "'abc\n", "unterminated single-quoted scalar", 1, 1},
    {"escape_at_end", "\"a\\", "unterminated escape sequence", 1, 1},
    {"escape_unknown", "\"a\\q\"", "unknown escape character: '\\q'", 1, 4},
    {"escape_unknown_non_ascii", "\"\\é\"", "unknown escape character: '\\é'", 1, 3},
    {"hex_incomplete", "\"\\x4", "incomplete unicode escape", 1, 1},
    {"hex_bad_digit", "\"\\x4\"", "invalid hex digit in unicode escape: '\"'", 1, 5},
    {"hex_surrogate", "\"\\uD800\"", "invalid unicode code point: U+D800", 1, 1},
    {"hex_too_large", "x: \"\\UFFFFFFFF\"", "invalid unicode code point: U+FFFFFFFF", 1, 4},
    {"quoted_marker", "\"a\n---\nb\"", "a document marker cannot appear inside a quoted scalar", 1,
     1},
    {"quoted_marker_single", "'a\n...\n'", "a document marker cannot appear inside a quoted scalar",
     1, 1},
    {"quoted_not_indented", "a:\n  b: \"x\n  y\"",
     "a multi-line quoted scalar must be indented past its block context", 3, 3},
    {"quoted_key_two_lines", "\"a\nb\": c", "an implicit mapping key cannot span multiple lines", 1,
     1},
    {"quoted_content_after", "'a'b", "unexpected content after quoted scalar", 1, 4},
    {"quoted_key_on_start_line", "--- 'a': b",
     "a block collection cannot start on the same line as ---", 1, 5},
    {"double_quoted_key_on_start_line", "--- \"a\"  : b",
     "a block collection cannot start on the same line as ---", 1, 5},
    // Block scalars.
    {"block_zero_indicator", "|0", "unexpected content after block scalar indicator", 1, 2},
    {"block_two_chomping", "|++", "unexpected content after block scalar indicator", 1, 3},
    {"block_content_on_header", "> x", "unexpected content after block scalar indicator", 1, 3},
    {"block_comment_no_space", "|#c", "a comment must be preceded by whitespace", 1, 2},
    {"block_leading_empty_line", "key: |\n\n   \n  x",
     "a leading empty line in a block scalar is indented more than the content", 1, 6},
    {"block_tab_on_blank_line", "key: |\n\t\nnext: 1", "a tab cannot be used for indentation", 2,
     1},
};

INSTANTIATE_TEST_SUITE_P(Scanner, ScanErrors, ::testing::ValuesIn(kErrorCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Spans, end offsets and styles.

TEST(ScannerSpans, EmptyTextAndByteOrderMark) {
  for (const std::string& text : {std::string(), std::string("\xEF\xBB\xBF")}) {
    auto result = scan_all_tokens(text);
    ASSERT_TRUE(result);
    ASSERT_EQ(result->tokens.size(), 2u);
    EXPECT_EQ(result->tokens[0].kind, TokenKind::StreamStart);
    EXPECT_EQ(result->tokens[1].kind, TokenKind::StreamEnd);
    for (const Token& t : result->tokens) EXPECT_EQ(t.span(), (Span{text.size(), 0, 0, 0}));
    EXPECT_EQ(result->leading_bom, !text.empty());
  }
}

TEST(ScannerSpans, ByteOrderMarkCountsInOffsetsNotColumns) {
  auto result = scan_all_tokens("\xEF\xBB\xBF# c\na: b", {.collect_comments = true});
  ASSERT_TRUE(result);
  ASSERT_EQ(result->comments.size(), 1u);
  EXPECT_EQ(result->comments[0].span, (Span{3, 0, 0, 0}));
  EXPECT_EQ(result->tokens[1].span(), (Span{7, 0, 1, 0}));  // MappingStart
}

TEST(ScannerSpans, KeyOfPropertyTakesPropertyPosition) {
  auto result = scan_all_tokens("&x a: 1");
  ASSERT_TRUE(result);
  const auto& t = result->tokens;
  ASSERT_EQ(dump_tokens(*result), "MAP K &(x) S(a) V S(1) BE");
  for (int i : {1, 2, 3}) {
    EXPECT_EQ(t[i].span(), (Span{0, 0, 0, 0})) << i;
    EXPECT_EQ(t[i].end_offset, 0u) << i;
  }
  EXPECT_EQ(t[4].span(), (Span{3, 0, 0, 3}));  // Scalar a
  EXPECT_EQ(t[4].end_offset, 4u);
  EXPECT_EQ(t[5].span(), (Span{4, 0, 0, 4}));  // Value at ':'
  EXPECT_EQ(t[5].end_offset, 4u);
  EXPECT_EQ(t[7].span(), (Span{7, 0, 0, 7}));  // BlockEnd at the end
}

TEST(ScannerSpans, ColumnsCountCharacters) {
  auto result = scan_all_tokens("é: ü\nxy: \"ö\"");
  ASSERT_TRUE(result);
  const auto& t = result->tokens;
  ASSERT_EQ(dump_tokens(*result), "MAP K S(é) V S(ü) K S(xy) V S\"(ö) BE");
  EXPECT_EQ(t[4].span(), (Span{2, 0, 0, 1}));  // ':' after a two-byte letter
  EXPECT_EQ(t[5].span(), (Span{4, 0, 0, 3}));  // ü
  EXPECT_EQ(t[5].end_offset, 6u);
  EXPECT_EQ(t[9].span(), (Span{11, 0, 1, 4}));  // the quote
  EXPECT_EQ(t[9].end_offset, 15u);              // after the closing quote
}

TEST(ScannerSpans, LineBreakForms) {
  // CR LF and lone CR each end one line; two CRs are two lines.
  auto result = scan_all_tokens("- a\r\n- b\r- c\r\r- d");
  ASSERT_TRUE(result);
  ASSERT_EQ(dump_tokens(*result), "SEQ - S(a) - S(b) - S(c) - S(d) BE");
  EXPECT_EQ(result->tokens[4].span(), (Span{5, 0, 1, 0}));
  EXPECT_EQ(result->tokens[6].span(), (Span{9, 0, 2, 0}));
  EXPECT_EQ(result->tokens[8].span(), (Span{14, 0, 4, 0}));
}

TEST(ScannerSpans, ScalarEndOffsetsAndStyles) {
  struct Case {
    std::string yaml;
    ScalarStyle style;
    std::uint64_t offset;
    std::uint64_t end_offset;
  };
  const Case cases[] = {
      {"abc  # c", ScalarStyle::Plain, 0, 3},
      {"a\n b  \n", ScalarStyle::Plain, 0, 4},
      {"'x''y' ", ScalarStyle::SingleQuoted, 0, 6},
      {"  \"x\\ty\"", ScalarStyle::DoubleQuoted, 2, 8},
      {"|\n  a\n\n  b\n\n", ScalarStyle::Literal, 0, 12},
      {">-\n  a\n  next", ScalarStyle::Folded, 0, 13},
      {"- |\n  a\n- b", ScalarStyle::Literal, 2, 8},
  };
  for (const Case& c : cases) {
    auto result = scan_all_tokens(c.yaml);
    ASSERT_TRUE(result) << c.yaml;
    const Token* scalar = nullptr;
    for (const Token& t : result->tokens)
      if (t.kind == TokenKind::Scalar && !scalar) scalar = &t;
    ASSERT_NE(scalar, nullptr) << c.yaml;
    EXPECT_EQ(scalar->style, c.style) << c.yaml;
    EXPECT_EQ(scalar->span().offset, c.offset) << c.yaml;
    EXPECT_EQ(scalar->end_offset, c.end_offset) << c.yaml;
  }
}

TEST(ScannerSpans, ErrorPositionsCountBytesAndCharacters) {
  auto result = scan_all_tokens("é: \"\\q\"");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().span, (Span{6, 0, 0, 5}));
  auto control = scan_all_tokens("ab\r\nü\x01");
  ASSERT_FALSE(control);
  EXPECT_EQ(control.error().span, (Span{6, 0, 1, 1}));
}

TEST(ScannerSpans, FileIdReachesEverySpan) {
  auto result = scan_all_tokens("a: [b, {c: d}]\n# x\n", {.file_id = 7, .collect_comments = true});
  ASSERT_TRUE(result);
  for (const Token& t : result->tokens) EXPECT_EQ(t.span().file_id, 7u);
  ASSERT_EQ(result->comments.size(), 1u);
  EXPECT_EQ(result->comments[0].span.file_id, 7u);
  auto error = scan_all_tokens("a: [", {.file_id = 3});
  ASSERT_FALSE(error);
  EXPECT_EQ(error.error().span.file_id, 3u);
}

// ---------------------------------------------------------------------------
// Texts: views into the input where allowed, else owned storage that
// outlives moves of the list.

TEST(ScannerTexts, ViewsAndOwnedTexts) {
  const std::string yaml =
      "a: plain\nb: 'single'\nc: \"double\"\nd: fold\n  ed\ne: \"x\\ty\"\nf: |\n  z\n";
  auto result = scan_all_tokens(yaml);
  ASSERT_TRUE(result);
  const auto in_input = [&](std::string_view s) {
    return s.data() >= yaml.data() && s.data() + s.size() <= yaml.data() + yaml.size();
  };
  std::vector<std::pair<std::string, bool>> seen;
  for (const Token& t : result->tokens)
    if (t.kind == TokenKind::Scalar) seen.emplace_back(std::string(t.text()), in_input(t.text()));
  const std::vector<std::pair<std::string, bool>> expected = {
      {"a", true}, {"plain", true},    {"b", true}, {"single", true}, {"c", true}, {"double", true},
      {"d", true}, {"fold ed", false}, {"e", true}, {"x\ty", false},  {"f", true}, {"z\n", false}};
  EXPECT_EQ(seen, expected);

  // Owned texts live in chunks that do not move with the list.
  TokenList moved = std::move(*result);
  std::string all;
  for (const Token& t : moved.tokens)
    if (t.kind == TokenKind::Scalar) all += std::string(t.text()) + "|";
  EXPECT_EQ(all, "a|plain|b|single|c|double|d|fold ed|e|x\ty|f|z\n|");
}

TEST(ScannerTexts, ManyOwnedTextsAcrossArenaChunks) {
  std::string yaml;
  for (int i = 0; i < 20000; ++i) yaml += "- \"v" + std::to_string(i) + "\\t\"\n";
  auto result = scan_all_tokens(yaml);
  ASSERT_TRUE(result);
  int i = 0;
  for (const Token& t : result->tokens) {
    if (t.kind != TokenKind::Scalar) continue;
    ASSERT_EQ(t.text(), "v" + std::to_string(i) + "\t");
    ++i;
  }
  EXPECT_EQ(i, 20000);
}

// ---------------------------------------------------------------------------
// Comments.

TEST(ScannerComments, CollectedWithTrimmedText) {
  auto result =
      scan_all_tokens("#  two spaces\na: 1 #x   \n#\nb: | # hdr\n  t\n# tail\u3000\u00a0 \n",
                      {.collect_comments = true});
  ASSERT_TRUE(result);
  std::vector<std::string> texts;
  for (const auto& c : result->comments) texts.push_back(c.text);
  // The comment on a block scalar's header line is collected too: the
  // round-trip tree keeps it when the scalar is rewritten.
  EXPECT_EQ(texts, (std::vector<std::string>{" two spaces", "x", "", "hdr", "tail"}));
  EXPECT_EQ(result->comments[1].span, (Span{19, 0, 1, 5}));
  auto quiet = scan_all_tokens("# c\na: 1 # d\n");
  ASSERT_TRUE(quiet);
  EXPECT_TRUE(quiet->comments.empty());
}

// ---------------------------------------------------------------------------
// Stream frame, limits and nesting.

TEST(ScannerFrame, ReserveRule) {
  EXPECT_EQ(token_reserve_count(100'000), 12'500u);
  EXPECT_EQ(token_reserve_count(1'000), 500u);
  EXPECT_EQ(token_reserve_count(10), 8u);
  EXPECT_EQ(token_reserve_count(1'000'000), 65'536u);
}

// A large token buffer stays with its thread: the next large scan writes
// into the same memory, and a list from another thread's scan is freed
// without disturbing this thread's buffer.
TEST(ScannerFrame, LargeTokenBuffersAreReusedPerThread) {
  std::string yaml;
  // About 50,000 tokens: more than the smallest kept buffer, less than the
  // largest.
  for (int i = 0; i < 5'000; ++i) yaml += "k" + std::to_string(i) + ": [v, \"w\\t\"]\n";
  std::string first_dump;
  const Token* first_data = nullptr;
  {
    auto first = scan_all_tokens(yaml);
    ASSERT_TRUE(first);
    first_data = first->tokens.data();
    first_dump = dump_tokens(*first);
  }
  EXPECT_GE(detail::token_buffer_cached_bytes(), detail::kTokenBufferCacheMin);
  EXPECT_LE(detail::token_buffer_cached_bytes(), limits::kTokenBufferCache);
  std::optional<TokenList> from_other_thread;
  std::thread([&] { from_other_thread = std::move(*scan_all_tokens(yaml)); }).join();
  auto second = scan_all_tokens(yaml);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->tokens.data(), first_data);
  EXPECT_EQ(dump_tokens(*second), first_dump);
  EXPECT_EQ(dump_tokens(*from_other_thread), first_dump);
  from_other_thread.reset();
  // A small scan leaves the large buffer where it is.
  auto small = scan_all_tokens("a: b");
  ASSERT_TRUE(small);
  EXPECT_EQ(small->tokens.size(), 8u);
}

// What a thread keeps after a scan far larger than the cache is bounded.
TEST(ScannerFrame, KeptTokenBufferIsBounded) {
  std::string yaml;
  for (int i = 0; i < 200'000; ++i) yaml += "- [a, b]\n";
  std::thread([&] {
    ASSERT_TRUE(scan_all_tokens(yaml));
    EXPECT_LE(detail::token_buffer_cached_bytes(), limits::kTokenBufferCache);
  }).join();
}

TEST(ScannerFrame, AcceptedCharacters) {
  for (const std::string& yaml :
       {std::string("x\r\n\u0085"), std::string("a\tb: c\u00a0"), std::string("x: a\ufeffb")}) {
    EXPECT_TRUE(scan_all_tokens(yaml)) << yaml;
  }
}

TEST(ScannerFrame, FlowNestingLimit) {
  const std::string ok = std::string(1000, '[') + std::string(1000, ']');
  EXPECT_TRUE(scan_all_tokens(ok));
}

TEST(ScannerFrame, DeepBlockNestingNeedsNoRecursion) {
  // 1,000 nested block sequences on one line, the most accepted, then
  // closed at the end.
  std::string yaml;
  for (int i = 0; i < 1'000; ++i) yaml += "- ";
  yaml += "a";
  auto result = scan_all_tokens(yaml);
  ASSERT_TRUE(result);
  std::size_t block_ends = 0;
  for (const Token& t : result->tokens) block_ends += t.kind == TokenKind::BlockEnd;
  EXPECT_EQ(block_ends, 1'000u);
}

TEST(ScannerFrame, DeepBlockMappingNesting) {
  std::string yaml;
  for (int i = 0; i < 1'000; ++i) yaml += std::string(static_cast<std::size_t>(i), ' ') + "k:\n";
  auto result = scan_all_tokens(yaml);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->tokens.size(), 2u + 1'000u * 5u);  // MAP K S V per line, then the BEs
}

// A block collection past the depth limit ends the scan at its start token,
// however deep the text goes on: the first thousand levels are all it costs.
struct DeepBlockCase {
  const char* name;
  std::string yaml;
  TokenKind last;
  std::uint32_t line, column;  // of the stop, from 1
};

class ScannerDeepBlock : public ::testing::TestWithParam<DeepBlockCase> {};

std::string repeat(std::string_view part, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += part;
  return out;
}

// `lines` lines of `line`, each indented `step` columns past the one before.
std::string staircase(std::string_view line, std::size_t step, std::size_t lines) {
  std::string yaml;
  for (std::size_t i = 0; i < lines; ++i) yaml += std::string(i * step, ' ') + std::string(line);
  return yaml;
}

TEST_P(ScannerDeepBlock, StopsAtTheFirstLevelPastTheLimit) {
  const DeepBlockCase& c = GetParam();
  auto whole = scan_all_tokens(c.yaml);
  ASSERT_FALSE(whole);
  EXPECT_EQ(whole.error().message, "maximum nesting depth (1000) exceeded");
  EXPECT_EQ(whole.error().span.line + 1, c.line);
  EXPECT_EQ(whole.error().span.column + 1, c.column);

  DocumentScanner scanner(c.yaml);
  ASSERT_TRUE(scanner.scan_next_document());
  EXPECT_TRUE(scanner.finished());
  ASSERT_NE(scanner.depth_exceeded(), nullptr);
  EXPECT_EQ(scanner.depth_exceeded()->message, "maximum nesting depth (1000) exceeded");
  EXPECT_EQ(scanner.depth_exceeded()->span, whole.error().span);
  const TokenVector& toks = scanner.tokens().tokens;
  ASSERT_FALSE(toks.empty());
  EXPECT_LT(toks.size(), 10'000u);
  // The collection's start token is there, at the stop; its properties and
  // key may follow it.
  bool found = false;
  for (const Token& t : toks) found |= t.kind == c.last && t.span() == whole.error().span;
  EXPECT_TRUE(found);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScannerDeepBlock,
    ::testing::Values(
        DeepBlockCase{"sequences", repeat("- ", 1'001) + "a", TokenKind::SequenceStart, 1, 2001},
        DeepBlockCase{"sequences_far", repeat("- ", 100'000) + "a", TokenKind::SequenceStart, 1,
                      2001},
        DeepBlockCase{"mappings", staircase("k:\n", 1, 3'000), TokenKind::MappingStart, 1001, 1001},
        // A sequence and a mapping per line.
        DeepBlockCase{"mixed", staircase("- k:\n", 4, 600), TokenKind::SequenceStart, 501, 2001},
        DeepBlockCase{"properties", staircase("&a !t k:\n", 1, 1'200), TokenKind::MappingStart,
                      1001, 1001}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ScannerFrame, TooLargeTextIsRefused) {
  // Reserved, never touched: the size check comes before any byte is read.
  const std::size_t size = limits::kMaxScanInput + 1;
  void* block = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (block == MAP_FAILED) GTEST_SKIP() << "cannot reserve 4 GiB of address space";
  auto result = scan_all_tokens(std::string_view(static_cast<const char*>(block), size));
  munmap(block, size);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().message,
            "input too large to scan: 4294967296 bytes (the limit is 4294967295)");
}

TEST(ScannerFrame, DebugText) {
  Token key{};
  key.kind = TokenKind::Key;
  key.flag = true;
  EXPECT_EQ(token_debug_text(key), "Key { explicit: true }");
  Token map{};
  map.kind = TokenKind::MappingStart;
  EXPECT_EQ(token_debug_text(map), "MappingStart { flow: false }");
  Token scalar{};
  scalar.kind = TokenKind::Scalar;
  scalar.text_data = "x";
  scalar.text_size = 1;
  EXPECT_EQ(token_debug_text(scalar), "Scalar(x)");
  Token end{};
  end.kind = TokenKind::BlockEnd;
  EXPECT_EQ(token_debug_text(end), "BlockEnd");
}

TEST(ScannerFrame, BlockFlagsAcrossLines) {
  // In flow context a line break keeps simple_key_allowed as it was: the
  // scalar after "a:" on the next line is a value, not a new key.
  EXPECT_EQ(dump("{a:\n b}"), "{ K S(a) V S(b) }");
  // In block context every line break allows a key again.
  EXPECT_EQ(dump("a:\n  b: c"), "MAP K S(a) V MAP K S(b) V S(c) BE BE");
}

}  // namespace
}  // namespace ostrevane

namespace ostrevane {
namespace {

// ---------------------------------------------------------------------------
// The incremental form: a document at a time, each call ending at a boundary.

bool is_boundary(TokenKind k) {
  return k == TokenKind::DocumentStart || k == TokenKind::DocumentEnd ||
         k == TokenKind::Directive || k == TokenKind::StreamEnd;
}

// Every call's tokens, dumped and joined by " / "; or the error as dump()
// gives it. Tokens are discarded after each call.
std::string dump_by_document(std::string_view yaml) {
  DocumentScanner scanner(yaml);
  std::string out;
  while (!scanner.finished()) {
    scanner.discard_tokens();
    if (auto r = scanner.scan_next_document(); !r) {
      return out + (out.empty() ? "" : " / ") + "error: " + r.error().message + " at " +
             std::to_string(r.error().span.line + 1) + ":" +
             std::to_string(r.error().span.column + 1);
    }
    const TokenList& list = scanner.tokens();
    EXPECT_FALSE(list.tokens.empty());
    if (!list.tokens.empty()) {
      EXPECT_TRUE(is_boundary(list.tokens.back().kind)) << yaml;
      for (std::size_t i = 0; i + 1 < list.tokens.size(); ++i)
        EXPECT_FALSE(is_boundary(list.tokens[i].kind)) << yaml;
    }
    if (!out.empty()) out += " / ";
    std::string part = "[";
    for (const Token& t : list.tokens) {
      if (part.size() > 1) part += ' ';
      part += testing::dump_token(t);
    }
    out += part + "]";
  }
  return out;
}

struct ByDocumentCase {
  const char* yaml;
  const char* parts;
};

class ScansByDocument : public ::testing::TestWithParam<ByDocumentCase> {};

TEST_P(ScansByDocument, EndingEachCallAtABoundary) {
  const ByDocumentCase& c = GetParam();
  EXPECT_EQ(dump_by_document(c.yaml), c.parts);
}

const ByDocumentCase kByDocument[] = {
    {"", "[STREAM STREAMEND]"},
    {"a: 1\n", "[STREAM MAP K S(a) V S(1) BE STREAMEND]"},
    {"a\n--- b\n...\n%YAML 1.2\n--- [c]\n",
     "[STREAM S(a) DOC] / [S(b) DOCEND] / [%(YAML 1.2)] / [DOC] / [[ S(c) ] STREAMEND]"},
    // The BlockEnds that close a document come with it, before the boundary.
    {"- x: &a 1\n--- *a\n", "[STREAM SEQ - MAP K S(x) V &(a) S(1) BE BE DOC] / [*(a) STREAMEND]"},
    // Tokens before an error are handed out; the error comes with the call
    // that meets it.
    {"--- a\n--- 'b\n",
     "[STREAM DOC] / [S(a) DOC] / error: unterminated single-quoted scalar at 2:5"},
    // Characters are checked for the whole text before the first token.
    {"a: 1\n--- \x01", "error: disallowed control character U+0001 at 2:5"},
};
INSTANTIATE_TEST_SUITE_P(Streams, ScansByDocument, ::testing::ValuesIn(kByDocument));

TEST(ScansByDocument, GivesTheSameTokensAsTheWholeScan) {
  // Many documents, owned texts among them, comments, one document far
  // larger than the rest (the vector grows inside it) and implicit keys
  // on the first line after each boundary.
  std::string yaml = "# head\n";
  for (int i = 0; i < 3000; ++i) {
    yaml += i % 7 == 0 ? "%YAML 1.2\n---\n" : "--- # c\n";
    yaml += "&k" + std::to_string(i) + " key: \"v\\t" + std::to_string(i) + "\"\nfold: a\n  b\n";
    if (i == 1500)
      for (int j = 0; j < 20000; ++j) yaml += "x" + std::to_string(j) + ": [1, {2: 3}]\n";
    yaml += i % 7 == 6 ? "...\n" : "";
  }
  auto whole = scan_all_tokens(yaml, {.collect_comments = true});
  ASSERT_TRUE(whole);
  DocumentScanner scanner(yaml, {.collect_comments = true});
  std::string tokens, comments;
  while (!scanner.finished()) {
    scanner.discard_tokens();
    ASSERT_TRUE(scanner.scan_next_document());
    for (const Token& t : scanner.tokens().tokens) {
      tokens += testing::dump_token(t) + "@" + std::to_string(t.span().offset) + " ";
    }
    for (const ScannedComment& c : scanner.tokens().comments) comments += c.text + "|";
  }
  std::string expected_tokens, expected_comments;
  for (const Token& t : whole->tokens)
    expected_tokens += testing::dump_token(t) + "@" + std::to_string(t.span().offset) + " ";
  for (const ScannedComment& c : whole->comments) expected_comments += c.text + "|";
  EXPECT_TRUE(tokens == expected_tokens);  // megabytes: no diff printed
  EXPECT_EQ(comments, expected_comments);
}

// scan_more as the decoder drives it, every token held consumed before the
// next call: the tokens handed out (with their offsets), and the most held
// at once.
struct Batched {
  std::string tokens;
  std::size_t most_held = 0;
};

Batched scan_in_batches(std::string_view yaml, std::size_t batch) {
  DocumentScanner scanner(yaml);
  Batched out;
  while (!scanner.finished()) {
    const std::size_t held = scanner.tokens().tokens.size();
    const Result<void, ScanError> r = scanner.scan_batch(held, batch);
    if (!r) return {out.tokens + "error: " + r.error().message, out.most_held};
    out.most_held = std::max(out.most_held, scanner.tokens().tokens.size());
    for (const Token& t : scanner.tokens().tokens)
      out.tokens += testing::dump_token(t) + "@" + std::to_string(t.span().offset) + " ";
  }
  return out;
}

std::string whole_scan(std::string_view yaml) {
  auto whole = scan_all_tokens(yaml);
  if (!whole) return "error: " + whole.error().message;
  std::string out;
  for (const Token& t : whole->tokens)
    out += testing::dump_token(t) + "@" + std::to_string(t.span().offset) + " ";
  return out;
}

// A one-line text is cut into batches as one broken into lines is: the
// pending key of its outermost collection holds the tokens only while the
// ':' after that collection's closer may lie ahead on the line, not for any
// ':' (the tokens of a whole line of JSON were held at once), nor for a
// ']' or '}' followed by ':' inside a scalar or closing an inner collection.
TEST(ScansInBatches, OneLineFlowCollectionsAreCut) {
  std::string json = "[", pairs = "[", hosts = "[";
  for (int i = 0; i < 2000; ++i) {
    const std::string n = std::to_string(i);
    json += (i ? ", " : "") + std::string("{\"k\": [") + n + "], \"t\": \"1:2\"}";
    pairs += (i ? ", " : "") + std::string("[a") + n + "]: {b: c}  :d";
    hosts += (i ? ", " : "") + std::string("{\"at\": \"[::") + n + "]:80\\t\", 'x}': 'y'']: z'}";
  }
  json += "]";
  pairs += "]";
  hosts += "]";
  const std::string cases[] = {json,  json + "  # c: d\n", "k: " + json + "\n",
                               json + "\n--- " + json,   pairs,  hosts + " # ]: x\n",
                               "&x " + hosts + "\n",   "[\"[::1]:80\", " + json.substr(1)};
  for (const std::string& yaml : cases) {
    const Batched batched = scan_in_batches(yaml, 16);
    EXPECT_TRUE(batched.tokens == whole_scan(yaml)) << yaml.substr(0, 40);
    EXPECT_LE(batched.most_held, 32u) << yaml.substr(0, 40);
  }
}

// Where the collection may still become a key, nothing is cut before the
// ':' that decides it; the tokens come out as the whole scan gives them.
TEST(ScansInBatches, AKeyToComeHoldsItsCollection) {
  std::string items;
  for (int i = 0; i < 500; ++i) items += "[a" + std::to_string(i) + "]: b, ";
  const std::string cases[] = {"[" + items + "c]: d\n", "{" + items + "c: d}  : e\n",
                               "&x [" + items + "c]\t: d\n", "[" + items + "\"]: c\"]: d\n"};
  for (const std::string& yaml : cases) {
    const Batched batched = scan_in_batches(yaml, 16);
    EXPECT_TRUE(batched.tokens == whole_scan(yaml)) << yaml.substr(0, 40);
  }
  EXPECT_GT(scan_in_batches(cases[0], 16).most_held, 2500u);
}

TEST(ScansByDocument, RefusesTooLargeTextsOnTheFirstCall) {
  const std::size_t size = limits::kMaxScanInput + 1;
  void* block = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (block == MAP_FAILED) GTEST_SKIP() << "cannot reserve 4 GiB of address space";
  DocumentScanner scanner(std::string_view(static_cast<const char*>(block), size));
  auto r = scanner.scan_next_document();
  munmap(block, size);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message,
            "input too large to scan: 4294967296 bytes (the limit is 4294967295)");
  EXPECT_TRUE(scanner.finished());
}

}  // namespace
}  // namespace ostrevane

namespace ostrevane {
namespace {

TEST(TextArenaReset, RefillsTheKeptChunksInOrder) {
  TextArena arena;
  const std::string big(70 * 1024, 'b');  // larger than a chunk: a chunk of its own
  const std::string_view a1 = arena.store("first");
  const std::string_view b1 = arena.store(big);
  const std::string_view c1 = arena.store("after");
  EXPECT_EQ(std::string(a1) + std::string(c1), "firstafter");
  arena.reset();
  const std::string_view a2 = arena.store("again");
  EXPECT_EQ(a2.data(), a1.data());
  EXPECT_EQ(a2, "again");
  // Too big for what is left of the first chunk: the kept big one takes it.
  const std::string_view b2 = arena.store(big);
  EXPECT_EQ(b2.data(), b1.data());
  EXPECT_EQ(b2, big);
  EXPECT_EQ(arena.store(""), std::string_view());
}

// Texts stored after a mark are forgotten by rewinding to it, chunks taken
// since included; those stored before stay as they were.
TEST(TextArenaRewind, ForgetsOnlyWhatCameAfterTheMark) {
  TextArena arena;
  const std::string big(70 * 1024, 'b');
  const std::string_view kept = arena.store("kept");
  const TextArena::Mark mark = arena.mark();
  const std::string_view a1 = arena.store("probe");
  const std::string_view b1 = arena.store(big);
  arena.rewind(mark);
  const std::string_view a2 = arena.store("again");
  EXPECT_EQ(a2.data(), a1.data());
  EXPECT_EQ(arena.store(big).data(), b1.data());
  EXPECT_EQ(kept, "kept");
  EXPECT_EQ(a2, "again");
}

// Past a megabyte a block scalar reserves the rest of its extent at once;
// the text is the same whatever the line breaks and blank lines.
TEST(TextArenaAdopt, BlockScalarsPastAMegabyte) {
  for (const std::string_view br : {"\n", "\r\n"}) {
    for (const char* header : {"|", "|+", "|-"}) {
      std::string yaml = std::string("a: ") + header + std::string(br);
      std::string literal;
      for (int i = 0; i < 150'000; ++i) {
        const std::string line = (i % 7 == 3 ? "   indented " : "  line ") + std::to_string(i);
        yaml += line + std::string(br);
        literal += line.substr(2) + "\n";
        if (i % 1000 == 999) {
          yaml += std::string(br);
          literal += "\n";
        }
      }
      yaml += std::string(br) + "b: c" + std::string(br);
      auto result = scan_all_tokens(yaml);
      ASSERT_TRUE(result);
      const Token* text = nullptr;
      for (const Token& t : result->tokens)
        if (t.kind == TokenKind::Scalar && t.text().size() > 1'000'000) text = &t;
      ASSERT_NE(text, nullptr) << header;
      // The text ends with a blank line after its last one: kept by '+'.
      const std::string_view chomped = std::string_view(literal).substr(0, literal.size() - 2);
      if (header[1] == '+') {
        EXPECT_EQ(text->text(), literal + "\n");
      } else if (header[1] == '-') {
        EXPECT_EQ(text->text(), chomped);
      } else {
        EXPECT_EQ(text->text(), std::string(chomped) + "\n");
      }
    }
  }
}

// A large block scalar is kept whole, and a consumer can take it over: its
// bytes stay where the token's view points.
TEST(TextArenaAdopt, LargeBlockScalarsAreHandedOverWhole) {
  std::string yaml = "a: |\n";
  for (int i = 0; i < 4'000; ++i) yaml += "  line " + std::to_string(i) + " of the text\n";
  yaml += "b: |\n  small\n";
  auto result = scan_all_tokens(yaml);
  ASSERT_TRUE(result);
  std::vector<const Token*> scalars;
  for (const Token& t : result->tokens)
    if (t.kind == TokenKind::Scalar) scalars.push_back(&t);
  ASSERT_EQ(scalars.size(), 4u);
  const std::string_view big = scalars[1]->text();
  ASSERT_GE(big.size(), TextArena::kAdoptMin);
  const std::string expected(big);
  EXPECT_TRUE(result->storage.release(scalars[3]->text().data()).empty());  // copied, not kept
  std::string taken = result->storage.release(big.data());
  EXPECT_EQ(taken.data(), big.data());
  EXPECT_EQ(taken, expected);
  EXPECT_TRUE(result->storage.release(big.data()).empty());  // handed over once
  result->storage.reset();
  EXPECT_EQ(taken, expected);
}

}  // namespace
}  // namespace ostrevane
