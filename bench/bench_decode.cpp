// Scan plus decode against libyaml's event parser over the same bytes, in one
// run. Each round decodes the whole corpus once with each (ours builds every
// Value document and the warnings, then destroys them; libyaml hands out and
// frees one event at a time, its ordinary use); the best round of each counts.
//
// Usage: bench_decode [CORPUS] [ROUNDS] (see harness.hpp)
#include <yaml.h>

#include <string>

#include "decode/decoder.hpp"
#include "harness.hpp"

namespace {

// Decodes and destroys every document; returns the document count, or -1 on
// an error. `texts` as the caller chooses: owned copies, or views of the
// input where the plain load can keep the input alive.
long decode_ours(const std::string& text, ostrevane::DecodedTexts texts) {
  auto result = ostrevane::decode_stream(text, ostrevane::ResolverMode::Yaml12, false, false, false,
                                         false, false, texts);
  if (!result) {
    ostrevane::bench::print_error(result.error());
    return -1;
  }
  return static_cast<long>(result->documents.size());
}

// Nodes of all documents, as count_nodes sees them (untimed).
long count_all_nodes(const std::string& text) {
  auto result = ostrevane::decode_stream(text, ostrevane::ResolverMode::Yaml12, false, false, false,
                                         false, false);
  long nodes = 0;
  if (result) {
    for (const auto& doc : result->documents)
      nodes += static_cast<long>(ostrevane::count_nodes(doc));
  }
  return nodes;
}

// Returns the event count, or -1 on an error.
long parse_libyaml(const std::string& text) {
  return ostrevane::bench::count_libyaml<yaml_event_t, yaml_parser_parse, yaml_event_delete>(
      text, YAML_STREAM_END_EVENT, "parse error");
}

}  // namespace

int main(int argc, char** argv) {
  const auto setup = ostrevane::bench::setup(argc, argv);
  if (!setup) return 1;
  const std::string& text = setup->text;
  const auto race = ostrevane::bench::race(
      setup->rounds, [&] { return decode_ours(text, ostrevane::DecodedTexts::BorrowInput); },
      [&] { return parse_libyaml(text); });
  if (!race) return 1;
  ostrevane::bench::report("scan+decode", *setup, *race, {"nodes", count_all_nodes(text)},
                           {"events", race->libyaml.count}, "4x");
  return 0;
}
