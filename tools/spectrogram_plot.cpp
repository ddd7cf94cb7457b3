#include "spectrogram_plot.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#include "plot_ticks.h"
#include "png_output.h"
#include "tool_error.h"

// Fontconfig, which Cairo asks for the font, keeps its configuration for
// the life of the process and frees none of it at exit; in a sanitizer
// build that is not a leak to report.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GRIDWAVE_LEAK_CHECKED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(GRIDWAVE_LEAK_CHECKED)
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif

namespace gridwave::tools {

namespace {

// Layout in pixels.
constexpr double kFontSize = 12;
constexpr double kTitleSize = 14;
constexpr int kLeft = 74;        // frequency labels
constexpr int kRight = 92;       // colour bar and its labels
constexpr int kTop = 30;         // title
constexpr int kBottom = 36;      // time labels
constexpr int kPanelName = 22;   // a panel's name above it, when there are several
constexpr int kBarGap = 14;
constexpr int kBarWidth = 14;
constexpr double kTickLength = 5;
// Closest ticks: a label's height apart on vertical axes, a label's width on the time axis.
constexpr double kVerticalSpacing = 24;
constexpr double kTimeSpacing = 80;
constexpr double kLevelSpacing = 40;

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

void text_at(cairo_t* cr, const std::string& text, double x, double y, double align_x, double align_y) {
  cairo_text_extents_t e;
  cairo_text_extents(cr, text.c_str(), &e);
  cairo_move_to(cr, x - e.x_bearing - e.width * align_x, y - e.y_bearing - e.height * align_y);
  cairo_show_text(cr, text.c_str());
}

void line(cairo_t* cr, double x0, double y0, double x1, double y1) {
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  cairo_stroke(cr);
}

// Pastes 8-bit RGB pixels into a Cairo RGB24 surface (native-endian 0xXXRRGGBB words).
void paste(cairo_surface_t* surface, const std::vector<std::uint8_t>& rgb, int width, int height, int left, int top) {
  cairo_surface_flush(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(top + y) * stride) + left;
    const std::uint8_t* from = rgb.data() + static_cast<std::size_t>(y) * width * 3;
    for (int x = 0; x < width; ++x)
      row[x] = 0xff000000u | std::uint32_t{from[3 * x]} << 16 | std::uint32_t{from[3 * x + 1]} << 8 | from[3 * x + 2];
  }
  cairo_surface_mark_dirty(surface);
}

double frequency_position(double hz, const PlotFrame& f) {
  if (f.scale == FrequencyScale::kLinear) return (f.high_hz - hz) / (f.high_hz - f.low_hz);
  return std::log(f.high_hz / hz) / std::log(f.high_hz / f.low_hz);
}

}  // namespace

RgbPicture draw_labelled_plot(const std::vector<PlotPanel>& panels, const PlotFrame& f) {
  const int count = static_cast<int>(panels.size());
  const int name_space = count > 1 ? kPanelName : 0;
  const int panel_step = f.height + name_space;
  const int plots_height = count * panel_step - name_space;
  RgbPicture picture;
  picture.width = kLeft + f.width + kRight;
  picture.height = kTop + name_space + plots_height + kBottom;

  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, picture.width, picture.height),
                  cairo_surface_destroy);
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) throw std::bad_alloc();
  Context context(cairo_create(surface.get()), cairo_destroy);
  cairo_t* cr = context.get();
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_set_line_width(cr, 1);
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, kTitleSize);
  if (!f.title.empty()) text_at(cr, f.title, kLeft + f.width / 2.0, 8, 0.5, 0);
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, kFontSize);

  const double left = kLeft, right = kLeft + f.width;
  const std::vector<Tick> frequencies = frequency_ticks(f.low_hz, f.high_hz, f.scale, f.height, kVerticalSpacing);
  for (int i = 0; i < count; ++i) {
    const double top = kTop + name_space + i * panel_step;
    cairo_surface_flush(surface.get());
    paste(surface.get(), panels[i].rgb, f.width, f.height, kLeft, static_cast<int>(top));
    if (!panels[i].name.empty()) text_at(cr, panels[i].name, left, top - 4, 0, 1);
    // Lines on half pixels fall on whole pixels, just outside the plot area.
    cairo_rectangle(cr, left - 0.5, top - 0.5, f.width + 1, f.height + 1);
    cairo_stroke(cr);
    for (const Tick& t : frequencies) {
      const double y = std::round(top + frequency_position(t.value, f) * f.height) + 0.5;
      line(cr, left - 1, y, left - 1 - kTickLength, y);
      text_at(cr, t.label, left - 3 - kTickLength, y, 1, 0.5);
    }
  }

  const double bottom = kTop + name_space + plots_height;
  for (const Tick& t : time_ticks(f.start_s, f.span_s, f.width, kTimeSpacing)) {
    const double x = std::round(left + (t.value - f.start_s) / f.span_s * f.width) + 0.5;
    line(cr, x, bottom, x, bottom + kTickLength);
    text_at(cr, t.label, x, bottom + kTickLength + 3, 0.5, 0);
  }

  // The colour bar: the same colours as the plot, brightest at the top.
  const int bar_left = static_cast<int>(right) + kBarGap;
  const int bar_top = kTop + name_space;
  std::vector<std::uint8_t> bar(static_cast<std::size_t>(kBarWidth) * plots_height * 3);
  for (int y = 0; y < plots_height; ++y) {
    const Rgb c = heat_colour(1.0 - (y + 0.5) / plots_height);
    for (int x = 0; x < kBarWidth; ++x) std::copy(c.begin(), c.end(), bar.begin() + (static_cast<std::size_t>(y) * kBarWidth + x) * 3);
  }
  paste(surface.get(), bar, kBarWidth, plots_height, bar_left, bar_top);
  cairo_rectangle(cr, bar_left - 0.5, bar_top - 0.5, kBarWidth + 1, plots_height + 1);
  cairo_stroke(cr);
  for (const Tick& t : level_ticks(f.top_db, f.range_db, plots_height, kLevelSpacing)) {
    const double y = std::round(bar_top + (f.top_db - t.value) / f.range_db * plots_height) + 0.5;
    const double x = bar_left + kBarWidth;
    line(cr, x, y, x + kTickLength, y);
    text_at(cr, t.label, x + kTickLength + 3, y, 0, 0.5);
  }

  cairo_surface_flush(surface.get());
  if (cairo_status(cr) != CAIRO_STATUS_SUCCESS)
    throw ToolError(std::string("cannot draw the picture: ") + cairo_status_to_string(cairo_status(cr)));
  const unsigned char* data = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  picture.rgb.resize(static_cast<std::size_t>(picture.width) * picture.height * 3);
  for (int y = 0; y < picture.height; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
    for (int x = 0; x < picture.width; ++x) {
      std::uint8_t* to = picture.rgb.data() + (static_cast<std::size_t>(y) * picture.width + x) * 3;
      to[0] = static_cast<std::uint8_t>(row[x] >> 16);
      to[1] = static_cast<std::uint8_t>(row[x] >> 8);
      to[2] = static_cast<std::uint8_t>(row[x]);
    }
  }
  return picture;
}

}  // namespace gridwave::tools
