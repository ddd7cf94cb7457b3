#include "plot_ticks.h"

#include <cmath>
#include <cstdio>
#include <initializer_list>

namespace gridwave::tools {

namespace {

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

// The smallest step of 1, 2 or 5 times a power of ten that is at least `least`.
double round_step(double least) {
  const double power = std::pow(10.0, std::floor(std::log10(least)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * power >= least * (1 - 1e-9)) return m * power;
  return 10.0 * power;
}

// Multiples of step within [low, high], with `step` chosen so that ticks are
// at least min_spacing apart on an axis of `pixels` for the range.
std::vector<double> even_steps(double low, double high, double pixels, double min_spacing) {
  const double range = high - low;
  const double step = round_step(range * min_spacing / pixels);
  std::vector<double> values;
  for (double k = std::ceil(low / step - 1e-9); k * step <= high * (1 + 1e-12) + 1e-12; ++k)
    values.push_back(std::abs(k * step) < step * 1e-9 ? 0.0 : k * step);
  return values;
}

std::string time_label(double seconds, double step, bool clock) {
  if (!clock) return format(step < 0.01 ? "%.3f s" : step < 0.1 ? "%.2f s" : step < 1 ? "%.1f s" : "%.0f s", seconds);
  const long long whole = std::llround(std::floor(seconds + 1e-9));
  const double fraction = seconds - static_cast<double>(whole);
  char text[64];
  if (whole >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  std::string label = text;
  if (step < 1) label += format("%.1f", fraction).substr(1);  // ".5"
  return label;
}

}  // namespace

std::string frequency_label(double hz) {
  if (std::abs(hz) >= 1000) return format("%g kHz", std::round(hz) / 1000.0);
  return format("%g Hz", std::round(hz * 100) / 100);
}

std::vector<Tick> frequency_ticks(double low, double high, FrequencyScale scale, double pixels, double min_spacing) {
  std::vector<Tick> ticks;
  if (scale == FrequencyScale::kLog) {
    const double pixels_per_e = pixels / std::log(high / low);
    static const std::vector<std::vector<double>> kMantissas = {{1, 2, 3, 5, 7}, {1, 2, 5}, {1}};
    for (const std::vector<double>& mantissas : kMantissas) {
      std::vector<double> values;
      for (double decade = std::pow(10.0, std::floor(std::log10(low))); decade <= high; decade *= 10)
        for (double m : mantissas)
          if (m * decade >= low * (1 - 1e-12) && m * decade <= high * (1 + 1e-12)) values.push_back(m * decade);
      bool fits = true;
      for (std::size_t i = 1; i < values.size(); ++i)
        fits = fits && std::log(values[i] / values[i - 1]) * pixels_per_e >= min_spacing;
      if (!fits) continue;
      // A narrow range holds too few of these: even steps read better there.
      if (values.size() < 3) break;
      for (double v : values) ticks.push_back({v, frequency_label(v)});
      return ticks;
    }
  }
  for (double v : even_steps(low, high, pixels, min_spacing)) ticks.push_back({v, frequency_label(v)});
  return ticks;
}

std::vector<Tick> time_ticks(double start, double span, double pixels, double min_spacing) {
  const double least = span * min_spacing / pixels;
  double step = round_step(least);
  // Past ten seconds, steps that divide minutes and hours.
  if (step > 10) {
    step = 0;
    for (double s : {15.0, 30.0, 60.0, 120.0, 300.0, 600.0, 900.0, 1800.0, 3600.0, 7200.0, 10800.0, 21600.0})
      if (s >= least) {
        step = s;
        break;
      }
    if (step == 0) step = 3600.0 * round_step(least / 3600.0);
  }
  const double end = start + span;
  const bool clock = end >= 60;
  std::vector<Tick> ticks;
  for (double k = std::ceil(start / step - 1e-9); k * step <= end * (1 + 1e-12); ++k)
    ticks.push_back({k * step + 0.0, time_label(k * step + 0.0, step, clock)});  // never "-0"
  return ticks;
}

std::vector<Tick> level_ticks(double top_db, double range_db, double pixels, double min_spacing) {
  std::vector<Tick> ticks;
  for (double v : even_steps(top_db - range_db, top_db, pixels, min_spacing))
    ticks.push_back({v, format("%g dB", v)});
  return ticks;
}

}  // namespace gridwave::tools
