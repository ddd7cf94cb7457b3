// The batched renderer: samples [begin, end) of a batch of rows, every SIMD
// lane busy. Highway compiles the code between the namespace markers once
// per SIMD target (this file is included again for each by
// foreach_target.h); the code after HWY_ONCE picks the best target at run
// time. render_pipeline.cpp spreads the ranges over threads.
//
// Why the result is the same, slot for slot, as render_cells row by row:
//
// * Phases. Each row's phase is its own sequential recurrence
//   phase = phase + step, then phase - kFullCircle once when phase >=
//   kFullCircle. Lanes hold different rows, so every lane runs that very
//   recurrence with the very same double operations (Add, Ge, Sub; no fused
//   multiply-add). A range starts from the phases the range before it ended
//   with (or 0 at sample 0), so every phase is the plain loop's own double.
//
// * Order. Within a range a slot takes the rows of the batch in ascending
//   order; the pipeline renders a range of one batch only after the same
//   range of the batch before, so each slot sees the same sequence of
//   truncating additions as with render_cells.
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
// * The sine. Two vectors of L samples each (L = lanes, at most 8) of one
//   row start at phase P, a double of the recurrence. Their sines are
//     y_j = sin_hwy(P) cos(j step) + cos_hwy(P) sin(j step),   j < 2L,
//   with hn::Sin and hn::Cos (documented in contrib/math/math-inl.h to be
//   within 3 ULP over [-39000, 39000]) and tables of cos(j step), sin(j step)
//   from glibc (within 1 ULP). The plain loop takes std::sin of p_j, the
//   recurrence's phase at sample j. Bounds on |y_j - std::sin(p_j)|:
//   - the recurrence: p_j = P + j step + e - w kFullCircle, where w is the
//     number of wraps in j steps and |e| <= 15 * 2^-50 (each addition rounds
//     by at most half an ULP of a value below 16; subtracting kFullCircle is
//     exact by Sterbenz). kFullCircle = 2 pi + g, g = 2.0413e-11, so
//     |sin(p_j) - sin(P + j step)| <= w g + |e|;
//   - w <= floor((2L - 1) step / kFullCircle) + 1 (at most 4 for L = 8);
//   - y_j against sin(P + j step): the two 3-ULP values, the two 1-ULP table
//     entries, the rounding of j * step, the product and the fused sum:
//     below 5e-15; std::sin(p_j) against sin(p_j): 1 ULP.
//   In all, |y_j - std::sin(p_j)| <= w g + 2^-45 =: bound. The steps after
//   the sine, s = (y * A) * 100 and trunc(acc + s), are each monotonic in y
//   (non-decreasing for A >= 0, non-increasing for A < 0), so s from
//   std::sin lies between the values s takes at y - bound and y + bound,
//   which lie within bound |A| 100 (plus a rounding of s far smaller) of s.
//   We take margin = 16 bound |A| 100 and
//     lo = trunc(acc + (s - margin)),  hi = trunc(acc + (s + margin)).
//   By monotonicity the plain loop's result lies between lo and hi, so when
//   they are equal it is that value. Otherwise the lane is recomputed the
//   plain way: its phase run on from P by the recurrence, then std::sin.
//   On random dense grids that happens about 33 times per million row
//   samples. A zero cell contributes nothing and is skipped; a row group
//   whose cells are all zero costs only the phase advance.

#ifndef GRIDWAVE_BATCH_RENDER_SHARED
#define GRIDWAVE_BATCH_RENDER_SHARED

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "batch_render.h"
#include "tone.h"

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
static_assert(2 * hn::MaxLanes(D()) <= kTurnLanes, "turn tables hold two vectors' worth of angles");

// Samples handled together within one column: first the rows' phases are run
// through them, then each slot takes the rows in order.
constexpr std::int64_t kBlockSamples = 32;

// The phase recurrence, the same operations as advance_phase.
HWY_INLINE V Advance(V phase, V step, V circle) {
  const V next = hn::Add(phase, step);
  return hn::IfThenElse(hn::Ge(next, circle), hn::Sub(next, circle), next);
}

// Runs kChains row groups (starting at row g) n samples on, all side by side
// so that their recurrences, each a chain of dependent operations, overlap
// in the pipeline. The count is a template argument so that the phases stay
// in registers.
template <std::size_t kChains>
HWY_INLINE void RunChains(double* phases, const double* steps, std::size_t stride, std::size_t g,
                          std::int64_t n, double* record, std::int64_t every) {
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  const V circle = hn::Set(d, kFullCircle);
  V p[kChains], s[kChains];
  for (std::size_t c = 0; c < kChains; ++c) {
    p[c] = hn::Load(d, phases + g + c * lanes);
    s[c] = hn::Load(d, steps + g + c * lanes);
  }
  const std::int64_t run = record != nullptr ? every : n;
  for (std::int64_t first = 0; first < n; first += run) {
    if (record != nullptr) {
      double* at = record + static_cast<std::size_t>(first / every) * stride + g;
      for (std::size_t c = 0; c < kChains; ++c) hn::Store(p[c], d, at + c * lanes);
    }
    const std::int64_t last = std::min(n, first + run);
    for (std::int64_t i = first; i < last; ++i) {
      for (std::size_t c = 0; c < kChains; ++c) p[c] = Advance(p[c], s[c], circle);
    }
  }
  for (std::size_t c = 0; c < kChains; ++c) hn::Store(p[c], d, phases + g + c * lanes);
}

// Runs the phases of `stride` rows n samples on. When `record` is given, the
// phases every `every` samples (before they advance) are kept: those at
// sample v * every at record[v * stride + row].
void RunPhases(double* phases, const double* steps, std::size_t stride, std::int64_t n,
               double* record = nullptr, std::int64_t every = 1) {
  const std::size_t lanes = hn::Lanes(D());
  for (std::size_t g = 0; g < stride; g += 8 * lanes) {
    // Every group of this pass in one chain set: a pass of its own would be
    // bound by the latency of one chain.
    switch (std::min<std::size_t>(8, (stride - g) / lanes)) {
      case 8: RunChains<8>(phases, steps, stride, g, n, record, every); break;
      case 7: RunChains<7>(phases, steps, stride, g, n, record, every); break;
      case 6: RunChains<6>(phases, steps, stride, g, n, record, every); break;
      case 5: RunChains<5>(phases, steps, stride, g, n, record, every); break;
      case 4: RunChains<4>(phases, steps, stride, g, n, record, every); break;
      case 3: RunChains<3>(phases, steps, stride, g, n, record, every); break;
      case 2: RunChains<2>(phases, steps, stride, g, n, record, every); break;
      default: RunChains<1>(phases, steps, stride, g, n, record, every); break;
    }
  }
}

// One row of a block, as the accumulation needs it.
struct LiveRow {
  int row;
  double amplitude;  // the cell
  double margin;     // how far s computed here may lie from s with std::sin
};

// What one thread needs to render its samples of a batch.
class RangeRenderer {
 public:
  explicit RangeRenderer(const RangeJob& job)
      : job_(job),
        lanes_(hn::Lanes(D())),
        stride_((static_cast<std::size_t>(job.rows) + lanes_ - 1) / lanes_ * lanes_),
        bases_((static_cast<std::size_t>(kBlockSamples) + 2 * lanes_ - 1) / (2 * lanes_)),
        phases_(hwy::AllocateAligned<double>(stride_)),
        steps_(hwy::AllocateAligned<double>(stride_)),
        first_phase_(hwy::AllocateAligned<double>(stride_ * bases_)),
        first_sin_(hwy::AllocateAligned<double>(stride_ * bases_)),
        first_cos_(hwy::AllocateAligned<double>(stride_ * bases_)),
        acc_(hwy::AllocateAligned<double>(kBlockSamples)),
        group_live_(stride_ / lanes_) {
    std::fill_n(phases_.get(), stride_, 0.0);
    std::fill_n(steps_.get(), stride_, 0.0);  // padding rows never move and never sound
    std::copy_n(job.steps, job.rows, steps_.get());
    if (job.start_phases != nullptr) std::copy_n(job.start_phases, job.rows, phases_.get());
  }

  std::uint64_t Render() {
    std::int64_t live_column = -1;
    for (std::int64_t i = job_.begin; i < job_.end;) {
      const std::int64_t column = i / kSamplesPerColumn;
      const std::int64_t column_end = std::min(job_.end, (column + 1) * kSamplesPerColumn);
      if (column != live_column) FindLiveRows(column);
      live_column = column;
      if (live_.empty()) {  // a silent column: only the phases move on
        RunPhases(phases_.get(), steps_.get(), stride_, column_end - i);
        i = column_end;
      } else {
        const std::int64_t block_end = std::min(column_end, i + kBlockSamples);
        RenderBlock(i, block_end - i);
        i = block_end;
      }
    }
    if (job_.end_phases != nullptr) std::copy_n(phases_.get(), job_.rows, job_.end_phases);
    return fallbacks_;
  }

 private:
  // Rows whose cell in this column is not zero, ascending.
  void FindLiveRows(std::int64_t column) {
    live_.clear();
    std::fill(group_live_.begin(), group_live_.end(), false);
    for (int r = 0; r < job_.rows; ++r) {
      const std::int32_t cell = job_.cells[static_cast<std::int64_t>(r) * kCellsPerRow + column];
      if (cell == 0) continue;
      live_.push_back({r, static_cast<double>(cell), Margin(cell, steps_[r])});
      group_live_[static_cast<std::size_t>(r) / lanes_] = true;
    }
  }

  // How far s = (sin * cell) * 100 computed by RenderBlock may be from s with
  // std::sin, times 16 to spare (see the comment at the top of the file).
  double Margin(std::int32_t cell, double step) const {
    constexpr double kWrapShift = 2.05e-11;  // 6.2831853072 - 2 pi, rounded up
    const double wraps = std::floor(static_cast<double>(2 * lanes_ - 1) * step / kFullCircle) + 1.0;
    const double bound = wraps * kWrapShift + 0x1p-45;
    return 16.0 * bound * std::fabs(static_cast<double>(cell)) * kCellGain;
  }

  void RenderBlock(std::int64_t first, std::int64_t n) {
    const D d;
    const auto lanes = static_cast<std::int64_t>(lanes_);
    const std::int64_t padded = (n + lanes - 1) / lanes * lanes;
    RunPhases(phases_.get(), steps_.get(), stride_, n, first_phase_.get(), 2 * lanes);
    const std::int64_t vectors = padded / lanes;
    for (std::int64_t b = 0; 2 * b < vectors; ++b) {
      for (std::size_t group = 0; group < group_live_.size(); ++group) {
        if (!group_live_[group]) continue;
        const std::size_t at = static_cast<std::size_t>(b) * stride_ + group * lanes_;
        const V phase = hn::Load(d, first_phase_.get() + at);
        hn::Store(hn::Sin(d, phase), d, first_sin_.get() + at);
        hn::Store(hn::Cos(d, phase), d, first_cos_.get() + at);
      }
    }
    Slot* slots = job_.accumulator + first;
    std::fill_n(acc_.get(), padded, 0.0);
    if (!job_.slots_untouched) {
      for (std::int64_t k = 0; k < n; ++k) acc_[k] = static_cast<double>(slots[k]);
    }
    std::int64_t v = 0;
    for (; v + 2 <= vectors; v += 2) Accumulate<true>(v);
    if (v < vectors) Accumulate<false>(v);
    for (std::int64_t k = 0; k < n; ++k) slots[k] = static_cast<Slot>(acc_[k]);
  }

  // Adds the live rows, ascending, into the slots of sample vector v (even:
  // the first of the two vectors that share a sine and cosine) and, when
  // `pair` is set, of vector v + 1 too (two independent chains of truncating
  // additions keep the pipeline fuller).
  template <bool pair>
  HWY_INLINE void Accumulate(std::int64_t v) {
    const D d;
    const V gain = hn::Set(d, kCellGain);
    double* acc_block = acc_.get() + v * static_cast<std::int64_t>(lanes_);
    V acc0 = hn::Load(d, acc_block);
    V acc1 = pair ? hn::Load(d, acc_block + lanes_) : acc0;
    const std::size_t at = static_cast<std::size_t>(v / 2) * stride_;
    for (const LiveRow& live : live_) {
      const auto r = static_cast<std::size_t>(live.row);
      const double* turn_cos = job_.turn_cos + r * kTurnLanes;
      const double* turn_sin = job_.turn_sin + r * kTurnLanes;
      const V first_sin = hn::Set(d, first_sin_[at + r]);
      const V first_cos = hn::Set(d, first_cos_[at + r]);
      const V amp = hn::Set(d, live.amplitude);
      const V margin = hn::Set(d, live.margin);
      // sin(phase + j step) = sin(phase) cos(j step) + cos(phase) sin(j step)
      const V y0 = hn::MulAdd(first_cos, hn::Load(d, turn_sin), hn::Mul(first_sin, hn::Load(d, turn_cos)));
      const V s0 = hn::Mul(hn::Mul(y0, amp), gain);
      const V lo0 = hn::Trunc(hn::Add(acc0, hn::Sub(s0, margin)));
      const V hi0 = hn::Trunc(hn::Add(acc0, hn::Add(s0, margin)));
      if constexpr (pair) {
        const V y1 = hn::MulAdd(first_cos, hn::Load(d, turn_sin + lanes_),
                                hn::Mul(first_sin, hn::Load(d, turn_cos + lanes_)));
        const V s1 = hn::Mul(hn::Mul(y1, amp), gain);
        const V lo1 = hn::Trunc(hn::Add(acc1, hn::Sub(s1, margin)));
        const V hi1 = hn::Trunc(hn::Add(acc1, hn::Add(s1, margin)));
        if (HWY_UNLIKELY(!hn::AllTrue(d, hn::And(hn::Eq(lo0, hi0), hn::Eq(lo1, hi1))))) {
          acc0 = Recompute(acc0, lo0, hi0, first_phase_[at + r], 0, r, live.amplitude);
          acc1 = Recompute(acc1, lo1, hi1, first_phase_[at + r], lanes_, r, live.amplitude);
        } else {
          acc0 = lo0;
          acc1 = lo1;
        }
      } else if (HWY_UNLIKELY(!hn::AllTrue(d, hn::Eq(lo0, hi0)))) {
        acc0 = Recompute(acc0, lo0, hi0, first_phase_[at + r], 0, r, live.amplitude);
      } else {
        acc0 = lo0;
      }
    }
    hn::Store(acc0, d, acc_block);
    if constexpr (pair) hn::Store(acc1, d, acc_block + lanes_);
  }

  // The lanes whose sine error could matter, done the plain way: the phase
  // run on from the pair's first sample (`skip` samples before this vector)
  // by the recurrence itself, then std::sin.
  HWY_NOINLINE V Recompute(V acc, V lo, V hi, double phase, std::size_t skip, std::size_t row,
                           double amplitude) {
    const D d;
    HWY_ALIGN double a[hn::MaxLanes(d)];
    HWY_ALIGN double l[hn::MaxLanes(d)];
    HWY_ALIGN double h[hn::MaxLanes(d)];
    hn::Store(acc, d, a);
    hn::Store(lo, d, l);
    hn::Store(hi, d, h);
    const double step = steps_[row];
    for (std::size_t k = 0; k < skip + hn::Lanes(d); ++k) {
      if (k >= skip && l[k - skip] != h[k - skip]) {
        ++fallbacks_;
        l[k - skip] = std::trunc(a[k - skip] + tone_sample(phase, amplitude));
      }
      phase = advance_phase(phase, step);
    }
    return hn::Load(d, l);
  }

  const RangeJob& job_;
  const std::size_t lanes_;
  const std::size_t stride_;   // rows, padded to whole vectors
  const std::size_t bases_;    // pairs of sample vectors in a block, each with one sine and cosine
  hwy::AlignedFreeUniquePtr<double[]> phases_;       // each row's phase at the next sample
  hwy::AlignedFreeUniquePtr<double[]> steps_;        // each row's phase step
  hwy::AlignedFreeUniquePtr<double[]> first_phase_;  // [pair][row]: phase at its first sample
  hwy::AlignedFreeUniquePtr<double[]> first_sin_;    // [pair][row]: its sine
  hwy::AlignedFreeUniquePtr<double[]> first_cos_;    // [pair][row]: its cosine
  hwy::AlignedFreeUniquePtr<double[]> acc_;          // the block's slots, as doubles
  std::vector<LiveRow> live_;
  std::vector<bool> group_live_;  // row groups with a live row
  std::uint64_t fallbacks_ = 0;
};

std::uint64_t RenderRange(const RangeJob& job) { return RangeRenderer(job).Render(); }

const char* TargetName() { return hwy::TargetName(HWY_TARGET); }

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace gridwave
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace gridwave {

HWY_EXPORT(RenderRange);
HWY_EXPORT(TargetName);

void fill_turn_tables(const double* steps, int rows, double* turn_cos, double* turn_sin) {
  for (int r = 0; r < rows; ++r) {
    for (int j = 0; j < kTurnLanes; ++j) {
      turn_cos[r * kTurnLanes + j] = std::cos(static_cast<double>(j) * steps[r]);
      turn_sin[r * kTurnLanes + j] = std::sin(static_cast<double>(j) * steps[r]);
    }
  }
}

std::uint64_t render_range(const RangeJob& job) { return HWY_DYNAMIC_DISPATCH(RenderRange)(job); }

const char* render_target_name() { return HWY_DYNAMIC_DISPATCH(TargetName)(); }

}  // namespace gridwave
#endif  // HWY_ONCE
