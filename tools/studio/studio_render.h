// One render of the studio, entirely in memory: a picture's bytes and the
// page's options in; the sound, its spectrogram and (in gridwave mode) the
// grid out, as the bytes of the files the command-line tools would write.
#pragma once

#include <vector>

#include "render_request.h"

namespace gridwave::studio {

struct StudioRender {
  std::vector<unsigned char> sound;        // a WAV file
  std::vector<unsigned char> spectrogram;  // a PNG picture
  std::vector<unsigned char> grid;         // gridwave mode: the grid file; otherwise empty
  int picture_width = 0;
  int picture_height = 0;
  int rows = 0;         // pitch rows that sound
  double seconds = 0;   // length of the sound
};

// Throws tools::ToolError with a message for the page when the picture or
// the options cannot be rendered.
StudioRender render_for_studio(const std::vector<unsigned char>& picture, const RenderRequest& request);

}  // namespace gridwave::studio
