// Text -> commented node trees -> the round-trip emitter -> node trees.
// The first byte picks the settings, the rest is the input.
// Invariants: with every node marked modified, what the emitter writes
// composes again into as many documents, with the same kinds, texts,
// anchors, tags and collection sizes, and styles changed only where the
// emitter picks a form that reads back the same (emit_check.hpp). With the
// round-trip settings every comment comes back in document order; with the
// settings of the dumps road (indentation step, width, quote preference,
// indentless sequences) the content still comes back, quoted styles aside.
// (That writing the second trees gives the same text is checked on realistic
// texts by the random and table tests: here odd layouts, such as an empty
// node placed at the token after it, may still move a blank line or a
// comment's owner in the second round.)
#include <cstdint>
#include <string>

#include "../cpp/roundtrip/emit_check.hpp"
#include "fuzz_support.hpp"
#include "roundtrip/composer/compose.hpp"
#include "roundtrip/emit/emitter.hpp"
#include "scanner/input_decode.hpp"

using namespace ostrevane;

namespace {

EmitterSettings settings_from(std::uint8_t a) {
  if ((a & 1) == 0) return EmitterSettings::round_trip(NullStyle::Default);
  constexpr std::size_t kWidths[] = {0, 1, 5, 12, 20, 40, 80, 0};
  EmitterSettings s;
  s.indent = (a & 2) ? 4 : 2;
  s.width = kWidths[(a >> 2) & 7];
  s.dump_layout = true;
  s.prefer_single_quotes = (a & 0x20) != 0;
  s.indentless_sequences = (a & 0x40) != 0;
  return s;
}

std::string report(std::string_view what, std::string_view input, std::string_view written) {
  std::string s(what);
  s.append("\n  input:\n").append(input);
  s.append("\n  written:\n").append(written);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const EmitterSettings settings = settings_from(data[0]);
  const bool round_trip = !settings.dump_layout;
  auto decoded = decode_input_bytes(fuzz::as_text(data + 1, size - 1));
  if (!decoded) return 0;
  const std::string& text = *decoded;
  auto first = compose_documents(text);
  if (!first) return 0;
  for (YamlNode& root : *first) testing::mark_modified(root);
  const std::string written = testing::emit_roots(*first, settings);

  auto second = compose_documents(written);
  FUZZ_REQUIRE(second.has_value(), report("written text does not compose: " +
                                              (second ? std::string() : second.error().message),
                                          text, written));
  FUZZ_REQUIRE(second->size() == first->size(), report("document count", text, written));
  for (std::size_t i = 0; i < first->size(); ++i) {
    const std::string diff =
        testing::compare_rewritten((*first)[i], (*second)[i], round_trip, !round_trip);
    FUZZ_REQUIRE(diff.empty(), report(diff, text, written));
  }
  return 0;
}
