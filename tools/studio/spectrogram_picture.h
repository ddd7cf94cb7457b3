// The pieces of a studio render, each in a file of its own so that no file
// includes both the picture-to-sound and the spectrogram headers.
#pragma once

#include <string>
#include <vector>

#include "image_input.h"
#include "render_request.h"

namespace gridwave::studio {

struct ModeSound {
  std::vector<unsigned char> wav;
  int rows = 0;        // pitch rows that sound
  double seconds = 0;  // length of the sound
};

// img2sound's synthesis with the request's options (img2sound_mode.cpp).
ModeSound render_img2sound(const tools::LumaImage& image, const RenderRequest& request);

// The labelled spectrogram of a sound file held in memory, drawn from low_hz
// to high_hz on a log or linear axis (spectrogram_picture.cpp).
std::vector<unsigned char> spectrogram_picture(const std::vector<unsigned char>& sound, double low_hz, double high_hz,
                                               bool linear, const std::string& title);

}  // namespace gridwave::studio
