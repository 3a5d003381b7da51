// Line breaks of written text: the break a source text uses, and rewriting
// an output so that every line ends with it.
//
// Input: UTF-8 texts. A line ends with LF, CR LF or a lone CR, as the
// scanner reads them. Output: the first break of a text, and an output
// whose breaks all take one form. Pure apart from the rewritten buffer;
// nothing fails.
#pragma once

#include <string_view>

#include "emit_util/output_buffer.hpp"

namespace ostrevane {

// The first line break of `text` ("\n", "\r\n" or "\r"); "\n" when it has
// none. A view of static text: it may outlive `text`.
[[nodiscard]] std::string_view first_line_break(std::string_view text) noexcept;

// Rewrites every line break of `out` (LF, CR LF, a lone CR) as `line_break`.
// Text written anew uses LF while kept source pieces keep their own breaks,
// so a text read from a CR LF or CR file is made whole again here. Breaks
// inside scalars are read back as LF whatever their form, so nothing read
// from the text changes.
void use_line_break(OutputBuffer& out, std::string_view line_break);

}  // namespace ostrevane
