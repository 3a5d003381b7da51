// Scalar text shared by every writer: the YAML value writer, the JSON writer
// (floats only), the represent road and the round-trip emitter.
//
// Input: scalar texts as UTF-8 byte views (assumed valid UTF-8; the encoder
// and the decoder only build valid text). Output: appended to a caller-owned
// OutputBuffer whose last line is the line being written; the current column
// is the number of bytes after its last LF. Widths, columns and indentation
// are counted in bytes. Nothing here fails or keeps state, so every writer
// spells a float, a quoted scalar or a literal block the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "emit_util/output_buffer.hpp"

namespace ostrevane {

// How the writers spell a null: the keyword "null", the default form (an
// empty value after a block key or dash, "null" elsewhere) or "~".
enum class NullStyle : std::uint8_t { Keyword = 0, Default = 1, Tilde = 2 };

// The one spelling of 64-bit floats in YAML and JSON output: shortest
// round-trip digits, positional for decimal exponents -4..15 ("0.0001",
// "1000000000000000.0"), otherwise "1.5e-07" style; ".inf", "-.inf", ".nan".
std::string format_float(double value);
void append_float(OutputBuffer& out, double value);
// The same text written at `room`, which must have kFloatRoom bytes (more
// than the text: the writer stores in fixed-size pieces); returns its length.
inline constexpr std::size_t kFloatRoom = 48;
std::size_t put_float(char* room, double value) noexcept;

// Position of the first character that no plain or single-quoted scalar may
// hold (C0 controls including TAB/LF/CR, U+007F-U+009F, U+2028, U+2029,
// U+FFFE, U+FFFF), or std::string_view::npos. NEL, U+2028 and U+2029 are
// line breaks to YAML 1.1 readers (and to some YAML 1.2 ones): only the
// escapes of double quotes carry them to every reader.
std::size_t find_unprintable(std::string_view text) noexcept;

// True when single quotes can hold the text on one line.
bool is_single_line_printable(std::string_view text) noexcept;

// True when the text reads back exactly from a literal block ('|') without an
// indentation indicator: it has an LF, no CR, NEL, U+2028, U+2029 or other
// control character, and its first non-empty line does not start with a
// blank.
bool suits_literal_block(std::string_view text) noexcept;

// The same test without the LF: a one-line text (or an empty one) reads back
// from a literal block too, as long as its characters and its start allow.
bool reads_back_from_block(std::string_view text) noexcept;

// The body of a double-quoted scalar: '"' and backslash escaped, LF, TAB,
// CR and NUL by their letters, NEL, U+2028 and U+2029 as backslash and 'N',
// 'L', 'P', other controls, U+FFFE and U+FFFF in hexadecimal.
std::string escape_double_quoted(std::string_view text);
void append_escaped_double_quoted(OutputBuffer& out, std::string_view text);

// Non-folding quoted writers: the quotes and the (escaped or doubled) text.
void write_double_quoted(OutputBuffer& out, std::string_view text);
void write_single_quoted(OutputBuffer& out, std::string_view text);
void append_single_quote_doubled(OutputBuffer& out, std::string_view text);

// Appends `text`, turning single spaces between non-spaces into a line break
// plus `indent` spaces wherever the next word would end past `width`.
void fold_text(OutputBuffer& out, std::string_view text, std::size_t indent, std::size_t width);

// A quoted scalar folded at `width`: the quote, the text (single: every "'"
// doubled; double: escaped) through fold_text, the closing quote. `column`
// is where the opening quote goes; continuation lines are indented to it (to
// 1 at column 0, so that they never start at column 0).
void write_folded_quoted(OutputBuffer& out, std::string_view text, bool single, std::size_t column,
                         std::size_t width);

// Whether a key that took `written` bytes (its properties, its text, the
// space after an alias; up to its ":") may stay in the simple form; a longer
// one must be written in the "? " form (limits::kMaxImplicitKeyBytes).
bool fits_implicit_key(std::size_t written) noexcept;

// '|' or '>' and the chomping indicator that restores the text's trailing LFs.
void write_block_header(OutputBuffer& out, std::string_view text, char indicator);
// Whether that header asks for keep chomping ("+"): the text ends with
// more than one line feed, or is nothing but one.
[[nodiscard]] bool block_header_keeps(std::string_view text) noexcept;

// Ends the header line, then the text's lines indented by `indent` spaces.
void write_literal_body(OutputBuffer& out, std::string_view text, std::size_t indent);

// Bytes after the last LF of `out` (all of it when it holds none).
std::size_t current_column(const OutputBuffer& out) noexcept;

// Indentation is short: one fixed 16-byte copy covers the common case.
inline void append_spaces(OutputBuffer& out, std::size_t count) {
  constexpr std::size_t kChunk = 16;
  if (count <= kChunk) {
    static constexpr char kSpaces[kChunk + 1] = "                ";
    std::memcpy(out.tail(kChunk), kSpaces, kChunk);
    out.commit(count);
  } else {
    out.append(count, ' ');
  }
}

// Digit probes for the timestamp look-alike test.
bool has_two_digits(std::string_view text, std::size_t pos) noexcept;

struct DigitSkip {
  bool ok;
  std::size_t pos;
};
// Skips one or two ASCII digits at `pos`; fails (pos unchanged) without one.
DigitSkip skip_one_or_two_digits(std::string_view text, std::size_t pos) noexcept;

}  // namespace ostrevane
