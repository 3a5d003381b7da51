// Scanner throughput against libyaml's scanner over the same bytes, in one
// run. Each round scans the whole corpus once with each scanner (ours builds
// the complete token list and destroys it; libyaml hands out and frees one
// token at a time, its ordinary use); the best round of each counts.
//
// Usage: bench_scanner [CORPUS] [ROUNDS]
// The default corpus is the one the build generates with gen_corpus.py.
#include <yaml.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "scanner/scanner.hpp"

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

template <class F>
double seconds(F&& f, long& tokens) {
  const auto start = Clock::now();
  tokens = f();
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

  double best_ours = 1e30, best_libyaml = 1e30;
  long ours_tokens = 0, libyaml_tokens = 0;
  for (int round = 0; round < rounds; ++round) {
    best_ours = std::min(best_ours, seconds([&] { return scan_ours(text); }, ours_tokens));
    best_libyaml =
        std::min(best_libyaml, seconds([&] { return scan_libyaml(text); }, libyaml_tokens));
    if (ours_tokens < 0 || libyaml_tokens < 0) return 1;
  }

  const double mb = static_cast<double>(text.size()) / (1024.0 * 1024.0);
  std::printf("scanner: %.1f MB corpus, best of %d rounds (g++ %s, commit %s)\n", mb, rounds,
              __VERSION__, commit().c_str());
  std::printf("  ostrevane  %8.1f MB/s  %9ld tokens  %7.2f ms\n", mb / best_ours, ours_tokens,
              best_ours * 1e3);
  std::printf("  libyaml    %8.1f MB/s  %9ld tokens  %7.2f ms\n", mb / best_libyaml, libyaml_tokens,
              best_libyaml * 1e3);
  std::printf("  ratio ostrevane/libyaml: %.2fx\n", best_libyaml / best_ours);
  return 0;
}
