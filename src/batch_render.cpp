// The batched renderer. Highway compiles the code between the namespace
// markers once per SIMD target (this file is included again for each by
// foreach_target.h); the code after HWY_ONCE picks the best target at run
// time and splits the samples among threads.
//
// Why the result is the same, slot for slot, as render_cells row by row:
//
// * Phases. Each row's phase is its own sequential recurrence
//   phase = phase + step, then phase - kFullCircle once when phase >=
//   kFullCircle. Lanes hold different rows, so every lane runs that very
//   recurrence with the very same double operations (Add, Ge, Sub; no fused
//   multiply-add), and a thread that starts at sample a first runs it a
//   times. The step comes from phase_step, the frequency from the caller.
//
// * Order. A slot takes the rows of a batch in ascending row order, and the
//   driver hands batches over in ascending order, so each slot sees the
//   same sequence of truncating additions as with render_cells. Threads own
//   disjoint sample ranges.
//
// * The accumulator in doubles. Every value a slot ever holds is
//   trunc((double)slot + s), a double with no fraction, so converting the
//   Slot to double and back is exact, and keeping it as a double while the
//   rows of a batch are added, each step being trunc(acc + s), gives the same
//   doubles the plain loop gets from (double)slot + s. (A zero may come out
//   as -0.0; adding s to -0.0 or +0.0 gives the same value for any nonzero s
//   and a zero otherwise, so the slot is the same.) This holds while every
//   slot stays below 2^63 in magnitude; beyond that the plain loop's
//   conversion to int64 is itself undefined. Reaching it takes over 4e7
//   rows of +-2147483647 cells, a grid file of more than 34 GB.
//
// * The sine. sin_hwy = hn::Sin is documented (contrib/math/math-inl.h) to be
//   within 3 ULP of sin over [-39000, 39000]; phases stay in [0, 6.2831853072).
//   glibc's sin is within 1 ULP. So |sin_hwy - std::sin| <= 4 ULP of y,
//   at most 2^-50 (|y| <= 1 and an ULP of y is at most 2^-52 |y|). The steps
//   after the sine, s = (y * A) * 100 and trunc(acc + s), are each monotonic
//   in y (non-decreasing for A >= 0, non-increasing for A < 0). With the two
//   roundings of the products, s from std::sin lies within about
//   2^-49 |A| 100 of s from sin_hwy. We widen that to
//   margin = 2^-40 |A| 100 (512 times the bound) and take
//   lo = trunc(acc + (s - margin)), hi = trunc(acc + (s + margin)).
//   By monotonicity the std::sin result lies between lo and hi, so when they
//   are equal it is that value. Otherwise the lane is recomputed with
//   std::sin exactly as render_cells does. That happens mostly where the
//   sine is exactly +-1 (s is then a whole number and acc + s sits on a
//   truncation step), a few times per million evaluations. A zero cell
//   contributes nothing and is skipped.

#ifndef GRIDWAVE_BATCH_RENDER_SHARED
#define GRIDWAVE_BATCH_RENDER_SHARED

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <vector>

#include "batch_render.h"
#include "tone.h"

namespace gridwave {

// One thread's share of one batch: samples [begin, end) of every row.
struct RangeJob {
  Slot* accumulator;
  const double* steps;        // phase step of each row
  const std::int32_t* cells;  // row r's cell k at cells[r * kCellsPerRow + k]
  int rows;
  int columns;
  std::int64_t begin;
  std::int64_t end;
};

}  // namespace gridwave

#endif  // GRIDWAVE_BATCH_RENDER_SHARED

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "batch_render.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"
#include "hwy/aligned_allocator.h"
#include "hwy/contrib/math/math-inl.h"

HWY_BEFORE_NAMESPACE();
namespace gridwave {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using D = hn::ScalableTag<double>;
using V = hn::Vec<D>;

// Samples handled together: first every row's phases for them, row by row,
// then each slot takes the rows in order.
constexpr std::int64_t kBlockSamples = 32;

// The phase recurrence, the same operations as render_cells.
HWY_INLINE V Advance(V phase, V step, V circle) {
  const V next = hn::Add(phase, step);
  return hn::IfThenElse(hn::Ge(next, circle), hn::Sub(next, circle), next);
}

// Runs the phases of `stride` rows n samples on. Four row groups go together
// so that their recurrences overlap in the pipeline.
void RunPhases(double* phases, const double* steps, std::size_t stride, std::int64_t n) {
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  const V circle = hn::Set(d, kFullCircle);
  std::size_t g = 0;
  for (; g + 4 * lanes <= stride; g += 4 * lanes) {
    V p0 = hn::Load(d, phases + g), p1 = hn::Load(d, phases + g + lanes);
    V p2 = hn::Load(d, phases + g + 2 * lanes), p3 = hn::Load(d, phases + g + 3 * lanes);
    const V s0 = hn::Load(d, steps + g), s1 = hn::Load(d, steps + g + lanes);
    const V s2 = hn::Load(d, steps + g + 2 * lanes), s3 = hn::Load(d, steps + g + 3 * lanes);
    for (std::int64_t i = 0; i < n; ++i) {
      p0 = Advance(p0, s0, circle);
      p1 = Advance(p1, s1, circle);
      p2 = Advance(p2, s2, circle);
      p3 = Advance(p3, s3, circle);
    }
    hn::Store(p0, d, phases + g);
    hn::Store(p1, d, phases + g + lanes);
    hn::Store(p2, d, phases + g + 2 * lanes);
    hn::Store(p3, d, phases + g + 3 * lanes);
  }
  for (; g < stride; g += lanes) {
    V p = hn::Load(d, phases + g);
    const V s = hn::Load(d, steps + g);
    for (std::int64_t i = 0; i < n; ++i) p = Advance(p, s, circle);
    hn::Store(p, d, phases + g);
  }
}

// Turns lanes x lanes values around in place: x[l] lane j becomes x[j] lane l.
// log2(lanes) rounds of splitting vector pairs into their even and odd lanes
// make the transpose.
HWY_INLINE void Transpose(V* x) {
#if HWY_TARGET == HWY_SCALAR
  (void)x;
#else
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  V y[hn::MaxLanes(d)];
  for (std::size_t round = 1; round < lanes; round *= 2) {
    for (std::size_t j = 0; j < lanes / 2; ++j) {
      y[j] = hn::ConcatEven(d, x[2 * j + 1], x[2 * j]);
      y[j + lanes / 2] = hn::ConcatOdd(d, x[2 * j + 1], x[2 * j]);
    }
    for (std::size_t l = 0; l < lanes; ++l) x[l] = y[l];
  }
#endif
}

// Runs one group of `lanes` rows n samples on, leaving the phases row by row:
// row j's phase at sample k goes to rows[j * kBlockSamples + k]. Samples
// n ... padded-1 get phase 0 (sine 0).
HWY_INLINE void PhasesByRow(double* phase, const double* step, std::int64_t n, std::int64_t padded,
                            double* rows) {
  const D d;
  const std::int64_t lanes = static_cast<std::int64_t>(hn::Lanes(d));
  const V circle = hn::Set(d, kFullCircle);
  const V s = hn::Load(d, step);
  V p = hn::Load(d, phase);
  V x[hn::MaxLanes(d)];
  for (std::int64_t k = 0; k < padded; k += lanes) {
    for (std::int64_t l = 0; l < lanes; ++l) {
      if (k + l < n) {
        x[l] = p;
        p = Advance(p, s, circle);
      } else {
        x[l] = hn::Zero(d);
      }
    }
    Transpose(x);
    for (std::int64_t j = 0; j < lanes; ++j) hn::Store(x[j], d, rows + j * kBlockSamples + k);
  }
  hn::Store(p, d, phase);
}

// The lanes whose sine error could matter, done the plain way with std::sin.
HWY_NOINLINE V Recompute(V acc, V phase, V lo, V hi, double amplitude, std::uint64_t& fallbacks) {
  const D d;
  HWY_ALIGN double a[hn::MaxLanes(d)];
  HWY_ALIGN double p[hn::MaxLanes(d)];
  HWY_ALIGN double l[hn::MaxLanes(d)];
  HWY_ALIGN double h[hn::MaxLanes(d)];
  hn::Store(acc, d, a);
  hn::Store(phase, d, p);
  hn::Store(lo, d, l);
  hn::Store(hi, d, h);
  for (std::size_t k = 0; k < hn::Lanes(d); ++k) {
    if (l[k] != h[k]) {
      ++fallbacks;
      l[k] = std::trunc(a[k] + (std::sin(p[k]) * amplitude) * kCellGain);
    }
  }
  return hn::Load(d, l);
}

// Adds the live rows (nonzero cells, ascending) into the `lanes` slots held
// in acc_block; row r's phases for these samples are at phase_rows[r * kBlockSamples].
HWY_INLINE void AccumulateVector(double* acc_block, const double* phase_rows,
                                 const std::vector<int>& live, const std::vector<double>& amps,
                                 const std::vector<double>& margins, std::uint64_t& fallbacks) {
  const D d;
  const V gain = hn::Set(d, kCellGain);
  V acc = hn::Load(d, acc_block);
  const std::size_t count = live.size();
  for (std::size_t j = 0; j < count; ++j) {
    const V phase = hn::Load(d, phase_rows + live[j] * kBlockSamples);
    const V s = hn::Mul(hn::Mul(hn::Sin(d, phase), hn::Set(d, amps[j])), gain);
    const V margin = hn::Set(d, margins[j]);
    const V lo = hn::Trunc(hn::Add(acc, hn::Sub(s, margin)));
    const V hi = hn::Trunc(hn::Add(acc, hn::Add(s, margin)));
    if (HWY_UNLIKELY(!hn::AllTrue(d, hn::Eq(lo, hi)))) {
      acc = Recompute(acc, phase, lo, hi, amps[j], fallbacks);
    } else {
      acc = lo;
    }
  }
  hn::Store(acc, d, acc_block);
}

std::uint64_t RenderRange(const RangeJob& job) {
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  const std::size_t stride = (static_cast<std::size_t>(job.rows) + lanes - 1) / lanes * lanes;
  auto phases = hwy::AllocateAligned<double>(stride);
  auto steps = hwy::AllocateAligned<double>(stride);
  auto phase_rows = hwy::AllocateAligned<double>(stride * kBlockSamples);  // [row][sample]
  auto acc_block = hwy::AllocateAligned<double>(kBlockSamples);
  std::fill_n(phases.get(), stride, 0.0);
  std::fill_n(steps.get(), stride, 0.0);  // padding rows never move and never sound
  std::fill_n(phase_rows.get(), stride * kBlockSamples, 0.0);
  std::copy_n(job.steps, job.rows, steps.get());

  RunPhases(phases.get(), steps.get(), stride, job.begin);

  std::uint64_t fallbacks = 0;
  std::vector<int> live;
  std::vector<double> amps;
  std::vector<double> margins;
  std::int64_t live_column = -1;
  for (std::int64_t i = job.begin; i < job.end;) {
    const std::int64_t column = i / kSamplesPerColumn;
    const std::int64_t block_end =
        std::min({job.end, (column + 1) * kSamplesPerColumn, i + kBlockSamples});
    const std::int64_t n = block_end - i;
    if (column != live_column) {
      live.clear();
      amps.clear();
      margins.clear();
      for (int r = 0; r < job.rows; ++r) {
        const std::int32_t cell = job.cells[static_cast<std::int64_t>(r) * kCellsPerRow + column];
        if (cell != 0) {
          live.push_back(r);
          amps.push_back(cell);
          margins.push_back(std::fabs(static_cast<double>(cell)) * kCellGain * 0x1p-40);
        }
      }
      live_column = column;
    }
    if (live.empty()) {
      RunPhases(phases.get(), steps.get(), stride, n);
    } else {
      const std::int64_t padded = (n + static_cast<std::int64_t>(lanes) - 1) /
                                  static_cast<std::int64_t>(lanes) * static_cast<std::int64_t>(lanes);
      for (std::size_t g = 0; g < stride; g += lanes) {
        PhasesByRow(phases.get() + g, steps.get() + g, n, padded, phase_rows.get() + g * kBlockSamples);
      }
      Slot* slots = job.accumulator + i;
      for (std::int64_t k = 0; k < padded; ++k) acc_block[k] = k < n ? static_cast<double>(slots[k]) : 0.0;
      for (std::int64_t k = 0; k < padded; k += static_cast<std::int64_t>(lanes)) {
        AccumulateVector(acc_block.get() + k, phase_rows.get() + k, live, amps, margins, fallbacks);
      }
      for (std::int64_t k = 0; k < n; ++k) slots[k] = static_cast<Slot>(acc_block[k]);
    }
    i = block_end;
  }
  return fallbacks;
}

const char* TargetName() { return hwy::TargetName(HWY_TARGET); }

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace gridwave
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace gridwave {

HWY_EXPORT(RenderRange);
HWY_EXPORT(TargetName);

namespace {

std::atomic<std::uint64_t> fallback_total{0};

// Threads start at multiples of this, so that vectors stay whole.
constexpr std::int64_t kThreadAlign = 64;

void render_rows(Slot* accumulator, const double* frequencies, const std::int32_t* cells, int rows,
                 int columns, int threads) {
  double steps[kBatchRows];
  for (int r = 0; r < rows; ++r) steps[r] = phase_step(frequencies[r]);
  const std::int64_t samples = std::int64_t{columns} * kSamplesPerColumn;
  const std::int64_t share =
      std::max(kThreadAlign, (samples / threads + kThreadAlign - 1) / kThreadAlign * kThreadAlign);

  auto render = HWY_DYNAMIC_DISPATCH(RenderRange);
  std::vector<RangeJob> jobs;
  for (std::int64_t begin = 0; begin < samples; begin += share) {
    jobs.push_back({accumulator, steps, cells, rows, columns, begin, std::min(samples, begin + share)});
  }
  std::vector<std::uint64_t> fallbacks(jobs.size(), 0);
  std::vector<std::thread> workers;
  for (std::size_t t = 1; t < jobs.size(); ++t) {
    workers.emplace_back([&, t] { fallbacks[t] = render(jobs[t]); });
  }
  if (!jobs.empty()) fallbacks[0] = render(jobs[0]);
  for (auto& w : workers) w.join();
  for (std::uint64_t f : fallbacks) fallback_total += f;
}

}  // namespace

void render_batch(Slot* accumulator, const double* frequencies, const std::int32_t* cells,
                  int rows, int columns, int threads) {
  columns = std::clamp(columns, 0, kCellsPerRow);
  threads = std::clamp(threads, 1, kMaxRenderThreads);
  if (columns == 0) return;
  for (int first = 0; first < rows; first += kBatchRows) {
    const int n = std::min(kBatchRows, rows - first);
    render_rows(accumulator, frequencies + first, cells + std::int64_t{first} * kCellsPerRow, n,
                columns, threads);
  }
}

int render_threads() {
  if (const char* text = std::getenv("GRIDWAVE_THREADS")) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && n >= 1 && n <= kMaxRenderThreads) return static_cast<int>(n);
  }
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    return std::clamp(CPU_COUNT(&set), 1, kMaxRenderThreads);
  }
  return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxRenderThreads);
}

std::uint64_t sin_fallback_count() { return fallback_total.load(); }

const char* render_target_name() { return HWY_DYNAMIC_DISPATCH(TargetName)(); }

}  // namespace gridwave
#endif  // HWY_ONCE
