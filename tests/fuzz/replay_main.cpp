// Replays stored inputs through one harness, so that every harness builds
// with g++ as a plain executable and `meson test` runs it over its corpus.
//   <harness> PATH...   each PATH a file or a folder (its files, sorted)
// Exit status 0 when every input ran; a broken invariant aborts and names
// the file on stderr first.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool read_file(const std::filesystem::path& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg(argv[i]);
    std::error_code ec;
    if (fs::is_directory(arg, ec)) {
      std::vector<fs::path> found;
      for (const auto& entry : fs::directory_iterator(arg)) {
        if (entry.is_regular_file()) found.push_back(entry.path());
      }
      std::sort(found.begin(), found.end());
      inputs.insert(inputs.end(), found.begin(), found.end());
    } else if (fs::is_regular_file(arg, ec)) {
      inputs.push_back(arg);
    } else {
      std::fprintf(stderr, "replay: no such file or folder: %s\n", argv[i]);
      return 2;
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "replay: no inputs\n");
    return 2;
  }
  std::string bytes;
  for (const fs::path& path : inputs) {
    if (!read_file(path, bytes)) {
      std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
      return 2;
    }
    // Printed before the run, so an abort leaves the file's name behind.
    std::fprintf(stderr, "replay: %s\n", path.c_str());
    // A fresh copy of exactly the input's size, so that reading one byte
    // past the end is caught by the sanitizers as it would be by libFuzzer.
    std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(copy.data(), copy.size());
  }
  std::fprintf(stderr, "replay: %zu inputs ran\n", inputs.size());
  return 0;
}
