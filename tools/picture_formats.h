// Decoders of the picture formats besides PNG and PGM/PPM, each through its
// own well-kept library (BMP: see bmp_input.cpp). Each throws ToolError for
// anything but a complete picture within the size limits; image_input.cpp
// picks one by the file's first bytes.
#pragma once

#include <string>
#include <vector>

#include "image_input.h"

namespace gridwave::tools {

LumaImage decode_jpeg(const std::vector<unsigned char>& bytes, const std::string& name);  // libjpeg-turbo
LumaImage decode_gif(const std::vector<unsigned char>& bytes, const std::string& name);   // giflib: first frame
LumaImage decode_webp(const std::vector<unsigned char>& bytes, const std::string& name);  // libwebp: still pictures
LumaImage decode_bmp(const std::vector<unsigned char>& bytes, const std::string& name);   // our own

}  // namespace gridwave::tools
