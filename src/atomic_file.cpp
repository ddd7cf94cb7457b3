#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

namespace gridwave {
namespace {

// The temporary file that a signal handler must remove. Plain storage, so
// that the handler only reads memory and calls unlink().
char pending_temp[4096];
volatile std::sig_atomic_t temp_pending = 0;

constexpr int kCaughtSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

void remove_temp_and_die(int signal_number) {
  if (temp_pending) unlink(pending_temp);
  // The handler was installed with SA_RESETHAND: the default action ends the
  // process with the status a shell expects.
  raise(signal_number);
}

// Installs the clean-up handler for the lifetime of one save.
class SignalGuard {
 public:
  SignalGuard() {
    struct sigaction action {};
    action.sa_handler = remove_temp_and_die;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (int i = 0; i < kSignals; ++i) {
      sigaction(kCaughtSignals[i], nullptr, &previous_[i]);
      // A signal the caller chose to ignore (nohup, say) stays ignored.
      if (previous_[i].sa_handler != SIG_IGN) sigaction(kCaughtSignals[i], &action, nullptr);
    }
  }
  ~SignalGuard() {
    for (int i = 0; i < kSignals; ++i) sigaction(kCaughtSignals[i], &previous_[i], nullptr);
  }
  SignalGuard(const SignalGuard&) = delete;
  SignalGuard& operator=(const SignalGuard&) = delete;

 private:
  static constexpr int kSignals = sizeof kCaughtSignals / sizeof kCaughtSignals[0];
  struct sigaction previous_[kSignals];
};

// Blocks the caught signals while the pending temporary file changes, so the
// handler never sees a half-updated name.
class SignalBlock {
 public:
  SignalBlock() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kCaughtSignals) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, &previous_);
  }
  ~SignalBlock() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  sigset_t previous_;
};

bool write_all(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

SaveResult save_directly(const char* path, const void* data, std::size_t size) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return SaveResult::kNotOpened;
  const bool written = write_all(fd, data, size);
  const bool closed = close(fd) == 0;
  return written && closed ? SaveResult::kSaved : SaveResult::kNotWritten;
}

mode_t new_file_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// The file that the rename replaces: the end of a chain of symbolic links,
// so the links survive, followed the way open() would follow it even when
// that file does not exist yet.
std::string rename_target(const char* path) {
  std::string target = path;
  for (int hops = 0; hops < 40; ++hops) {  // the kernel's own limit
    struct stat st;
    char link[4096];
    if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    const ssize_t n = readlink(target.c_str(), link, sizeof link);
    if (n <= 0 || n == static_cast<ssize_t>(sizeof link)) break;
    std::string next(link, static_cast<std::size_t>(n));
    // A relative link is relative to the folder that holds it.
    const std::size_t slash = target.rfind('/');
    if (next[0] != '/' && slash != std::string::npos) next = target.substr(0, slash + 1) + next;
    target = next;
  }
  return target;
}

}  // namespace

SaveResult save_file(const char* path, const void* data, std::size_t size) {
  struct stat existing;
  const bool exists = stat(path, &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) return save_directly(path, data, size);

  const std::string target = rename_target(path);
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (name.empty()) return SaveResult::kNotOpened;
  // Hidden sibling; the name is cut short so it stays within NAME_MAX.
  std::string temp = folder + "." + name.substr(0, 200) + ".XXXXXX";
  if (temp.size() >= sizeof pending_temp) return SaveResult::kNotOpened;

  SignalGuard guard;
  int fd;
  {
    SignalBlock block;
    fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return SaveResult::kNotOpened;
    std::memcpy(pending_temp, temp.c_str(), temp.size() + 1);
    temp_pending = 1;
  }

  bool ok = fchmod(fd, exists ? (existing.st_mode & 07777) : new_file_mode()) == 0;
  ok = ok && write_all(fd, data, size);
  ok = ok && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(temp.c_str(), target.c_str()) == 0;

  SignalBlock block;
  if (!ok) unlink(temp.c_str());
  temp_pending = 0;
  return ok ? SaveResult::kSaved : SaveResult::kNotWritten;
}

}  // namespace gridwave
