// Scanner throughput against libyaml's scanner over the same bytes, in one
// run. Each round scans the whole corpus once with each scanner (ours builds
// the complete token list and destroys it; libyaml hands out and frees one
// token at a time, its ordinary use); the best round of each counts.
//
// Usage: bench_scanner [CORPUS] [ROUNDS] (see harness.hpp)
#include <yaml.h>

#include <cstdio>
#include <string>

#include "harness.hpp"
#include "scanner/scanner.hpp"

namespace {

// Returns the token count, or -1 on a scan error.
long scan_ours(const std::string& text) {
  auto result = ostrevane::scan_all_tokens(text);
  if (!result) {
    std::fprintf(stderr, "ostrevane: %s at line %u, column %u\n", result.error().message.c_str(),
                 result.error().span.line + 1, result.error().span.column + 1);
    return -1;
  }
  return static_cast<long>(result->tokens.size());
}

long scan_libyaml(const std::string& text) {
  yaml_parser_t parser;
  if (!yaml_parser_initialize(&parser)) return -1;
  yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()),
                               text.size());
  long count = 0;
  for (;;) {
    yaml_token_t token;
    if (!yaml_parser_scan(&parser, &token)) {
      std::fprintf(stderr, "libyaml: %s\n", parser.problem ? parser.problem : "scan error");
      count = -1;
      break;
    }
    const bool end = token.type == YAML_STREAM_END_TOKEN;
    yaml_token_delete(&token);
    ++count;
    if (end) break;
  }
  yaml_parser_delete(&parser);
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  const auto setup = ostrevane::bench::setup(argc, argv);
  if (!setup) return 1;
  const std::string& text = setup->text;
  const auto race = ostrevane::bench::race(
      setup->rounds, [&] { return scan_ours(text); }, [&] { return scan_libyaml(text); });
  if (!race) return 1;
  ostrevane::bench::report("scanner", *setup, *race, {"tokens", race->ours.count},
                           {"tokens", race->libyaml.count});
  return 0;
}
