// The synthesis behind img2sound: partials (sines) whose amplitudes glide
// linearly from one column centre to the next, summed, with a short fade at
// both ends. A plan holds everything needed to render any range of samples
// on its own, so ranges can be rendered in any order, on any thread, with the
// same result.
#pragma once

#include <cstdint>
#include <vector>

#include "picture_sound.h"

namespace gridwave::tools {

// Samples per rotation-table group: the kernel turns each partial's phase
// by whole groups and takes the samples inside a group from tables.
inline constexpr int kGroupSamples = 64;

struct SynthesisPlan {
  std::int64_t frames = 0;        // samples in the whole sound
  int columns = 0;                // picture columns, spread evenly over the frames
  int partials = 0;               // sines (one per row, or several per row with noise)
  std::vector<double> step;       // radians per sample of each partial
  std::vector<double> phase;      // each partial's phase at sample 0
  // amplitude[p * columns + k]: partial p's amplitude at column k's centre.
  std::vector<float> amplitude;
  // centre[k]: the sample at column k's centre, ascending; the amplitude is
  // held before the first and after the last.
  std::vector<std::int64_t> centre;
  std::int64_t fade = 0;          // samples of the raised-cosine fade at each end

  // Rotation tables, kGroupSamples entries per partial: cos and sin of
  // j * step, and cos and sin of a whole group's turn.
  std::vector<float> turn_cos, turn_sin;
  std::vector<double> group_cos, group_sin;
};

// The plan for a picture: rows at the centres of equal bands of the range
// in Hz, each taking the picture's brightness over the band's height on the
// chosen scale (log or linear), the picture's columns resampled.
SynthesisPlan make_plan(const LumaImage& image, const PictureSoundOptions& options);

// Samples [begin, end) of the sound before the end fades, in the plain way:
// every partial's sine from std::sin at every sample, in double. The
// reference the fast renderer is tested against.
void render_plain(const SynthesisPlan& plan, std::int64_t begin, std::int64_t end, float* out);

// The same samples from the SIMD kernel. out must have room for
// end - begin + kGroupSamples values (the last group is computed whole).
void render_fast(const SynthesisPlan& plan, std::int64_t begin, std::int64_t end, float* out);

// Multiplies samples [begin, end) (held in out) by the fade-in and fade-out.
void apply_fades(const SynthesisPlan& plan, std::int64_t begin, std::int64_t end, float* out);

// One partial's amplitudes over a range of samples within one stretch
// between column centres: amp(begin + i) = start + slope * i.
struct AmplitudeRamp {
  double start;
  double slope;
};

// Where the amplitude's linear piece containing sample n ends (exclusive),
// and the ramp of partial p from sample n on.
std::int64_t piece_end(const SynthesisPlan& plan, std::int64_t n);
AmplitudeRamp amplitude_ramp(const SynthesisPlan& plan, int p, std::int64_t n);

// Arguments of one kernel call: `count` samples from sample `first`,
// all inside one linear piece.
struct KernelJob {
  const SynthesisPlan* plan;
  std::int64_t first;
  int count;
  const double* start_sin;  // each partial's sin and cos of its phase at `first`
  const double* start_cos;
  const float* amp_start;   // each partial's amplitude at `first`, and per sample after
  const float* amp_slope;
  float* out;               // count + kGroupSamples values, added to
};

// Adds the job's partials into out (SIMD, best instruction set at run time).
void add_partials(const KernelJob& job);

// The SIMD instruction set add_partials uses, e.g. "AVX3".
const char* synthesis_target_name();

}  // namespace gridwave::tools
