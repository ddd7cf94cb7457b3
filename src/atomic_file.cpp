#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
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

// Installs the clean-up handler for the lifetime of one save.
class AtomicFile::SignalGuard {
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

AtomicFile::AtomicFile() = default;

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) close(fd_);
  discard_temp();
}

void AtomicFile::discard_temp() {
  if (temp_.empty()) return;
  {
    SignalBlock block;
    unlink(temp_.c_str());
    temp_pending = 0;
  }
  temp_.clear();
  guard_.reset();
}

SaveResult AtomicFile::open(const char* path) {
  struct stat existing;
  const bool exists = stat(path, &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) {
    fd_ = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd_ >= 0 ? SaveResult::kSaved : SaveResult::kNotOpened;
  }

  target_ = rename_target(path);
  const std::size_t slash = target_.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  if (name.empty()) return SaveResult::kNotOpened;
  // Hidden sibling; the name is cut short so it stays within NAME_MAX.
  std::string temp = folder + "." + name.substr(0, 200) + ".XXXXXX";
  if (temp.size() >= sizeof pending_temp) return SaveResult::kNotOpened;

  guard_ = std::make_unique<SignalGuard>();
  {
    SignalBlock block;
    fd_ = mkostemp(temp.data(), O_CLOEXEC);
    if (fd_ < 0) {
      guard_.reset();
      return SaveResult::kNotOpened;
    }
    std::memcpy(pending_temp, temp.c_str(), temp.size() + 1);
    temp_pending = 1;
  }
  temp_ = temp;
  if (fchmod(fd_, exists ? (existing.st_mode & 07777) : new_file_mode()) != 0) failed_ = true;
  return SaveResult::kSaved;
}

bool AtomicFile::write(const void* data, std::size_t size) {
  if (!failed_ && !write_all(fd_, data, size)) failed_ = true;
  return !failed_;
}

SaveResult AtomicFile::commit() {
  bool ok = !failed_;
  if (!temp_.empty()) ok = ok && fsync(fd_) == 0;
  ok = (close(fd_) == 0) && ok;
  fd_ = -1;
  if (!temp_.empty()) {
    ok = ok && rename(temp_.c_str(), target_.c_str()) == 0;
    if (ok) {
      SignalBlock block;
      temp_pending = 0;
      temp_.clear();
    }
    discard_temp();  // removes the temporary file unless it was renamed
    guard_.reset();
  }
  return ok ? SaveResult::kSaved : SaveResult::kNotWritten;
}

SaveResult save_file(const char* path, const void* data, std::size_t size) {
  AtomicFile file;
  if (file.open(path) != SaveResult::kSaved) return SaveResult::kNotOpened;
  file.write(data, size);
  return file.commit();
}

}  // namespace gridwave
