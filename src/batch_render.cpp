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
//   within 3 ULP of sin over [-39000, 39000]. For |x| < pi/2 its quadrant is
//   0, its range reduction adds 0 * (pi parts) and its sign steps undo each
//   other, so it returns exactly its core polynomial of x; SinOfPhase feeds
//   that polynomial directly. Phases lie in [0, 6.2831853072), and
//   SinOfPhase maps them onto [-pi/2, pi/2] with sin(u) = sin(phase): u =
//   phase, u = (PI_HI - phase) + PI_LO, or u = (phase - 2 PI_HI) - 2 PI_LO.
//   The subtractions are exact (Sterbenz: the operands lie within a factor
//   of two of each other), the additions of the low parts round once, so u
//   is within 2^-52 of the true reduced value and the sine within 2^-52 of
//   sin(phase). (6.2831853072 exceeds 2 pi by 2e-11; such phases reduce to
//   tiny positive u, as they should.) Together with the polynomial's 3 ULP
//   (at most 3 * 2^-53):
//   glibc's sin is within 1 ULP. So |sin_hwy - std::sin| < 2^-50. The steps
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

// Runs the phases of `stride` rows n samples on. When `record` is given,
// the phase each row has at sample k (before it advances) is kept at
// record[k * stride + row]. Up to kChains row groups go together so that
// their recurrences, each a chain of dependent operations, overlap in the
// pipeline.
void RunPhases(double* phases, const double* steps, std::size_t stride, std::int64_t n,
               double* record = nullptr) {
  constexpr std::size_t kChains = 8;
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  const V circle = hn::Set(d, kFullCircle);
  for (std::size_t g = 0; g < stride; g += kChains * lanes) {
    const std::size_t chains = std::min(kChains, (stride - g) / lanes);
    V p[kChains], s[kChains];
    for (std::size_t c = 0; c < chains; ++c) {
      p[c] = hn::Load(d, phases + g + c * lanes);
      s[c] = hn::Load(d, steps + g + c * lanes);
    }
    if (chains == kChains) {
      for (std::int64_t i = 0; i < n; ++i) {
        if (record != nullptr) {
          double* at = record + static_cast<std::size_t>(i) * stride + g;
          for (std::size_t c = 0; c < kChains; ++c) hn::Store(p[c], d, at + c * lanes);
        }
        for (std::size_t c = 0; c < kChains; ++c) p[c] = Advance(p[c], s[c], circle);
      }
    } else {
      for (std::int64_t i = 0; i < n; ++i) {
        if (record != nullptr) {
          double* at = record + static_cast<std::size_t>(i) * stride + g;
          for (std::size_t c = 0; c < chains; ++c) hn::Store(p[c], d, at + c * lanes);
        }
        for (std::size_t c = 0; c < chains; ++c) p[c] = Advance(p[c], s[c], circle);
      }
    }
    for (std::size_t c = 0; c < chains; ++c) hn::Store(p[c], d, phases + g + c * lanes);
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

// Turns the phases RunPhases recorded sample by sample (by_sample[k * stride
// + row]) around, tile by tile, into by_row[row * kBlockSamples + k].
// Samples n ... padded-1 get phase 0 (sine 0).
HWY_INLINE void PhasesByRow(const double* by_sample, std::size_t stride, std::int64_t n,
                            std::int64_t padded, double* by_row) {
  const D d;
  const std::int64_t lanes = static_cast<std::int64_t>(hn::Lanes(d));
  V x[hn::MaxLanes(d)];
  for (std::size_t g = 0; g < stride; g += static_cast<std::size_t>(lanes)) {
    for (std::int64_t k = 0; k < padded; k += lanes) {
      for (std::int64_t l = 0; l < lanes; ++l) {
        x[l] = k + l < n ? hn::Load(d, by_sample + static_cast<std::size_t>(k + l) * stride + g)
                         : hn::Zero(d);
      }
      Transpose(x);
      for (std::int64_t j = 0; j < lanes; ++j) {
        hn::Store(x[j], d, by_row + (g + static_cast<std::size_t>(j)) * kBlockSamples + k);
      }
    }
  }
}

// sin(phase) for phases in [0, 6.2831853072): the phase folded onto
// [-pi/2, pi/2] (exact subtractions, one rounding for the low part of pi),
// then Highway's sine polynomial, which is what hn::Sin computes there.
HWY_INLINE V SinOfPhase(D d, V phase) {
  constexpr double kPiHi = 3.141592653589793116;       // pi rounded to double
  constexpr double kPiLo = 1.2246467991473532072e-16;  // pi - kPiHi
  const V mid = hn::Add(hn::Sub(hn::Set(d, kPiHi), phase), hn::Set(d, kPiLo));
  const V top = hn::Sub(hn::Sub(phase, hn::Set(d, 2 * kPiHi)), hn::Set(d, 2 * kPiLo));
  const auto past_mid = hn::Gt(phase, hn::Set(d, 0.5 * kPiHi));
  const auto past_top = hn::Ge(phase, hn::Set(d, 1.5 * kPiHi));
  const V u = hn::IfThenElse(past_top, top, hn::IfThenElse(past_mid, mid, phase));
  return hn::impl::CosSinImpl<double>().Poly(d, u);
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
// in acc_block, and into the next `lanes` too when `pair` is set (two
// independent chains of truncating additions keep the pipeline fuller);
// row r's phases for these samples are at phase_rows[r * kBlockSamples].
template <bool pair>
HWY_INLINE void AccumulateVectors(double* acc_block, const double* phase_rows,
                                  const std::vector<int>& live, const std::vector<double>& amps,
                                  const std::vector<double>& margins, std::uint64_t& fallbacks) {
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  const V gain = hn::Set(d, kCellGain);
  V acc0 = hn::Load(d, acc_block);
  V acc1 = pair ? hn::Load(d, acc_block + lanes) : acc0;
  const std::size_t count = live.size();
  for (std::size_t j = 0; j < count; ++j) {
    const double* row = phase_rows + live[j] * kBlockSamples;
    const V amp = hn::Set(d, amps[j]);
    const V margin = hn::Set(d, margins[j]);
    const V phase0 = hn::Load(d, row);
    const V s0 = hn::Mul(hn::Mul(SinOfPhase(d, phase0), amp), gain);
    const V lo0 = hn::Trunc(hn::Add(acc0, hn::Sub(s0, margin)));
    const V hi0 = hn::Trunc(hn::Add(acc0, hn::Add(s0, margin)));
    if constexpr (pair) {
      const V phase1 = hn::Load(d, row + lanes);
      const V s1 = hn::Mul(hn::Mul(SinOfPhase(d, phase1), amp), gain);
      const V lo1 = hn::Trunc(hn::Add(acc1, hn::Sub(s1, margin)));
      const V hi1 = hn::Trunc(hn::Add(acc1, hn::Add(s1, margin)));
      if (HWY_UNLIKELY(!hn::AllTrue(d, hn::And(hn::Eq(lo0, hi0), hn::Eq(lo1, hi1))))) {
        acc0 = Recompute(acc0, phase0, lo0, hi0, amps[j], fallbacks);
        acc1 = Recompute(acc1, phase1, lo1, hi1, amps[j], fallbacks);
      } else {
        acc0 = lo0;
        acc1 = lo1;
      }
    } else if (HWY_UNLIKELY(!hn::AllTrue(d, hn::Eq(lo0, hi0)))) {
      acc0 = Recompute(acc0, phase0, lo0, hi0, amps[j], fallbacks);
    } else {
      acc0 = lo0;
    }
  }
  hn::Store(acc0, d, acc_block);
  if constexpr (pair) hn::Store(acc1, d, acc_block + lanes);
}

std::uint64_t RenderRange(const RangeJob& job) {
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  const std::size_t stride = (static_cast<std::size_t>(job.rows) + lanes - 1) / lanes * lanes;
  auto phases = hwy::AllocateAligned<double>(stride);
  auto steps = hwy::AllocateAligned<double>(stride);
  auto phase_rows = hwy::AllocateAligned<double>(stride * kBlockSamples);  // [row][sample]
  auto phase_samples = hwy::AllocateAligned<double>(stride * kBlockSamples);  // [sample][row]
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
      RunPhases(phases.get(), steps.get(), stride, n, phase_samples.get());
      PhasesByRow(phase_samples.get(), stride, n, padded, phase_rows.get());
      Slot* slots = job.accumulator + i;
      for (std::int64_t k = 0; k < padded; ++k) acc_block[k] = k < n ? static_cast<double>(slots[k]) : 0.0;
      const auto step = static_cast<std::int64_t>(lanes);
      std::int64_t k = 0;
      for (; k + 2 * step <= padded; k += 2 * step) {
        AccumulateVectors<true>(acc_block.get() + k, phase_rows.get() + k, live, amps, margins, fallbacks);
      }
      if (k < padded) {
        AccumulateVectors<false>(acc_block.get() + k, phase_rows.get() + k, live, amps, margins, fallbacks);
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

// Running a row's phase one sample on, against rendering one sample of a
// row whose cell sounds (measured with AVX-512 on a 2-core EPYC).
constexpr double kPhaseCost = 0.1;

void render_rows(Slot* accumulator, const double* frequencies, const std::int32_t* cells, int rows,
                 int columns, int threads) {
  double steps[kBatchRows];
  for (int r = 0; r < rows; ++r) steps[r] = phase_step(frequencies[r]);
  const std::int64_t samples = std::int64_t{columns} * kSamplesPerColumn;

  // A thread that starts at sample b first runs its rows' phases b samples
  // on, which costs about c of what rendering a sample costs (more where
  // few cells sound). Ranges shrink from thread to thread so that all finish
  // together: b_t = samples * (1 - (1-c)^t) / (1 - (1-c)^threads).
  std::int64_t live = 0;
  for (std::int64_t k = 0; k < std::int64_t{rows} * kCellsPerRow; ++k) live += cells[k] != 0;
  const double live_fraction = static_cast<double>(live) / (std::int64_t{rows} * kCellsPerRow);
  const double c = kPhaseCost / (kPhaseCost + std::max(live_fraction, 0.05));
  const double all = 1.0 - std::pow(1.0 - c, threads);
  std::vector<std::int64_t> bounds{0};
  for (int t = 1; t < threads; ++t) {
    const double at = static_cast<double>(samples) * (1.0 - std::pow(1.0 - c, t)) / all;
    const std::int64_t aligned = static_cast<std::int64_t>(at) / kThreadAlign * kThreadAlign;
    if (aligned > bounds.back() && aligned < samples) bounds.push_back(aligned);
  }
  bounds.push_back(samples);

  auto render = HWY_DYNAMIC_DISPATCH(RenderRange);
  std::vector<RangeJob> jobs;
  for (std::size_t t = 0; t + 1 < bounds.size(); ++t) {
    jobs.push_back({accumulator, steps, cells, rows, columns, bounds[t], bounds[t + 1]});
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
