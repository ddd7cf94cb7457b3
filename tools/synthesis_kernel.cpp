// The SIMD kernel of the synthesis: many samples of one partial per vector.
// Highway compiles the code between the namespace markers once per SIMD
// target (foreach_target.h includes this file again for each); the code after
// HWY_ONCE picks the best target at run time.
//
// A group of kGroupSamples samples of a partial starting at phase P is
//   sin(P + j step) = sin P cos(j step) + cos P sin(j step),
// with the tables of cos(j step) and sin(j step) held in float; sin P and
// cos P are kept in double and turned by a whole group at a time, so the only
// float roundings are the tables, the product and the sum. Against the plain
// loop (std::sin of every sample in double) each partial's sample differs by
// well under 1e-6 of its amplitude; the tests hold the sums to 1e-5 of the
// summed amplitudes.

#ifndef GRIDWAVE_SYNTHESIS_KERNEL_SHARED
#define GRIDWAVE_SYNTHESIS_KERNEL_SHARED
#include "synthesis.h"
#endif

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "synthesis_kernel.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace gridwave::tools {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void AddPartials(const KernelJob& job) {
  const hn::ScalableTag<float> d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  const SynthesisPlan& plan = *job.plan;
  const auto iota = hn::Iota(d, 0.0f);
  const auto count = hn::Set(d, static_cast<float>(job.count));
  for (int p = 0; p < plan.partials; ++p) {
    const float a0 = job.amp_start[p], slope = job.amp_slope[p];
    if (a0 == 0.0f && slope == 0.0f) continue;
    const auto start = hn::Set(d, a0), rise = hn::Set(d, slope);
    const float* table_cos = plan.turn_cos.data() + std::size_t(p) * kGroupSamples;
    const float* table_sin = plan.turn_sin.data() + std::size_t(p) * kGroupSamples;
    const double turn_cos = plan.group_cos[p], turn_sin = plan.group_sin[p];
    double s = job.start_sin[p], c = job.start_cos[p];
    for (int base = 0; base < job.count; base += kGroupSamples) {
      const auto vs = hn::Set(d, static_cast<float>(s)), vc = hn::Set(d, static_cast<float>(c));
      for (int j = 0; j < kGroupSamples; j += lanes) {
        const auto y = hn::MulAdd(vs, hn::LoadU(d, table_cos + j), hn::Mul(vc, hn::LoadU(d, table_sin + j)));
        const auto offset = hn::Add(hn::Set(d, static_cast<float>(base + j)), iota);
        auto amp = hn::MulAdd(rise, offset, start);
        if (base + j + lanes > job.count) amp = hn::IfThenElseZero(hn::Lt(offset, count), amp);
        float* slot = job.out + base + j;
        hn::StoreU(hn::MulAdd(y, amp, hn::LoadU(d, slot)), d, slot);
      }
      const double next_s = s * turn_cos + c * turn_sin;
      c = c * turn_cos - s * turn_sin;
      s = next_s;
    }
  }
}

const char* TargetName() { return hwy::TargetName(HWY_TARGET); }

}  // namespace HWY_NAMESPACE
}  // namespace gridwave::tools
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace gridwave::tools {

HWY_EXPORT(AddPartials);
HWY_EXPORT(TargetName);

void add_partials(const KernelJob& job) { HWY_DYNAMIC_DISPATCH(AddPartials)(job); }

const char* synthesis_target_name() { return HWY_DYNAMIC_DISPATCH(TargetName)(); }

}  // namespace gridwave::tools
#endif  // HWY_ONCE
