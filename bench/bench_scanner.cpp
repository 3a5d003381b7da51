// Scanner throughput against libyaml's scanner over the same bytes, in one
// run. Each round scans the whole corpus once with each scanner (ours builds
// the complete token list and destroys it; libyaml hands out and frees one
// token at a time, its ordinary use); the best round of each counts.
//
// Usage: bench_scanner [CORPUS] [ROUNDS] (see harness.hpp)
#include <yaml.h>

#include <string>

#include "harness.hpp"
#include "scanner/scanner.hpp"

namespace {

// Returns the token count, or -1 on a scan error.
long scan_ours(const std::string& text) {
  auto result = ostrevane::scan_all_tokens(text);
  if (!result) {
    ostrevane::bench::print_error(result.error());
    return -1;
  }
  return static_cast<long>(result->tokens.size());
}

long scan_libyaml(const std::string& text) {
  return ostrevane::bench::count_libyaml<yaml_token_t, yaml_parser_scan, yaml_token_delete>(
      text, YAML_STREAM_END_TOKEN, "scan error");
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
