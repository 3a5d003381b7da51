// Scan plus decode against libyaml's event parser over the same bytes, in one
// run. Each round decodes the whole corpus once with each (ours builds every
// Value document and the warnings, then destroys them; libyaml hands out and
// frees one event at a time, its ordinary use); the best round of each counts.
//
// Usage: bench_decode [CORPUS] [ROUNDS]
// The default corpus is the one the build generates with gen_corpus.py.
#include <yaml.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "decode/decoder.hpp"

#ifndef OSV_SCANNER_CORPUS
#define OSV_SCANNER_CORPUS "scanner_corpus.yaml"
#endif
#ifndef OSV_SOURCE_DIR
#define OSV_SOURCE_DIR "."
#endif

namespace {

using Clock = std::chrono::steady_clock;

std::string read_file(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

std::string commit() {
  std::string command = "git -C '" OSV_SOURCE_DIR "' rev-parse --short HEAD 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return "unknown";
  char line[64] = {};
  const bool ok = fgets(line, sizeof line, pipe) != nullptr;
  pclose(pipe);
  std::string out = ok ? line : "unknown";
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out.empty() ? "unknown" : out;
}

// Decodes and destroys every document; returns the document count, or -1 on
// an error. `texts` as the caller chooses: owned copies, or views of the
// input where the plain load can keep the input alive.
long decode_ours(const std::string& text, ostrevane::DecodedTexts texts) {
  auto result = ostrevane::decode_stream(text, ostrevane::ResolverMode::Yaml12, false, false,
                                         false, false, false, texts);
  if (!result) {
    std::fprintf(stderr, "ostrevane: %s at line %u, column %u\n", result.error().message.c_str(),
                 result.error().span.line + 1, result.error().span.column + 1);
    return -1;
  }
  return static_cast<long>(result->documents.size());
}

// Nodes of all documents, as count_nodes sees them (untimed).
long count_all_nodes(const std::string& text) {
  auto result = ostrevane::decode_stream(text, ostrevane::ResolverMode::Yaml12, false, false,
                                         false, false, false);
  long nodes = 0;
  if (result) {
    for (const auto& doc : result->documents) nodes += static_cast<long>(ostrevane::count_nodes(doc));
  }
  return nodes;
}

// Returns the event count, or -1 on an error.
long parse_libyaml(const std::string& text) {
  yaml_parser_t parser;
  if (!yaml_parser_initialize(&parser)) return -1;
  yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()),
                               text.size());
  long count = 0;
  for (;;) {
    yaml_event_t event;
    if (!yaml_parser_parse(&parser, &event)) {
      std::fprintf(stderr, "libyaml: %s\n", parser.problem ? parser.problem : "parse error");
      count = -1;
      break;
    }
    const bool end = event.type == YAML_STREAM_END_EVENT;
    yaml_event_delete(&event);
    ++count;
    if (end) break;
  }
  yaml_parser_delete(&parser);
  return count;
}

template <class F>
double seconds(F&& f, long& count) {
  const auto start = Clock::now();
  count = f();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : OSV_SCANNER_CORPUS;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  const std::string text = read_file(path);
  if (text.empty()) {
    std::fprintf(stderr, "cannot read corpus %s\n", path);
    return 1;
  }

  using ostrevane::DecodedTexts;
  double best_ours = 1e30, best_owned = 1e30, best_libyaml = 1e30;
  long ours_documents = 0, owned_documents = 0, libyaml_events = 0;
  for (int round = 0; round < rounds; ++round) {
    best_ours = std::min(
        best_ours,
        seconds([&] { return decode_ours(text, DecodedTexts::BorrowInput); }, ours_documents));
    best_owned =
        std::min(best_owned,
                 seconds([&] { return decode_ours(text, DecodedTexts::Owned); }, owned_documents));
    best_libyaml =
        std::min(best_libyaml, seconds([&] { return parse_libyaml(text); }, libyaml_events));
    if (ours_documents < 0 || owned_documents < 0 || libyaml_events < 0) return 1;
  }
  const long ours_nodes = count_all_nodes(text);

  const double mb = static_cast<double>(text.size()) / (1024.0 * 1024.0);
  std::printf("scan+decode: %.1f MB corpus, best of %d rounds (g++ %s, commit %s)\n", mb, rounds,
              __VERSION__, commit().c_str());
  std::printf("  ostrevane  %8.1f MB/s  %9ld nodes   %7.2f ms  (texts viewing the input)\n",
              mb / best_ours, ours_nodes, best_ours * 1e3);
  std::printf("  ostrevane  %8.1f MB/s  %9ld nodes   %7.2f ms  (owned texts)\n", mb / best_owned,
              ours_nodes, best_owned * 1e3);
  std::printf("  libyaml    %8.1f MB/s  %9ld events  %7.2f ms\n", mb / best_libyaml,
              libyaml_events, best_libyaml * 1e3);
  std::printf("  ratio ostrevane/libyaml: %.2fx (goal 4x), owned texts %.2fx\n",
              best_libyaml / best_ours, best_libyaml / best_owned);
  return 0;
}
