// The two renderers on the same grids: render_cells row after row (the plain
// reference) and render_cells_batched with 1 and 2 threads. Items are samples of one
// row (rows x 802,000 per iteration).
#include <benchmark/benchmark.h>

#include <vector>

#include "batch_render.h"
#include "render_pipeline.h"
#include "render_testing.h"
#include "bench_grids.h"
#include "tone.h"

namespace gridwave::bench {
namespace {

struct Grid {
  std::vector<std::int32_t> cells;
  std::vector<double> frequencies;
  int rows;
};

Grid grid_for(const benchmark::State& state) {
  const int rows = static_cast<int>(state.range(1));
  Grid g{make_grid(static_cast<GridKind>(state.range(0)), rows), {}, rows};
  for (int r = 0; r < rows; ++r) g.frequencies.push_back(row_frequency(r + 1, rows + 1));
  return g;
}

void Plain(benchmark::State& state) {
  const Grid g = grid_for(state);
  std::vector<Slot> acc(kAccumulatorSlots, 0);
  for (auto _ : state) {
    for (int r = 0; r < g.rows; ++r) {
      render_cells(acc.data(), g.frequencies[r], g.cells.data() + std::size_t(r) * kCellsPerRow, kCellsPerRow);
    }
    benchmark::DoNotOptimize(acc.data());
  }
  state.SetItemsProcessed(state.iterations() * g.rows * std::int64_t{kSampleCount});
}

void Batched(benchmark::State& state) {
  const Grid g = grid_for(state);
  const int threads = static_cast<int>(state.range(2));
  std::vector<Slot> acc(kAccumulatorSlots, 0);
  const std::uint64_t fallbacks_before = sin_fallback_count();
  for (auto _ : state) {
    render_cells_batched(acc.data(), g.frequencies.data(), g.cells.data(), g.rows, kCellsPerRow, threads);
    benchmark::DoNotOptimize(acc.data());
  }
  const double row_samples = static_cast<double>(state.iterations()) * g.rows * kSampleCount;
  state.SetItemsProcessed(state.iterations() * g.rows * std::int64_t{kSampleCount});
  // Row samples recomputed with std::sin, per million.
  state.counters["std_sin_per_M"] =
      static_cast<double>(sin_fallback_count() - fallbacks_before) / row_samples * 1e6;
  state.SetLabel(render_target_name());
}

constexpr int kDense = static_cast<int>(GridKind::kDense);
constexpr int kBlocks = static_cast<int>(GridKind::kBlocks);
constexpr int kExtreme = static_cast<int>(GridKind::kExtreme);

BENCHMARK(Plain)->ArgNames({"kind", "rows"})->Args({kDense, 64})->Args({kBlocks, 64})->Args({kExtreme, 64})
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Batched)->ArgNames({"kind", "rows", "threads"})
    ->Args({kDense, 64, 1})->Args({kDense, 64, 2})->Args({kBlocks, 64, 1})->Args({kBlocks, 64, 2})
    ->Args({kDense, 200, 2})->Args({kExtreme, 64, 1})->Args({kExtreme, 200, 2})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace gridwave::bench

BENCHMARK_MAIN();
