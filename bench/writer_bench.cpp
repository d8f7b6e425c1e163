// Writing archives from files on disk: many small files and a few large
// ones, each written to a fresh temporary archive and committed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <system_error>

#include "buildlist/build_list.h"
#include "host/host.h"
#include "pack/writer.h"
#include "shell/console.h"

namespace quarrion {
namespace {

namespace fs = std::filesystem;

// A folder of generated source files, removed at exit.
class BenchFiles {
 public:
  BenchFiles() {
    root_ =
        fs::temp_directory_path() / ("quarrion-bench-" + std::to_string(std::random_device{}()));
    fs::create_directories(root_);
  }
  ~BenchFiles() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  const fs::path& root() const { return root_; }

  // `count` files of `size` bytes spread over `folders` folders.
  BuildList Make(const std::string& tag, int count, int folders, std::size_t size) {
    BuildList list;
    // Written a block at a time, so that the process's peak memory shows
    // what the writer needs rather than the size of a file.
    const std::string block(std::min<std::size_t>(size, 1 << 20), 'q');
    for (int i = 0; i < count; ++i) {
      // Appended piece by piece: GCC 12 warns falsely on literal + temporary.
      std::string sub = "f";
      sub += std::to_string(i % folders);
      const std::string folder = "data\\" + tag + "\\" + sub;
      std::string name = "file";
      name += std::to_string(i);
      name += ".bin";
      const fs::path dir = root_ / tag / sub;
      fs::create_directories(dir);
      const fs::path path = dir / name;
      std::ofstream file(path, std::ios::binary);
      for (std::size_t done = 0; done < size; done += block.size()) {
        file.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), size - done)));
      }
      FileRecord r;
      r.path = path.string();
      r.folder = folder;
      SetEntryName(&r.entry, name);
      r.entry.size = static_cast<std::int32_t>(size);
      list.files.push_back(std::move(r));
    }
    return list;
  }

 private:
  fs::path root_;
};

BenchFiles& Files() {
  static BenchFiles files;
  return files;
}

void WriteList(benchmark::State& state, BuildList& list) {
  const std::string target = (Files().root() / "out.vp").string();
  std::int64_t bytes = 0;
  for (const FileRecord& r : list.files) bytes += r.entry.size;
  for (auto _ : state) {
    std::ostringstream console;
    ConsoleWarnings warnings(console, console);
    if (Status why = WriteArchive(list, target, warnings); !why.ok()) {
      state.SkipWithError(why.Message().c_str());
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(list.files.size()));
}

void BM_WriteVpSmallFiles(benchmark::State& state) {
  static BuildList list = Files().Make("small", 2000, 100, 16 * 1024);
  WriteList(state, list);
}
BENCHMARK(BM_WriteVpSmallFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WriteVpLargeFiles(benchmark::State& state) {
  static BuildList list = Files().Make("large", 4, 2, 64 * 1024 * 1024);
  WriteList(state, list);
}
BENCHMARK(BM_WriteVpLargeFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quarrion
