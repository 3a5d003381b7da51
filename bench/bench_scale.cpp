// How the native scan+decode scales with its input, as ratios of its own
// costs (the Python-side ratios, conversion included, are py_scale.py's):
// - throughput on one 64 MB document against one of 4 MB, both made of the
//   corpus's documents as entries of one top-level mapping;
// - cost per key of a 1,000,000-key block mapping against 10,000 keys, and
//   per item of a 1,000,000-item one-line flow sequence against 10,000;
// - a 50 MB literal block scalar against one copy of its text.
// Each ratio is the best round of each side, printed with its spread over
// the rounds.
//
// Usage: bench_scale [CORPUS] [ROUNDS] (see harness.hpp)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "decode/decoder.hpp"
#include "harness.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// Seconds of the fastest of `runs` decodes of `text`; negative on an error.
double best_decode(const std::string& text, int runs) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    {
      auto result =
          ostrevane::decode_stream(text, ostrevane::ResolverMode::Yaml12, false, false, false,
                                   false, false, ostrevane::DecodedTexts::BorrowInput);
      if (!result) {
        ostrevane::bench::print_error(result.error());
        return -1;
      }
    }
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

double best_copy(const std::string& text, int runs) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    {
      std::string copy(text);
      asm volatile("" : : "r"(copy.data()) : "memory");
    }
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

// The corpus's documents as entries of one mapping, repeated up to `size`.
std::string one_document(const std::string& corpus, std::size_t size) {
  std::string out;
  std::size_t doc = 0;
  while (out.size() < size) {
    std::size_t pos = 0;
    bool open = false;
    while (pos < corpus.size() && out.size() < size) {
      std::size_t eol = corpus.find('\n', pos);
      if (eol == std::string::npos) eol = corpus.size();
      const std::string_view line(corpus.data() + pos, eol - pos);
      pos = eol + 1;
      if (line == "---" || !open) {
        out += "doc" + std::to_string(doc++) + ":\n";
        open = true;
        if (line == "---") continue;
      }
      if (line.empty() || line[0] == '#') continue;
      out += "  ";
      out.append(line.data(), line.size());
      out += '\n';
    }
  }
  return out;
}

std::string mapping_of(int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += "key" + std::to_string(i) + ": " + std::to_string(i) + "\n";
  return out;
}

std::string flow_sequence_of(int n) {
  std::string out = "[";
  for (int i = 0; i < n; ++i) {
    if (i) out += ',';
    out += std::to_string(i % 1000);
  }
  return out + "]";
}

struct Spread {
  double low = 1e300;
  double high = 0;
  void add(double r) {
    low = std::min(low, r);
    high = std::max(high, r);
  }
};

void print(const char* what, const Spread& s, const char* goal) {
  std::printf("  %-40s %5.2f-%5.2f%s\n", what, s.low, s.high, goal);
}

}  // namespace

int main(int argc, char** argv) {
  const auto setup = ostrevane::bench::setup(argc, argv);
  if (!setup) return 1;
  const int rounds = std::min(setup->rounds, 3);
  std::printf(
      "scale of scan+decode, best of each side per round, %d rounds (g++ %d.%d.%d, commit %s)\n",
      rounds, __GNUC__, __GNUC_MINOR__, __GNUC_PATCHLEVEL__, ostrevane::bench::commit().c_str());

  const std::string big = one_document(setup->text, std::size_t{64} << 20);
  const std::string small = one_document(setup->text, std::size_t{4} << 20);
  const std::string keys_small = mapping_of(10'000), keys_big = mapping_of(1'000'000);
  const std::string items_small = flow_sequence_of(10'000), items_big = flow_sequence_of(1'000'000);
  std::string body;
  std::string block = "text: |\n";
  const std::string line = std::string(79, 'x') + "\n";
  for (std::size_t i = 0; i < (std::size_t{50} << 20) / line.size(); ++i) {
    body += line;
    block += "  " + line;
  }

  Spread throughput, per_key, per_item, block_copies;
  for (int r = 0; r < rounds; ++r) {
    const double t_small = best_decode(small, 5), t_big = best_decode(big, 2);
    const double k_small = best_decode(keys_small, 9), k_big = best_decode(keys_big, 2);
    const double i_small = best_decode(items_small, 9), i_big = best_decode(items_big, 2);
    const double t_block = best_decode(block, 3), t_copy = best_copy(body, 3);
    if (t_small < 0 || t_big < 0 || k_small < 0 || k_big < 0 || i_small < 0 || i_big < 0 ||
        t_block < 0)
      return 1;
    throughput.add((static_cast<double>(big.size()) / t_big) /
                   (static_cast<double>(small.size()) / t_small));
    per_key.add((k_big / 1e6) / (k_small / 1e4));
    per_item.add((i_big / 1e6) / (i_small / 1e4));
    block_copies.add(t_block / t_copy);
  }
  print("throughput 64 MB / 4 MB:", throughput, "  (goal >= 0.80)");
  print("per key, 1,000,000 / 10,000 keys:", per_key, "  (goal <= 1.50)");
  print("per item, 1,000,000 / 10,000 items:", per_item, "  (goal <= 1.50)");
  print("50 MB block scalar / one copy:", block_copies, "");
  return 0;
}
