// Runs a fuzz target once on every seed of the folders given, in name order,
// each in a buffer of exactly its size as libFuzzer runs a saved input (so a
// read past the end is seen). A failed check aborts; no seeds in a folder fails.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <system_error>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    std::set<fs::path> seeds;  // in name order
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(argv[i], ec)) {
      if (e.is_regular_file()) seeds.insert(e.path());
    }
    if (seeds.empty()) {
      std::fprintf(stderr, "no seeds in %s\n", argv[i]);
      return 1;
    }
    for (const fs::path& seed : seeds) {
      const std::size_t size = fs::file_size(seed);
      const std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[size]);
      std::ifstream in(seed, std::ios::binary);
      if (!in.read(reinterpret_cast<char*>(data.get()), static_cast<std::streamsize>(size))) {
        std::fprintf(stderr, "cannot read %s\n", seed.c_str());
        return 1;
      }
      std::printf("%s (%zu bytes)\n", seed.c_str(), size);
      std::fflush(stdout);  // the last seed named is the one that failed
      LLVMFuzzerTestOneInput(data.get(), size);
      ++replayed;
    }
  }
  std::printf("%zu seeds replayed\n", replayed);
  return replayed > 0 ? 0 : 1;
}
