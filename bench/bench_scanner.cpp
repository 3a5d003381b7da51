// Scanner throughput against libyaml's scanner over the same bytes, in one
// run. Each round scans the whole corpus once with each scanner (ours builds
// the complete token list and destroys it; libyaml hands out and frees one
// token at a time, its ordinary use); the best round of each counts. A second
// race scans by document as the decoder does, one token buffer reused.
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

// The decoder's way: a document's tokens at a time, dropped before the next.
long scan_ours_by_document(const std::string& text) {
  ostrevane::DocumentScanner scanner(text);
  long count = 0;
  while (!scanner.finished()) {
    scanner.discard_tokens();
    if (auto r = scanner.scan_next_document(); !r) {
      ostrevane::bench::print_error(r.error());
      return -1;
    }
    count += static_cast<long>(scanner.tokens().tokens.size());
  }
  return count;
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
  const auto by_document = ostrevane::bench::race(
      setup->rounds, [&] { return scan_ours_by_document(text); },
      [&] { return scan_libyaml(text); });
  if (!by_document) return 1;
  ostrevane::bench::report("scanner by document", *setup, *by_document,
                           {"tokens", by_document->ours.count},
                           {"tokens", by_document->libyaml.count});
  return 0;
}
