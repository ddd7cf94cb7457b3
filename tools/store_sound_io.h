// libsndfile's virtual I/O over a ByteStore: a sound read from bytes in
// memory, or one written there (libsndfile seeks back at the end to complete
// the header, which a plain stream could not do).
#pragma once

#include <sndfile.h>

#include <string>

#include "byte_store.h"

namespace gridwave::tools {

// The user data of the callbacks. Errors must not cross libsndfile's C
// frames as exceptions: they are kept here and reported once libsndfile
// returns.
struct StoreCursor {
  ByteStore* store;
  sf_count_t position = 0;
  std::string error;
};

// Callbacks for sf_open_virtual, each taking a StoreCursor* as user data.
SF_VIRTUAL_IO store_sound_io();

}  // namespace gridwave::tools
