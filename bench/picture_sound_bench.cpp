// Times the picture-to-sound synthesis kernel against the plain loop (every
// partial's std::sin at every sample) on the same plan, in the same run, one
// thread each, and prints the figures and their ratio.
//   picture_sound_bench [ROWS [SECONDS]]     default 300 rows, 1 s
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "synthesis.h"

using namespace gridwave::tools;

namespace {

// A picture with detail everywhere, so that no row is silent.
LumaImage bench_picture(int width, int height) {
  LumaImage image{width, height, std::vector<float>(std::size_t(width) * height)};
  std::uint32_t state = 1;
  for (float& v : image.luma) v = 0.05f + 0.95f * static_cast<float>((state = state * 1103515245u + 12345u) >> 8) / 16777216.0f;
  return image;
}

template <typename Render>
double best_seconds(Render render, int repeat) {
  double best = 1e30;
  for (int i = 0; i < repeat; ++i) {
    const auto start = std::chrono::steady_clock::now();
    render();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  PictureSoundOptions options;
  options.rows = argc > 1 ? std::atoi(argv[1]) : 300;
  options.duration_s = argc > 2 ? std::atof(argv[2]) : 1.0;
  const SynthesisPlan plan = make_plan(bench_picture(400, 240), options);
  std::vector<float> out(plan.frames + kGroupSamples);
  volatile float sink = 0;
  const double plain = best_seconds([&] { render_plain(plan, 0, plan.frames, out.data()); sink = out[plan.frames / 2]; }, 1);
  const double fast = best_seconds([&] { render_fast(plan, 0, plan.frames, out.data()); sink = out[plan.frames / 2]; }, 5);
  const double row_samples = static_cast<double>(plan.frames) * plan.partials;
  std::printf("synthesis of %d rows x %lld samples, one thread (%s)\n", plan.partials,
              static_cast<long long>(plan.frames), synthesis_target_name());
  std::printf("plain std::sin loop   %8.3f s  %7.1f M row samples/s\n", plain, row_samples / plain / 1e6);
  std::printf("SIMD kernel           %8.3f s  %7.1f M row samples/s\n", fast, row_samples / fast / 1e6);
  std::printf("kernel / plain        1/%.1f\n", plain / fast);
  return sink > 1e30f;
}
