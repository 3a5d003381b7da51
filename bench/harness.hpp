// What the corpus benchmarks share: reading the corpus named on the command
// line, timing ours against libyaml round by round (the best round of each
// counts), and printing both with the ratio, the compiler and the commit.
//
// Usage of every such benchmark: NAME [CORPUS] [ROUNDS]
// The default corpus is the one the build generates with gen_corpus.py.
#pragma once

#include <yaml.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>

#ifndef OSV_SCANNER_CORPUS
#define OSV_SCANNER_CORPUS "scanner_corpus.yaml"
#endif
#ifndef OSV_SOURCE_DIR
#define OSV_SOURCE_DIR "."
#endif

namespace ostrevane::bench {

inline std::string read_file(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

inline std::string commit() {
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

// Says why our side failed; `error` has a message and a 0-based span.
template <class Error>
void print_error(const Error& error) {
  std::fprintf(stderr, "ostrevane: %s at line %u, column %u\n", error.message.c_str(),
               error.span.line + 1, error.span.column + 1);
}

// Runs libyaml's parser over `text`, `Pull` (yaml_parser_scan or
// yaml_parser_parse) handing out one item at a time and `Drop` freeing it at
// once, its ordinary use. Returns the item count up to and including the one
// of type `end`, or -1 on an error (`failure` is the message when libyaml
// gives none).
template <class Item, int (*Pull)(yaml_parser_t*, Item*), void (*Drop)(Item*)>
long count_libyaml(const std::string& text, decltype(Item::type) end, const char* failure) {
  yaml_parser_t parser;
  if (!yaml_parser_initialize(&parser)) return -1;
  yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()),
                               text.size());
  long count = 0;
  for (;;) {
    Item item;
    if (!Pull(&parser, &item)) {
      std::fprintf(stderr, "libyaml: %s\n", parser.problem ? parser.problem : failure);
      count = -1;
      break;
    }
    const bool at_end = item.type == end;
    Drop(&item);
    ++count;
    if (at_end) break;
  }
  yaml_parser_delete(&parser);
  return count;
}

// The corpus text and the round count from the command line.
struct Setup {
  std::string text;
  int rounds;
};

// Nothing (after saying why) when the corpus cannot be read or is empty.
inline std::optional<Setup> setup(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : OSV_SCANNER_CORPUS;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  std::string text = read_file(path);
  if (text.empty()) {
    std::fprintf(stderr, "cannot read corpus %s\n", path);
    return std::nullopt;
  }
  return Setup{std::move(text), rounds};
}

// The best time of one side and the count its last round returned.
struct Best {
  double seconds = 1e30;
  long count = 0;
};

struct Race {
  Best ours;
  Best libyaml;
};

// Runs `run` once, keeping its count and the best time so far in `best`.
template <class Run>
void time_round(Run& run, Best& best) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  best.count = run();
  best.seconds =
      std::min(best.seconds, std::chrono::duration<double>(Clock::now() - start).count());
}

// Each round runs `ours` then `libyaml` once; each returns its count, or -1
// on an error, which ends the race with nothing.
template <class Ours, class Libyaml>
std::optional<Race> race(int rounds, Ours&& ours, Libyaml&& libyaml) {
  Race r;
  for (int round = 0; round < rounds; ++round) {
    time_round(ours, r.ours);
    time_round(libyaml, r.libyaml);
    if (r.ours.count < 0 || r.libyaml.count < 0) return std::nullopt;
  }
  return r;
}

// One printed line of a side: what it counted (at most 6 letters) and how
// many.
struct Row {
  const char* unit;
  long count;
};

inline double corpus_mb(const Setup& setup) {
  return static_cast<double>(setup.text.size()) / (1024.0 * 1024.0);
}

// The first line of a report: the stage, the corpus, the compiler and commit.
inline void report_header(const char* stage, const Setup& setup) {
  std::printf("%s: %.1f MB corpus, best of %d rounds (g++ %s, commit %s)\n", stage,
              corpus_mb(setup), setup.rounds, __VERSION__, commit().c_str());
}

// One side's line: throughput, what it counted and its best time.
inline void report_side(const Setup& setup, const char* side, double seconds, Row row) {
  std::printf("  %-11s  %8.1f MB/s  %9ld %-6s  %7.2f ms\n", side, corpus_mb(setup) / seconds,
              row.count, row.unit, seconds * 1e3);
}

// `goal`, when given, follows the ratio as "(goal ...)".
inline void report(const char* stage, const Setup& setup, const Race& race, Row ours, Row libyaml,
                   const char* goal = nullptr) {
  report_header(stage, setup);
  report_side(setup, "ostrevane", race.ours.seconds, ours);
  report_side(setup, "libyaml", race.libyaml.seconds, libyaml);
  std::printf("  ratio ostrevane/libyaml: %.2fx", race.libyaml.seconds / race.ours.seconds);
  if (goal != nullptr) std::printf(" (goal %s)", goal);
  std::printf("\n");
}

}  // namespace ostrevane::bench
