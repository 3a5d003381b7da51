// Cost of integer literals beyond 64 bits, by length.
//
// Resolving keeps the literal and its base, so the time per digit stays flat
// as literals grow (the fitted complexity should read O(N)). Beside it:
// libyaml scanning a document that holds the same literal (a linear peer
// every YAML reader must at least match), and the multiply-and-add decimal
// conversion the resolver no longer does, to show what quadratic costs.
#include <benchmark/benchmark.h>
#include <yaml.h>

#include <malloc.h>

#include <cstdio>
#include <string>
#include <vector>

#include "resolver/resolver.hpp"

namespace {

using ostrevane::ResolverMode;

std::string literal(const char* prefix, char digit, std::int64_t n) {
  std::string s(prefix);
  s += '1';
  s.append(static_cast<std::size_t>(n - 1), digit);
  return s;
}

void resolve_literal(benchmark::State& state, ResolverMode mode, const char* prefix, char digit) {
  const std::string text = literal(prefix, digit, state.range(0));
  for (auto _ : state) {
    ostrevane::Value v = ostrevane::resolve_plain_scalar(mode, text, true, std::nullopt);
    benchmark::DoNotOptimize(v);
  }
  state.SetComplexityN(state.range(0));
  state.counters["digits/s"] =
      benchmark::Counter(static_cast<double>(state.range(0)), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ResolveHex12(benchmark::State& s) { resolve_literal(s, ResolverMode::Yaml12, "0x", 'f'); }
void BM_ResolveOctal11(benchmark::State& s) { resolve_literal(s, ResolverMode::Yaml11, "0", '7'); }
void BM_ResolveBinary11(benchmark::State& s) { resolve_literal(s, ResolverMode::Yaml11, "0b", '1'); }
void BM_ResolveDecimal12(benchmark::State& s) { resolve_literal(s, ResolverMode::Yaml12, "", '9'); }

// Peer: libyaml scanning "k: 0xfff...\n" to its last token.
void BM_LibyamlScanHex(benchmark::State& state) {
  const std::string doc = "k: " + literal("0x", 'f', state.range(0)) + "\n";
  for (auto _ : state) {
    yaml_parser_t parser;
    yaml_parser_initialize(&parser);
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(doc.data()),
                                 doc.size());
    yaml_token_t token;
    bool done = false;
    while (!done) {
      if (!yaml_parser_scan(&parser, &token)) break;
      done = token.type == YAML_STREAM_END_TOKEN;
      yaml_token_delete(&token);
    }
    yaml_parser_delete(&parser);
  }
  state.SetComplexityN(state.range(0));
  state.counters["digits/s"] =
      benchmark::Counter(static_cast<double>(state.range(0)), benchmark::Counter::kIsIterationInvariantRate);
}

// What resolving used to cost: hex digits folded into an array of decimal
// digits by repeated multiply-and-add.
void BM_MultiplyAddToDecimal(benchmark::State& state) {
  const std::string hex = literal("", 'f', state.range(0));
  for (auto _ : state) {
    std::vector<unsigned char> dec{0};  // little-endian decimal digits
    for (const char c : hex) {
      unsigned carry = static_cast<unsigned>(c <= '9' ? c - '0' : c - 'a' + 10);
      for (auto& d : dec) {
        const unsigned t = d * 16u + carry;
        d = static_cast<unsigned char>(t % 10);
        carry = t / 10;
      }
      while (carry) {
        dec.push_back(static_cast<unsigned char>(carry % 10));
        carry /= 10;
      }
    }
    benchmark::DoNotOptimize(dec);
  }
  state.SetComplexityN(state.range(0));
}

constexpr std::int64_t kMin = 1 << 10;
constexpr std::int64_t kMax = 1 << 20;

BENCHMARK(BM_ResolveHex12)->RangeMultiplier(4)->Range(kMin, kMax)->Complexity();
BENCHMARK(BM_ResolveOctal11)->RangeMultiplier(4)->Range(kMin, kMax)->Complexity();
BENCHMARK(BM_ResolveBinary11)->RangeMultiplier(4)->Range(kMin, kMax)->Complexity();
BENCHMARK(BM_ResolveDecimal12)->RangeMultiplier(4)->Range(kMin, kMax)->Complexity();
BENCHMARK(BM_LibyamlScanHex)->RangeMultiplier(4)->Range(kMin, kMax)->Complexity();
BENCHMARK(BM_MultiplyAddToDecimal)->RangeMultiplier(4)->Range(kMin, 1 << 14)->Complexity();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // Keep freed blocks in the process: otherwise glibc hands every block of a
  // megabyte back to the kernel and each round pays for faulting fresh pages
  // in, which swamps the per-digit cost the fit is meant to show.
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  std::printf("# compiler: g++ %s\n", __VERSION__);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
