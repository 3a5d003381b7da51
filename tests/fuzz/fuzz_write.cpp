// Text -> documents -> YAML and JSON text.
// The first two bytes pick the writer options, the rest is the input.
// Invariants: each document written as YAML reads back, under the mode it
// was written for, as one document equal to it (NaN equal to NaN, and a
// timestamp as the string of its text, which is how it is written); with
// sorted keys, where the order changes, writing what came back gives the
// same text again. The JSON writer succeeds or fails with its one message,
// and what it writes reads back as one YAML 1.2 document.
#include <cstdint>
#include <string>

#include "decode/decoder.hpp"
#include "emit_util/detail/unprintable.hpp"
#include "encode/writer.hpp"
#include "fuzz_support.hpp"
#include "scanner/input_decode.hpp"

using namespace ostrevane;

namespace {

// Big expansions (alias fan-out) would make each run slow without finding
// more: the writers see the same shapes in small trees.
constexpr std::uint64_t kMaxNodes = 50'000;

WriterOptions writer_options(std::uint8_t a, std::uint8_t b) {
  constexpr std::size_t kWidths[] = {0, 0, 1, 2, 3, 8, 12, 20, 40, 80, 0, 1, 5, 30, 60, 120};
  WriterOptions o;
  o.indent = (a & 1) ? 4 : 2;
  o.null_style = static_cast<NullStyle>(((a >> 1) & 3) % 3);
  o.mode = static_cast<ResolverMode>(((a >> 3) & 3) % 3);
  o.sort_keys = (a & 0x20) != 0;
  o.flow_style = (a & 0x40) != 0;
  o.explicit_start = (a & 0x80) != 0;
  o.explicit_end = (b & 1) != 0;
  o.double_quotes = (b & 2) == 0;
  o.indentless_sequences = (b & 4) != 0;
  o.width = kWidths[b >> 4];
  return o;
}

std::string describe(const WriterOptions& o) {
  return "indent=" + std::to_string(o.indent) + " width=" + std::to_string(o.width) +
         " null=" + std::to_string(static_cast<int>(o.null_style)) +
         " mode=" + std::to_string(static_cast<int>(o.mode)) + " sort=" +
         std::to_string(o.sort_keys) + " flow=" + std::to_string(o.flow_style) +
         " start=" + std::to_string(o.explicit_start) + " end=" + std::to_string(o.explicit_end) +
         " double=" + std::to_string(o.double_quotes) +
         " indentless=" + std::to_string(o.indentless_sequences);
}

Result<DecodedStream, DecodeError> read_back(std::string_view text, ResolverMode mode,
                                             bool timestamps) {
  return decode_stream(text, mode, false, false, timestamps, false, false);
}

std::string failure(std::string_view what, const WriterOptions& o, std::string_view written,
                    const Value& doc) {
  std::string s(what);
  s.append("\n  options: ").append(describe(o));
  s.append("\n  value:   ").append(value_debug_text(doc));
  s.append("\n  written:\n").append(written);
  return s;
}

// A text holds a character the YAML reader refuses raw (DEL, C1 controls,
// U+FFFE, U+FFFF), which the JSON writer copies as it is.
bool has_refused_character(const Value& doc) {
  bool refused = false;
  fuzz::for_each_node(doc, [&](const Value& v) {
    const std::string_view t = v.text();
    for (std::size_t i = 0; i < t.size() && !refused; ++i) {
      refused = static_cast<unsigned char>(t[i]) >= 0x7F && detail::unprintable_at(t, i) != 0;
    }
  });
  return refused;
}

// Known fault, reported and not yet mended: the YAML writer prints a tag as
// it is. A tag that a %TAG handle expanded into a full URI
// ("tag:example.com,2000:x") comes out without its '!' and reads back as part
// of a plain string, and one whose prefix holds a character a shorthand tag
// may not ("%TAG ! !," gives "!,a") no longer reads back as one tag. Such
// documents are skipped until the writer spells these tags "!<...>"; the
// corpus keeps the inputs (tag_directive, regress_tag_*), so that removing
// this check brings them back.
bool is_shorthand_tag(std::string_view tag) {
  if (tag.starts_with("!<") && tag.ends_with(">")) return true;
  if (!tag.starts_with('!')) return false;
  constexpr std::string_view kMarks = "-#;/?:@&=+$_.~*'()%";
  for (const char c : tag.substr(1)) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum && kMarks.find(c) == std::string_view::npos) return false;
  }
  return true;
}

bool has_unwritable_tag(const Value& doc) {
  bool found = false;
  fuzz::for_each_node(doc, [&](const Value& v) {
    found = found || (v.kind() == ValueKind::Tagged && !is_shorthand_tag(v.tag()));
  });
  return found;
}

void check_yaml(const Value& doc, const WriterOptions& o, bool timestamps) {
  if (has_unwritable_tag(doc)) return;
  const OutputBuffer written = write_yaml_document(doc, o);
  // YAML 1.2 output knows no timestamps: a string that looks like a date is
  // written plain there, as YAML 1.2 readers keep it a string, so that
  // output is read back without them (timestamps compare by their text).
  auto back = read_back(written.view(), o.mode, timestamps && o.mode != ResolverMode::Yaml12);
  FUZZ_REQUIRE(back.has_value(),
               failure("written YAML does not read back: " + back.error().message + " at line " +
                           std::to_string(back.error().span.line + 1) + ", column " +
                           std::to_string(back.error().span.column + 1),
                       o, written.view(), doc));
  FUZZ_REQUIRE(back->documents.size() == 1, failure("not one document", o, written.view(), doc));
  const Value& again = back->documents[0];
  if (!o.sort_keys) {
    FUZZ_REQUIRE(fuzz::same_value(doc, again, true),
                 failure("read back as " + value_debug_text(again), o, written.view(), doc));
    return;
  }
  FUZZ_REQUIRE(count_nodes(again) == count_nodes(doc),
               failure("read back as " + value_debug_text(again), o, written.view(), doc));
  const OutputBuffer rewritten = write_yaml_document(again, o);
  FUZZ_REQUIRE(rewritten.view() == written.view(),
               failure("sorted output not stable; second time:\n" + std::string(rewritten.view()),
                       o, written.view(), doc));
}

void check_json(const Value& doc, std::uint8_t b) {
  const JsonOptions o{.indent = (b & 8) ? std::size_t{4} : (b & 0x10) ? std::size_t{2} : 0,
                      .sort_keys = (b & 0x20) != 0};
  OutputBuffer out;
  auto r = write_json_value_guarded(out, doc, o);
  if (!r) {
    FUZZ_REQUIRE(r.error().message == "a collection cannot be a JSON object key",
                 r.error().message);
    return;
  }
  FUZZ_REQUIRE(validate_utf8(out.view()).has_value(), "JSON output is not UTF-8");
  if (has_refused_character(doc)) return;
  auto back = read_back(out.view(), ResolverMode::Yaml12, false);
  FUZZ_REQUIRE(back.has_value(), "JSON does not read back: " + back.error().message +
                                     "\n  written:\n" + std::string(out.view()));
  FUZZ_REQUIRE(back->documents.size() == 1, std::string(out.view()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const WriterOptions o = writer_options(data[0], data[1]);
  const bool timestamps = (data[1] & 8) != 0;
  auto decoded = decode_input_bytes(fuzz::as_text(data + 2, size - 2));
  if (!decoded) return 0;
  auto stream = read_back(*decoded, o.mode, timestamps);
  if (!stream) return 0;
  for (const Value& doc : stream->documents) {
    if (count_nodes(doc) > kMaxNodes) continue;
    check_yaml(doc, o, timestamps);
    check_json(doc, data[1]);
  }
  return 0;
}
