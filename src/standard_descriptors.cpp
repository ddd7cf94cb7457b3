#include "standard_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace gridwave {

void ensure_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is this one, as the ones below are open.
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened == fd) continue;
    if (opened >= 0) close(opened);
    _exit(1);
  }
}

}  // namespace gridwave
