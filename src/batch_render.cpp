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
//   row form a pair; M, the phase at the pair's middle sample (sample L of
//   the pair), is a double of the recurrence. Lane j of the pair lies
//   J = j - L samples from it (-L <= J < L), and its sine is taken as
//     y_J = sin_hwy(M) cos(a_J) + cos_hwy(M) sin(a_J),   a_J = J step,
//   with hn::Sin and hn::Cos (documented in contrib/math/math-inl.h to be
//   within 3 ULP; Highway's own test allows 4) and tables of cos(a_J),
//   sin(a_J) computed in long double from the exact a_J (within half an ULP
//   and then some). The plain loop takes std::sin of p_J, the recurrence's
//   phase there. Bounds on |y_J - std::sin(p_J)|:
//   - the recurrence: p_J = M + a_J + e - w kFullCircle, where w is the
//     number of wraps between the two samples and |e| <= |J| 2^-51 (each
//     addition rounds by at most half an ULP of a value below 8;
//     subtracting kFullCircle is exact by Sterbenz). kFullCircle = 2 pi + g,
//     g = 2.0413e-11, so sin(p_J) = sin(M + a_J - w g + e);
//   - w = floor((M + a_J) / kFullCircle) unless M + a_J lies within |e| of
//     a whole number of circles, where the recurrence's rounding decides.
//   - y_J against sin(M + a_J): the two vector values (4 ULP each, 6.3e-16
//     together), the two tables and the product and sum (4.4e-16), and
//     std::sin(p_J) against sin(p_J): 1 ULP. With |e| <= 8 2^-51 = 3.6e-15,
//     4.9e-15 in all besides w g.
//   Quiet rows leave the shift in: |y_J - std::sin(p_J)| <= w g + 4.9e-15,
//   with |w| <= floor((2L - 1) step / kFullCircle) + 1, bounded by
//   w 2.05e-11 + 2^-47. Loud rows take it out: w is counted from
//   (M + a_J) / kFullCircle (lanes within 1e-10 circles of a wrap are
//   marked doubtful), and the table angle turned back by w g to first order
//   (an error below (4 g)^2 / 2 = 3e-21); their bound is 2^-47 = 7.1e-15.
//   The tests measure these errors on every target and hold them to the
//   bounds. The steps after the sine, s = (y * A) * 100 and
//   trunc(acc + s), are each monotonic in y (non-decreasing for A >= 0,
//   non-increasing for A < 0), so s from std::sin lies between the values s
//   takes at y - bound and y + bound, which lie within bound |A| 100 of s up
//   to the rounding of s, which the bound's headroom over 4.9e-15 covers.
//   With margin = bound |A| 100,
//     lo = trunc(acc + (s - margin)),  hi = trunc(acc + (s + margin)).
//   By monotonicity the plain loop's result lies between lo and hi, so when
//   they are equal it is that value. Otherwise the lane's phase is run on
//   by the recurrence itself from the vector's first sample, and hn::Sin of
//   that exact phase (bound 2^-50) settles it the same way; only the lanes
//   still in doubt take std::sin. On random dense grids that is a few row
//   samples per million; on a grid of INT32_MIN cells about 400. A zero cell
//   contributes nothing and is skipped; a row group whose cells are all zero
//   costs only the phase advance.

#ifndef GRIDWAVE_BATCH_RENDER_SHARED
#define GRIDWAVE_BATCH_RENDER_SHARED

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "batch_render.h"
#include "render_testing.h"
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

// Bounds on |sine computed here - std::sin of the plain loop's phase|; see
// the comment at the top of the file. The tests measure them on every target.
constexpr double kRotationBound = 0x1p-47;   // the rotation, wraps taken out
constexpr double kVectorSinBound = 0x1p-50;  // hn::Sin of the phase itself
static_assert(kRotationBound > 4.9e-15 * 1.4, "headroom for the rounding of s");
constexpr double kWrapShiftBound = 2.05e-11;  // 6.2831853072 - 2 pi, rounded up
// 6.2831853072 - 2 pi, to far better than an ULP of it: the double nearest
// 6.2831853072, less the double nearest 2 pi (exact), less what that double
// lacks of 2 pi.
constexpr double kWrapShift = (kFullCircle - 6.283185307179586) - 2.4492935982947064e-16;
// How close (phase + j step) / kFullCircle may come to a whole number before
// the recurrence's own rounding could put a wrap on the other side of it.
constexpr double kWrapDoubt = 1e-10;  // in full circles

// The phase recurrence, the same operations as advance_phase.
HWY_INLINE V Advance(V phase, V step, V circle) {
  const V next = hn::Add(phase, step);
  return hn::IfThenElse(hn::Ge(next, circle), hn::Sub(next, circle), next);
}

// Runs kChains row groups (starting at row g) n samples on, all side by side
// so that their recurrences, each a chain of dependent operations, overlap
// in the pipeline. The count is a template argument so that the phases stay
// in registers. With a record, the phases at every `every`-th sample below
// `recorded` (before they advance) are kept: sample v * every at
// record[v * stride + row]. The recurrence runs on past n for that where
// needed, but the phases kept for the next block are those after n samples.
template <std::size_t kChains>
HWY_INLINE void RunChains(double* phases, const double* steps, std::size_t stride, std::size_t g,
                          std::int64_t n, double* record, std::int64_t recorded, std::int64_t every) {
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  const V circle = hn::Set(d, kFullCircle);
  V p[kChains], s[kChains];
  for (std::size_t c = 0; c < kChains; ++c) {
    p[c] = hn::Load(d, phases + g + c * lanes);
    s[c] = hn::Load(d, steps + g + c * lanes);
  }
  // From one event to the next (a sample to keep, or sample n) in a tight loop.
  const std::int64_t last = std::max(n, recorded);
  std::int64_t keep = record != nullptr ? 0 : last;  // the next sample to keep
  for (std::int64_t i = 0;;) {
    if (i == n) {
      for (std::size_t c = 0; c < kChains; ++c) hn::Store(p[c], d, phases + g + c * lanes);
    }
    if (i == keep && i < recorded) {
      double* at = record + static_cast<std::size_t>(i / every) * stride + g;
      for (std::size_t c = 0; c < kChains; ++c) hn::Store(p[c], d, at + c * lanes);
      keep += every;
    }
    if (i == last) return;
    const std::int64_t next = std::min({keep, i < n ? n : last, last});
    for (; i < next; ++i) {
      for (std::size_t c = 0; c < kChains; ++c) p[c] = Advance(p[c], s[c], circle);
    }
  }
}

// Runs the phases of `stride` rows n samples on, keeping those of samples
// every-th sample below recorded in record (see RunChains).
void RunPhases(double* phases, const double* steps, std::size_t stride, std::int64_t n,
               double* record = nullptr, std::int64_t recorded = 0, std::int64_t every = 1) {
  const std::size_t lanes = hn::Lanes(D());
  for (std::size_t g = 0; g < stride; g += 8 * lanes) {
    // Every group of this pass in one chain set: a pass of its own would be
    // bound by the latency of one chain.
    switch (std::min<std::size_t>(8, (stride - g) / lanes)) {
      case 8: RunChains<8>(phases, steps, stride, g, n, record, recorded, every); break;
      case 7: RunChains<7>(phases, steps, stride, g, n, record, recorded, every); break;
      case 6: RunChains<6>(phases, steps, stride, g, n, record, recorded, every); break;
      case 5: RunChains<5>(phases, steps, stride, g, n, record, recorded, every); break;
      case 4: RunChains<4>(phases, steps, stride, g, n, record, recorded, every); break;
      case 3: RunChains<3>(phases, steps, stride, g, n, record, recorded, every); break;
      case 2: RunChains<2>(phases, steps, stride, g, n, record, recorded, every); break;
      default: RunChains<1>(phases, steps, stride, g, n, record, recorded, every); break;
    }
  }
}

// The sine of one row at the samples of vector `half` (0 or 1) of a pair,
// by rotation from the pair's middle sample. With `unwrap`, each lane's
// angle also loses the w (kFullCircle - 2 pi) by which its w wraps shifted
// the phase (to first order: the shift is below 1e-10, its square
// negligible), and lanes whose wrap the recurrence's rounding could have
// put one sample earlier or later are marked in `doubt`. `middle_turns` is
// the middle phase in full circles.
template <bool unwrap>
HWY_INLINE V Sine(const double* turn_cos, const double* turn_sin, const double* turns, V middle_sin,
                  V middle_cos, V middle_turns, std::size_t half, hn::Mask<D>& doubt) {
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  // Lane j of this half is (half - 1) * lanes + j samples from the middle.
  const std::size_t at = kTurnMiddle + half * lanes - lanes;
  V tc = hn::Load(d, turn_cos + at);
  V ts = hn::Load(d, turn_sin + at);
  if constexpr (unwrap) {
    const V q = hn::Add(middle_turns, hn::Load(d, turns + at));
    const V wraps = hn::Floor(q);
    const V off_centre = hn::Abs(hn::Sub(hn::Sub(q, wraps), hn::Set(d, 0.5)));
    doubt = hn::Or(doubt, hn::Gt(off_centre, hn::Set(d, 0.5 - kWrapDoubt)));
    // Turn the angle back by the shift: cos(a - x) = cos a + x sin a and
    // sin(a - x) = sin a - x cos a, to first order.
    const V shift = hn::Mul(wraps, hn::Set(d, kWrapShift));
    const V tc_back = hn::MulAdd(shift, ts, tc);
    ts = hn::NegMulAdd(shift, tc, ts);
    tc = tc_back;
  }
  // sin(phase + a) = sin(phase) cos(a) + cos(phase) sin(a)
  return hn::MulAdd(middle_cos, ts, hn::Mul(middle_sin, tc));
}

// Bound on the rotation's error for a row of this step when the wraps'
// shift is left in: at most floor((2 lanes - 1) step / kFullCircle) + 1
// wraps lie between a pair's middle and any of its samples.
double ShiftedBound(double step) {
  const double lanes = static_cast<double>(hn::Lanes(D()));
  const double wraps = std::floor((2.0 * lanes - 1.0) * step / kFullCircle) + 1.0;
  return wraps * kWrapShiftBound + kRotationBound;
}

// n doubles on the vector alignment; std::bad_alloc when memory runs out.
hwy::AlignedFreeUniquePtr<double[]> Aligned(std::size_t n) {
  auto memory = hwy::AllocateAligned<double>(n);
  if (!memory) throw std::bad_alloc();
  return memory;
}

// One row of a block, as the accumulation needs it.
struct LiveRow {
  int row;
  double amplitude;     // the cell
  bool unwrap;          // loud: the rotation takes back each wrap's shift
  double margin;        // how far s from the rotation may lie from s with std::sin
  double exact_margin;  // the same for s from hn::Sin of the row's own phase
};

// What one thread needs to render its samples of a batch.
class RangeRenderer {
 public:
  explicit RangeRenderer(const RangeJob& job)
      : job_(job),
        lanes_(hn::Lanes(D())),
        stride_((static_cast<std::size_t>(job.rows) + lanes_ - 1) / lanes_ * lanes_),
        bases_((static_cast<std::size_t>(kBlockSamples) + 2 * lanes_ - 1) / (2 * lanes_)),
        phases_(Aligned(stride_)),
        steps_(Aligned(stride_)),
        phase_record_(Aligned(stride_ * bases_ * 2)),
        middle_sin_(Aligned(stride_ * bases_)),
        middle_cos_(Aligned(stride_ * bases_)),
        acc_(Aligned(kBlockSamples)),
        group_live_(stride_ / lanes_) {
    std::fill_n(phases_.get(), stride_, 0.0);
    std::fill_n(steps_.get(), stride_, 0.0);  // padding rows never move and never sound
    std::copy_n(job.steps, job.rows, steps_.get());
    if (job.start_phases != nullptr) std::copy_n(job.start_phases, job.rows, phases_.get());
  }

  std::uint64_t AddIntoAccumulator() {
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
      live_.push_back(Live(r, cell));
      group_live_[static_cast<std::size_t>(r) / lanes_] = true;
    }
  }

  // How far s = (sin * cell) * 100 computed by RenderBlock may be from s with
  // std::sin: the bound on the sine's error times |cell| * 100 (see
  // the comment at the top of the file). A row whose margin, with the wraps'
  // shift left in the bound, could reach a tenth of a unit takes the shift
  // out instead.
  LiveRow Live(int r, std::int32_t cell) const {
    const double gain = std::fabs(static_cast<double>(cell)) * kCellGain;
    const double shifted = ShiftedBound(steps_[r]) * gain;
    const bool unwrap = shifted > 0.1;
    return {r, static_cast<double>(cell), unwrap, unwrap ? kRotationBound * gain : shifted,
            kVectorSinBound * gain};
  }

  void RenderBlock(std::int64_t first, std::int64_t n) {
    const D d;
    const auto lanes = static_cast<std::int64_t>(lanes_);
    const std::int64_t padded = (n + lanes - 1) / lanes * lanes;
    // Every sample of each pair of vectors, the padding too: a pair's sine
    // is taken at its middle sample, which may lie past n.
    const std::int64_t pairs = (padded / lanes + 1) / 2;
    RunPhases(phases_.get(), steps_.get(), stride_, n, phase_record_.get(), pairs * 2 * lanes, lanes);
    const std::int64_t vectors = padded / lanes;
    for (std::int64_t b = 0; 2 * b < vectors; ++b) {
      for (std::size_t group = 0; group < group_live_.size(); ++group) {
        if (!group_live_[group]) continue;
        const std::size_t at = static_cast<std::size_t>(b) * stride_ + group * lanes_;
        const std::size_t middle = static_cast<std::size_t>(2 * b + 1) * lanes_;  // the pair's middle sample
        const V phase = hn::Load(d, phase_record_.get() + middle / lanes_ * stride_ + group * lanes_);
        hn::Store(hn::Sin(d, phase), d, middle_sin_.get() + at);
        hn::Store(hn::Cos(d, phase), d, middle_cos_.get() + at);
      }
    }
    Slot* slots = job_.accumulator + first;
    std::fill_n(acc_.get(), padded, 0.0);
    if (!job_.slots_fresh) {
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
    double* acc_block = acc_.get() + v * static_cast<std::int64_t>(lanes_);
    V acc0 = hn::Load(d, acc_block);
    V acc1 = pair ? hn::Load(d, acc_block + lanes_) : acc0;
    const std::size_t at = static_cast<std::size_t>(v / 2) * stride_;
    for (const LiveRow& live : live_) {
      if (live.unwrap) {
        AddRow<pair, true>(live, at, acc0, acc1);
      } else {
        AddRow<pair, false>(live, at, acc0, acc1);
      }
    }
    hn::Store(acc0, d, acc_block);
    if constexpr (pair) hn::Store(acc1, d, acc_block + lanes_);
  }

  // One live row into one or two vectors of slots: lo and hi are the
  // truncated sums with s moved down and up by the margin; where they agree
  // (and no wrap is in doubt) that is the plain loop's result.
  template <bool pair, bool unwrap>
  HWY_INLINE void AddRow(const LiveRow& live, std::size_t at, V& acc0, V& acc1) {
    const D d;
    const auto r = static_cast<std::size_t>(live.row);
    const double* turn_cos = job_.turns->cos + r * kTurnLanes;
    const double* turn_sin = job_.turns->sin + r * kTurnLanes;
    const double* turns = job_.turns->turns + r * kTurnLanes;
    const V middle_sin = hn::Set(d, middle_sin_[at + r]);
    const V middle_cos = hn::Set(d, middle_cos_[at + r]);
    const double* phases = phase_record_.get() + 2 * at + r;  // this row at the starts of the pair's vectors
    const V middle_turns = hn::Set(d, unwrap ? phases[stride_] * (1.0 / kFullCircle) : 0.0);
    const V amp = hn::Set(d, live.amplitude);
    const V gain = hn::Set(d, kCellGain);
    const V margin = hn::Set(d, live.margin);
    auto doubt = hn::FirstN(d, 0);
    const V y0 = Sine<unwrap>(turn_cos, turn_sin, turns, middle_sin, middle_cos, middle_turns, 0, doubt);
    const V s0 = hn::Mul(hn::Mul(y0, amp), gain);
    const V lo0 = hn::Trunc(hn::Add(acc0, hn::Sub(s0, margin)));
    const V hi0 = hn::Trunc(hn::Add(acc0, hn::Add(s0, margin)));
    if constexpr (pair) {
      auto doubt1 = hn::FirstN(d, 0);
      const V y1 = Sine<unwrap>(turn_cos, turn_sin, turns, middle_sin, middle_cos, middle_turns, 1, doubt1);
      const V s1 = hn::Mul(hn::Mul(y1, amp), gain);
      const V lo1 = hn::Trunc(hn::Add(acc1, hn::Sub(s1, margin)));
      const V hi1 = hn::Trunc(hn::Add(acc1, hn::Add(s1, margin)));
      const auto sure0 = hn::AndNot(doubt, hn::Eq(lo0, hi0));
      const auto sure1 = hn::AndNot(doubt1, hn::Eq(lo1, hi1));
      if (HWY_UNLIKELY(!hn::AllTrue(d, hn::And(sure0, sure1)))) {
        acc0 = Recompute(acc0, lo0, sure0, phases[0], r, live);
        acc1 = Recompute(acc1, lo1, sure1, phases[stride_], r, live);
      } else {
        acc0 = lo0;
        acc1 = lo1;
      }
    } else {
      const auto sure0 = hn::AndNot(doubt, hn::Eq(lo0, hi0));
      acc0 = HWY_UNLIKELY(!hn::AllTrue(d, sure0)) ? Recompute(acc0, lo0, sure0, phases[0], r, live) : lo0;
    }
  }

  // The lanes not `sure`, from the row's own phases: run on by the
  // recurrence itself from `phase`, the one at the vector's first sample.
  // hn::Sin of those settles most of them with a far smaller margin; the
  // rest take std::sin, as the plain loop does.
  HWY_NOINLINE V Recompute(V acc, V lo, hn::Mask<D> sure, double phase, std::size_t row, const LiveRow& live) {
    const D d;
    if (hn::AllTrue(d, sure)) return lo;
    HWY_ALIGN double phases[hn::MaxLanes(d)];
    for (std::size_t k = 0; k < hn::Lanes(d); ++k) {
      phases[k] = phase;
      phase = advance_phase(phase, steps_[row]);
    }
    const V amp = hn::Set(d, live.amplitude);
    const V margin = hn::Set(d, live.exact_margin);
    const V s = hn::Mul(hn::Mul(hn::Sin(d, hn::Load(d, phases)), amp), hn::Set(d, kCellGain));
    const V lo2 = hn::Trunc(hn::Add(acc, hn::Sub(s, margin)));
    const V hi2 = hn::Trunc(hn::Add(acc, hn::Add(s, margin)));
    const auto sure2 = hn::Eq(lo2, hi2);
    HWY_ALIGN double a[hn::MaxLanes(d)];
    HWY_ALIGN double out[hn::MaxLanes(d)];
    HWY_ALIGN double settled[hn::MaxLanes(d)];  // all bits set (a NaN) where settled
    hn::Store(acc, d, a);
    hn::Store(hn::IfThenElse(sure, lo, lo2), d, out);
    hn::Store(hn::VecFromMask(d, hn::Or(sure, sure2)), d, settled);
    for (std::size_t k = 0; k < hn::Lanes(d); ++k) {
      if (settled[k] == 0.0) {
        ++fallbacks_;
        out[k] = std::trunc(a[k] + tone_sample(phases[k], live.amplitude));
      }
    }
    return hn::Load(d, out);
  }

  const RangeJob& job_;
  const std::size_t lanes_;
  const std::size_t stride_;   // rows, padded to whole vectors
  const std::size_t bases_;    // pairs of sample vectors in a block, each with one sine and cosine
  hwy::AlignedFreeUniquePtr<double[]> phases_;       // each row's phase at the next sample
  hwy::AlignedFreeUniquePtr<double[]> steps_;        // each row's phase step
  hwy::AlignedFreeUniquePtr<double[]> phase_record_;  // [vector][row]: phase at each vector's first sample
  hwy::AlignedFreeUniquePtr<double[]> middle_sin_;    // [pair][row]: its sine
  hwy::AlignedFreeUniquePtr<double[]> middle_cos_;    // [pair][row]: its cosine
  hwy::AlignedFreeUniquePtr<double[]> acc_;          // the block's slots, as doubles
  std::vector<LiveRow> live_;
  std::vector<bool> group_live_;  // row groups with a live row
  std::uint64_t fallbacks_ = 0;
};

// The sines the renderer works with against std::sin of the recurrence's
// own phases: each row's phase run `samples` samples from 0, a pair of
// vectors at a time, as RenderBlock takes them.
SineErrors MeasureSineErrors(const double* steps, int rows, std::int64_t samples) {
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  auto tables = std::make_unique<TurnTables>();
  fill_turn_tables(steps, rows, *tables);
  SineErrors worst{0.0, kRotationBound, 0.0, 0.0, kVectorSinBound};
  HWY_ALIGN double phases[2 * hn::MaxLanes(d)];
  HWY_ALIGN double y[hn::MaxLanes(d)];
  HWY_ALIGN double shifted[hn::MaxLanes(d)];
  HWY_ALIGN double vector_sin[hn::MaxLanes(d)];
  HWY_ALIGN double doubtful[hn::MaxLanes(d)];
  for (int r = 0; r < rows; ++r) {
    const double* turn_cos = tables->cos + r * kTurnLanes;
    const double* turn_sin = tables->sin + r * kTurnLanes;
    const double* turns = tables->turns + r * kTurnLanes;
    const double bound = ShiftedBound(steps[r]);
    double phase = 0.0;
    for (std::int64_t first = 0; first + static_cast<std::int64_t>(2 * lanes) <= samples; first += 2 * lanes) {
      for (std::size_t j = 0; j < 2 * lanes; ++j) {
        phases[j] = phase;
        phase = advance_phase(phase, steps[r]);
      }
      const V middle = hn::Set(d, phases[lanes]);
      const V middle_sin = hn::Sin(d, middle);
      const V middle_cos = hn::Cos(d, middle);
      const V middle_turns = hn::Set(d, phases[lanes] * (1.0 / kFullCircle));
      for (std::size_t half = 0; half < 2; ++half) {
        auto doubt = hn::FirstN(d, 0);
        hn::Store(Sine<true>(turn_cos, turn_sin, turns, middle_sin, middle_cos, middle_turns, half, doubt), d, y);
        hn::Store(hn::VecFromMask(d, doubt), d, doubtful);
        hn::Store(Sine<false>(turn_cos, turn_sin, turns, middle_sin, middle_cos, middle_turns, half, doubt), d,
                  shifted);
        hn::Store(hn::Sin(d, hn::Load(d, phases + half * lanes)), d, vector_sin);
        for (std::size_t j = 0; j < lanes; ++j) {
          const double exact = std::sin(phases[half * lanes + j]);
          if (doubtful[j] == 0.0) worst.rotation = std::max(worst.rotation, std::fabs(y[j] - exact));
          worst.shifted_ratio = std::max(worst.shifted_ratio, std::fabs(shifted[j] - exact) / bound);
          worst.vector_sin = std::max(worst.vector_sin, std::fabs(vector_sin[j] - exact));
        }
      }
    }
  }
  return worst;
}

std::uint64_t RenderSampleRange(const RangeJob& job) { return RangeRenderer(job).AddIntoAccumulator(); }

const char* TargetName() { return hwy::TargetName(HWY_TARGET); }

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace gridwave
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace gridwave {

HWY_EXPORT(RenderSampleRange);
HWY_EXPORT(TargetName);
HWY_EXPORT(MeasureSineErrors);

void fill_turn_tables(const double* steps, int rows, TurnTables& tables) {
  double* turn_cos = tables.cos;
  double* turn_sin = tables.sin;
  for (int r = 0; r < rows; ++r) {
    for (int j = 0; j < kTurnLanes; ++j) {
      // (j - kTurnMiddle) * step is exact in long double, and so the tables
      // are within half an ULP (and a long double's error) of cos and sin of it.
      const long double angle = static_cast<long double>(j - kTurnMiddle) * steps[r];
      tables.turns[r * kTurnLanes + j] = static_cast<double>(angle / kFullCircle);
      turn_cos[r * kTurnLanes + j] = static_cast<double>(std::cos(angle));
      turn_sin[r * kTurnLanes + j] = static_cast<double>(std::sin(angle));
    }
  }
}

std::uint64_t render_sample_range(const RangeJob& job) { return HWY_DYNAMIC_DISPATCH(RenderSampleRange)(job); }

const char* render_target_name() { return HWY_DYNAMIC_DISPATCH(TargetName)(); }

SineErrors measure_sine_errors(const double* steps, int rows, std::int64_t samples) {
  return HWY_DYNAMIC_DISPATCH(MeasureSineErrors)(steps, rows, samples);
}

}  // namespace gridwave
#endif  // HWY_ONCE
