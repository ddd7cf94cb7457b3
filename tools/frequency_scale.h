// How frequencies are laid out along a picture's height, shared by the
// synthesis and the spectrogram so both speak of the same axis.
#pragma once

namespace gridwave::tools {

enum class FrequencyScale { kLog, kLinear };

}  // namespace gridwave::tools
