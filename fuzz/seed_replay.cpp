// Runs a fuzz target once on every seed in the folders given, in name order,
// as libFuzzer would run it on a saved input: each seed's bytes in a buffer
// of exactly their size, so that AddressSanitizer sees a read past the end.
// A check that fails in the target aborts; an empty or missing folder fails.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

// The files in `folder`, or none when it cannot be listed.
std::vector<fs::path> Seeds(const char* folder) {
  std::vector<fs::path> seeds;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
    if (e.is_regular_file()) seeds.push_back(e.path());
  }
  std::sort(seeds.begin(), seeds.end());
  return seeds;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const std::vector<fs::path> seeds = Seeds(argv[i]);
    if (seeds.empty()) {
      std::fprintf(stderr, "no seeds in %s\n", argv[i]);
      return 1;
    }
    for (const fs::path& seed : seeds) {
      std::ifstream in(seed, std::ios::binary);
      const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      if (in.bad()) {
        std::fprintf(stderr, "cannot read %s\n", seed.c_str());
        return 1;
      }
      const std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[bytes.size()]);
      std::copy(bytes.begin(), bytes.end(), data.get());
      std::printf("%s (%zu bytes)\n", seed.c_str(), bytes.size());
      std::fflush(stdout);  // the last seed named is the one that failed
      LLVMFuzzerTestOneInput(data.get(), bytes.size());
      ++replayed;
    }
  }
  std::printf("%zu seeds replayed\n", replayed);
  return replayed > 0 ? 0 : 1;
}
