// The tree layout on large build lists in random order.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "buildlist/build_list.h"
#include "pack/layout.h"

namespace quarrion {
namespace {

// A list shaped like a game's data directory: a few hundred folders up to
// four levels deep, file names with long shared prefixes, a sprinkling of
// duplicates, in shuffled order.
BuildList MakeList(std::size_t n) {
  const std::vector<std::string> tops = {"data\\maps",           "data\\models",  "data\\tables",
                                         "data\\sounds\\speech", "data\\effects", "data\\missions"};
  std::vector<std::string> folders = {"data"};
  for (const std::string& top : tops) {
    folders.push_back(top);
    for (int i = 0; i < 50; ++i) {
      folders.push_back(top + "\\sector" + std::to_string(i));
      if (i % 10 == 0) folders.push_back(top + "\\sector" + std::to_string(i) + "\\extra");
    }
  }
  const std::vector<std::string> stems = {"ship_fighter_", "ship_bomber_", "cap_destroyer_",
                                          "wpn_laser_", "fx_explosion_"};
  std::mt19937 rng(42);
  BuildList list;
  list.files.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    FileRecord r;
    r.folder = folders[rng() % folders.size()];
    std::string name = stems[rng() % stems.size()] + std::to_string(rng() % (n / 2 + 1)) + ".pof";
    SetEntryName(&r.entry, name);
    r.entry.size = static_cast<std::int32_t>(rng() % 4096);
    r.path = "c:\\src\\" + r.folder + "\\" + name;
    list.files.push_back(std::move(r));
  }
  return list;
}

void BM_LayoutTree(benchmark::State& state) {
  const BuildList original = MakeList(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    BuildList list = original;
    state.ResumeTiming();
    const Layout layout = LayoutTree(list);
    benchmark::DoNotOptimize(layout.dirOffset);
    state.PauseTiming();
    list = BuildList();  // the copy's release is not part of the layout
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LayoutTree)->Arg(10000)->Arg(200000)->Unit(benchmark::kMillisecond);

// A second layout of a list that is already in order (the "so" command
// followed by a write).
void BM_LayoutTreeSorted(benchmark::State& state) {
  BuildList list = MakeList(static_cast<std::size_t>(state.range(0)));
  LayoutTree(list);
  for (auto _ : state) {
    const Layout layout = LayoutTree(list);
    benchmark::DoNotOptimize(layout.dirOffset);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LayoutTreeSorted)->Arg(200000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quarrion
