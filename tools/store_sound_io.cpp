#include "store_sound_io.h"

#include <algorithm>
#include <exception>

namespace gridwave::tools {

namespace {

sf_count_t store_length(void* user) { return static_cast<sf_count_t>(static_cast<StoreCursor*>(user)->store->size()); }

sf_count_t store_seek(sf_count_t offset, int whence, void* user) {
  auto* cursor = static_cast<StoreCursor*>(user);
  const sf_count_t base = whence == SEEK_SET   ? 0
                          : whence == SEEK_CUR ? cursor->position
                                               : static_cast<sf_count_t>(cursor->store->size());
  if (base + offset < 0) return -1;
  return cursor->position = base + offset;
}

sf_count_t store_read(void* data, sf_count_t count, void* user) {
  auto* cursor = static_cast<StoreCursor*>(user);
  const sf_count_t size = static_cast<sf_count_t>(cursor->store->size());
  const sf_count_t n = std::max<sf_count_t>(0, std::min(count, size - cursor->position));
  try {
    if (n > 0) cursor->store->read_at(cursor->position, data, n);
  } catch (const std::exception& e) {
    cursor->error = e.what();
    return 0;
  }
  cursor->position += n;
  return n;
}

sf_count_t store_write(const void* data, sf_count_t count, void* user) {
  auto* cursor = static_cast<StoreCursor*>(user);
  try {
    cursor->store->write_at(cursor->position, data, count);
  } catch (const std::exception& e) {
    cursor->error = e.what();
    return 0;
  }
  cursor->position += count;
  return count;
}

sf_count_t store_tell(void* user) { return static_cast<StoreCursor*>(user)->position; }

}  // namespace

SF_VIRTUAL_IO store_sound_io() { return {store_length, store_seek, store_read, store_write, store_tell}; }

}  // namespace gridwave::tools
