#include "picture_formats.h"

#include <gif_lib.h>
#include <turbojpeg.h>
#include <webp/decode.h>

#include <cstring>
#include <memory>

#include "tool_error.h"

namespace gridwave::tools {

namespace {

[[noreturn]] void refuse(const std::string& name, const char* kind, const std::string& why) {
  throw ToolError(quoted(name) + " is not a readable " + kind + " image: " + why);
}

}  // namespace

LumaImage decode_jpeg(const std::vector<unsigned char>& bytes, const std::string& name) {
  std::unique_ptr<void, decltype(&tjDestroy)> tj(tjInitDecompress(), tjDestroy);
  if (!tj) throw std::bad_alloc();
  int width = 0, height = 0, subsampling = 0, colourspace = 0;
  if (tjDecompressHeader3(tj.get(), bytes.data(), bytes.size(), &width, &height, &subsampling, &colourspace) != 0)
    refuse(name, "JPEG", tjGetErrorStr2(tj.get()));
  if (colourspace == TJCS_CMYK || colourspace == TJCS_YCCK) refuse(name, "JPEG", "CMYK JPEG is not supported");
  check_image_size(width, height, name);
  std::vector<unsigned char> rgba(std::size_t(width) * height * 4);
  // A warning (data cut short, a damaged stream) is a broken file here: the
  // picture would come out partly grey.
  if (tjDecompress2(tj.get(), bytes.data(), bytes.size(), rgba.data(), width, 0, height, TJPF_RGBA,
                    TJFLAG_STOPONWARNING) != 0)
    refuse(name, "JPEG", tjGetErrorStr2(tj.get()));
  return image_from_rgba(width, height, rgba.data(), 255.0f);
}

namespace {

struct GifSource {
  const std::vector<unsigned char>* bytes;
  std::size_t position = 0;
};

int read_gif_bytes(GifFileType* gif, GifByteType* out, int count) {
  auto* source = static_cast<GifSource*>(gif->UserData);
  const std::size_t n = std::min<std::size_t>(count, source->bytes->size() - source->position);
  std::memcpy(out, source->bytes->data() + source->position, n);
  source->position += n;
  return static_cast<int>(n);
}

void close_gif(GifFileType* gif) {
  int error = 0;
  DGifCloseFile(gif, &error);
}

}  // namespace

LumaImage decode_gif(const std::vector<unsigned char>& bytes, const std::string& name) {
  GifSource source{&bytes};
  int error = 0;
  std::unique_ptr<GifFileType, decltype(&close_gif)> gif(DGifOpen(&source, read_gif_bytes, &error), close_gif);
  if (!gif) refuse(name, "GIF", GifErrorString(error));
  auto fail = [&] { refuse(name, "GIF", GifErrorString(gif->Error) ? GifErrorString(gif->Error) : "it is damaged"); };
  check_image_size(gif->SWidth, gif->SHeight, name);

  int transparent = -1;  // from the graphic control extension before the frame
  for (;;) {
    GifRecordType record;
    if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) fail();
    if (record == TERMINATE_RECORD_TYPE) refuse(name, "GIF", "it holds no picture");
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) fail();
      if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4 && (block[1] & 1)) transparent = block[4];
      while (block != nullptr)
        if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) fail();
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) continue;

    if (DGifGetImageDesc(gif.get()) == GIF_ERROR) fail();
    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* colours = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    if (colours == nullptr) refuse(name, "GIF", "it has no colour table");
    if (frame.Left < 0 || frame.Top < 0 || frame.Width <= 0 || frame.Height <= 0 ||
        frame.Left + frame.Width > gif->SWidth || frame.Top + frame.Height > gif->SHeight)
      refuse(name, "GIF", "its first frame lies outside the picture");
    std::vector<GifPixelType> indices(std::size_t(frame.Width) * frame.Height);
    // Interlaced frames come in four passes of rows.
    static constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass)
      for (int y = frame.Interlace ? kStart[pass] : 0; y < frame.Height; y += frame.Interlace ? kStep[pass] : 1)
        if (DGifGetLine(gif.get(), &indices[std::size_t(y) * frame.Width], frame.Width) == GIF_ERROR) fail();

    // The canvas outside the first frame is transparent: black.
    std::vector<unsigned char> rgba(std::size_t(gif->SWidth) * gif->SHeight * 4, 0);
    for (int y = 0; y < frame.Height; ++y)
      for (int x = 0; x < frame.Width; ++x) {
        const int index = indices[std::size_t(y) * frame.Width + x];
        if (index == transparent || index >= colours->ColorCount) continue;
        unsigned char* p = &rgba[(std::size_t(frame.Top + y) * gif->SWidth + frame.Left + x) * 4];
        p[0] = colours->Colors[index].Red, p[1] = colours->Colors[index].Green, p[2] = colours->Colors[index].Blue;
        p[3] = 255;
      }
    return image_from_rgba(gif->SWidth, gif->SHeight, rgba.data(), 255.0f);
  }
}

LumaImage decode_webp(const std::vector<unsigned char>& bytes, const std::string& name) {
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK)
    refuse(name, "WebP", "its header is damaged or cut short");
  if (features.has_animation) refuse(name, "WebP", "animated WebP is not supported");
  check_image_size(features.width, features.height, name);
  std::vector<unsigned char> rgba(std::size_t(features.width) * features.height * 4);
  if (WebPDecodeRGBAInto(bytes.data(), bytes.size(), rgba.data(), rgba.size(), features.width * 4) == nullptr)
    refuse(name, "WebP", "its picture data is damaged or cut short");
  return image_from_rgba(features.width, features.height, rgba.data(), 255.0f);
}

}  // namespace gridwave::tools
