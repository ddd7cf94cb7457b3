// Encoding float samples as WAV or FLAC through libsndfile, into a ByteStore.
#pragma once

#include <cstdint>
#include <functional>

#include "byte_store.h"
#include "picture_sound.h"

namespace gridwave::tools {

// Encodes `frames` mono float samples read from `samples` (native floats,
// from offset 0), each multiplied by gain, as the options' container and
// sample format at their sample rate. progress(share done) may be empty.
void encode_sound(const ByteStore& samples, std::int64_t frames, float gain, const PictureSoundOptions& options,
                  ByteStore& out, const std::function<void(double)>& progress);

}  // namespace gridwave::tools
