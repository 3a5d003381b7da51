// Composing with comments against libyaml's event parser and against our own
// scan plus decode, over the same bytes in one run. Each round runs the three
// once: compose_documents (scan with comments, compose, attach, then drop
// the trees), libyaml's yaml_parser_parse (one event at a time, freed at
// once) and decode_stream (Value documents, then dropped); the best round of
// each counts.
//
// Usage: bench_compose [CORPUS] [ROUNDS] (see harness.hpp)
#include <yaml.h>

#include <cstdio>
#include <string>
#include <vector>

#include "decode/decoder.hpp"
#include "harness.hpp"
#include "roundtrip/composer/compose.hpp"

namespace {

// Composes and drops every document; returns the root count, or -1.
long compose_ours(const std::string& text) {
  auto roots = ostrevane::compose_documents(text);
  if (!roots) {
    ostrevane::bench::print_error(roots.error());
    return -1;
  }
  return static_cast<long>(roots->size());
}

// Nodes of all composed documents (untimed).
long count_composed_nodes(const std::string& text) {
  auto roots = ostrevane::compose_documents(text);
  long nodes = 0;
  if (!roots) return 0;
  std::vector<const ostrevane::YamlNode*> work;
  for (const auto& root : *roots) work.push_back(&root);
  while (!work.empty()) {
    const ostrevane::YamlNode* n = work.back();
    work.pop_back();
    ++nodes;
    ostrevane::push_children(*n, work);
  }
  return nodes;
}

long decode_ours(const std::string& text) {
  auto result = ostrevane::decode_stream(text, ostrevane::ResolverMode::Yaml12, false, false, false,
                                         false, false, ostrevane::DecodedTexts::BorrowInput);
  if (!result) {
    ostrevane::bench::print_error(result.error());
    return -1;
  }
  return static_cast<long>(result->documents.size());
}

long parse_libyaml(const std::string& text) {
  return ostrevane::bench::count_libyaml<yaml_event_t, yaml_parser_parse, yaml_event_delete>(
      text, YAML_STREAM_END_EVENT, "parse error");
}

}  // namespace

int main(int argc, char** argv) {
  namespace bench = ostrevane::bench;
  const auto setup = bench::setup(argc, argv);
  if (!setup) return 1;
  const std::string& text = setup->text;
  const auto compose = [&] { return compose_ours(text); };
  const auto libyaml = [&] { return parse_libyaml(text); };
  const auto decode = [&] { return decode_ours(text); };
  bench::Best composed, parsed, decoded;
  for (int round = 0; round < setup->rounds; ++round) {
    bench::time_round(compose, composed);
    bench::time_round(libyaml, parsed);
    bench::time_round(decode, decoded);
    if (composed.count < 0 || parsed.count < 0 || decoded.count < 0) return 1;
  }
  bench::report_header("compose with comments", *setup);
  bench::report_side(*setup, "compose", composed.seconds, {"nodes", count_composed_nodes(text)});
  bench::report_side(*setup, "libyaml", parsed.seconds, {"events", parsed.count});
  bench::report_side(*setup, "scan+decode", decoded.seconds, {"docs", decoded.count});
  std::printf("  ratio compose/libyaml: %.2fx (goal 2x)\n", parsed.seconds / composed.seconds);
  std::printf("  ratio compose/scan+decode: %.2fx\n", decoded.seconds / composed.seconds);
  return 0;
}
