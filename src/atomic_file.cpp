#include "atomic_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <string>

namespace gridwave {
namespace {

// ---- Removing temporary files when a signal ends the process ----

// Signals whose default action ends the process (SIGKILL aside, which cannot
// be caught), besides the real-time ones.
constexpr int kFatalSignals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP,   SIGABRT,
                                 SIGBUS,  SIGFPE,  SIGUSR1,   SIGSEGV, SIGUSR2,   SIGPIPE,
                                 SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU, SIGXFSZ,   SIGVTALRM,
                                 SIGPROF, SIGIO,   SIGPWR,    SIGSYS};

template <typename F>
void for_each_fatal_signal(F f) {
  for (int s : kFatalSignals) f(s);
  for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) f(s);
}

// Temporary files in progress, for the signal handler: plain storage that it
// only reads, so it needs nothing but unlink(). An entry is free (0), being
// filled in (1) or names a file to remove (2).
constexpr int kMaxPending = 16;
char pending_names[kMaxPending][PATH_MAX];
std::atomic<int> pending_state[kMaxPending];
static_assert(std::atomic<int>::is_always_lock_free);

void remove_temps_and_die(int signal_number) {
  for (int i = 0; i < kMaxPending; ++i) {
    if (pending_state[i].load() == 2) unlink(pending_names[i]);
  }
  // SA_RESETHAND restored the default action; the signal raised again ends
  // the process as soon as the handler returns, with the status a shell expects.
  raise(signal_number);
}

// The handler is installed while any temporary file exists, on the signals
// whose action is still the default one: a signal the program ignores (nohup,
// say) or handles itself is left as it is.
std::mutex handlers_mutex;
int handler_users = 0;
struct sigaction previous_actions[_NSIG];
bool replaced[_NSIG];

void install_handlers() {
  std::lock_guard lock(handlers_mutex);
  if (handler_users++ > 0) return;
  struct sigaction action {};
  action.sa_handler = remove_temps_and_die;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  for_each_fatal_signal([&](int s) {
    struct sigaction& previous = previous_actions[s];
    replaced[s] = sigaction(s, nullptr, &previous) == 0 && !(previous.sa_flags & SA_SIGINFO) &&
                  previous.sa_handler == SIG_DFL && sigaction(s, &action, nullptr) == 0;
  });
}

void restore_handlers() {
  std::lock_guard lock(handlers_mutex);
  if (--handler_users > 0) return;
  for_each_fatal_signal([](int s) {
    if (replaced[s]) sigaction(s, &previous_actions[s], nullptr);
    replaced[s] = false;
  });
}

// Blocks the fatal signals in this thread while a temporary file is created
// and entered in the list, so that it never exists unlisted.
class SignalBlock {
 public:
  SignalBlock() {
    sigset_t set;
    sigemptyset(&set);
    for_each_fatal_signal([&](int s) { sigaddset(&set, s); });
    pthread_sigmask(SIG_BLOCK, &set, &previous_);
  }
  ~SignalBlock() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  sigset_t previous_;
};

// Creates the temporary file from name_template (…XXXXXX) and lists it for
// the handler. Returns its descriptor, or -1. entry is its place in the list,
// or -1 when more than kMaxPending files are being saved at once: such a file
// is still removed on every failure, only not when a signal ends the process.
int create_listed_temp(std::string& name_template, int& entry) {
  entry = -1;
  if (name_template.size() >= PATH_MAX) return -1;
  install_handlers();
  SignalBlock block;
  for (int i = 0; i < kMaxPending && entry < 0; ++i) {
    int expected = 0;
    if (pending_state[i].compare_exchange_strong(expected, 1)) entry = i;
  }
  const int fd = mkostemp(name_template.data(), O_CLOEXEC);
  if (fd >= 0 && entry >= 0) {
    std::memcpy(pending_names[entry], name_template.c_str(), name_template.size() + 1);
    pending_state[entry].store(2);
  } else if (entry >= 0) {
    pending_state[entry].store(0);
    entry = -1;
  }
  if (fd < 0) restore_handlers();
  return fd;
}

// The counterpart of a successful create_listed_temp.
void unlist_temp(int entry) {
  if (entry >= 0) pending_state[entry].store(0);
  restore_handlers();
}

// ---- The file ----

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
// that file does not exist yet. False for a loop or a link that cannot be read.
bool rename_target(const char* path, std::string& target) {
  target = path;
  for (int hops = 0; hops <= 40; ++hops) {  // the kernel's own limit
    struct stat st;
    if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    char link[PATH_MAX];
    const ssize_t n = readlink(target.c_str(), link, sizeof link);
    if (n <= 0 || n == static_cast<ssize_t>(sizeof link)) return false;
    std::string next(link, static_cast<std::size_t>(n));
    // A relative link is relative to the folder that holds it.
    const std::size_t slash = target.rfind('/');
    if (next[0] != '/' && slash != std::string::npos) next = target.substr(0, slash + 1) + next;
    target = next;
  }
  errno = ELOOP;
  return false;
}

// Gives the new file the old one's owner and group. Only root may give a file
// away; anyone else keeps at least the group when they belong to it, and
// otherwise owns the new file, as with any editor's save. False only when
// root could not.
bool keep_owner(int fd, const struct stat& old) {
  struct stat now;
  if (fstat(fd, &now) == 0 && now.st_uid == old.st_uid && now.st_gid == old.st_gid) return true;
  if (fchown(fd, old.st_uid, old.st_gid) == 0) return true;
  if (geteuid() == 0) return false;
  [[maybe_unused]] const int ignored = fchown(fd, static_cast<uid_t>(-1), old.st_gid);
  return true;
}

// Makes the rename itself durable. A folder this process may not read cannot
// be synced, and a file system that cannot sync folders needs no sync.
bool sync_folder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno == EACCES;
  const bool ok = fsync(fd) == 0 || errno == EINVAL;
  close(fd);
  return ok;
}

}  // namespace

AtomicFile::AtomicFile() = default;

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) close(fd_);
  discard_temp();
}

void AtomicFile::discard_temp() {
  if (temp_.empty()) return;
  const int saved_errno = errno;  // callers report the failure's own errno
  unlink(temp_.c_str());
  unlist_temp(pending_);
  pending_ = -1;
  temp_.clear();
  errno = saved_errno;
}

SaveResult AtomicFile::open(const char* path) {
  struct stat existing;
  const bool exists = stat(path, &existing) == 0;
  // A loop of links, a folder we may not search, a name that is too long:
  // open() would fail on each of them.
  if (!exists && errno != ENOENT) return SaveResult::kNotOpened;
  if (exists && !S_ISREG(existing.st_mode)) {
    fd_ = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd_ >= 0 ? SaveResult::kSaved : SaveResult::kNotOpened;
  }

  if (!rename_target(path, target_)) return SaveResult::kNotOpened;
  if (exists && faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) return SaveResult::kNotOpened;
  const std::size_t slash = target_.rfind('/');
  folder_ = slash == std::string::npos ? "." : target_.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  if (name.empty()) return SaveResult::kNotOpened;
  // Hidden sibling; the name is cut short so it stays within NAME_MAX.
  std::string temp = (slash == std::string::npos ? "" : folder_) + "." + name.substr(0, 200) + ".XXXXXX";
  fd_ = create_listed_temp(temp, pending_);
  if (fd_ < 0) return SaveResult::kNotOpened;
  temp_ = temp;
  // The owner first: changing it clears set-ID bits, and none are copied anyway.
  if (exists && !keep_owner(fd_, existing)) failed_ = true;
  if (fchmod(fd_, exists ? (existing.st_mode & 0777) : new_file_mode()) != 0) failed_ = true;
  return SaveResult::kSaved;
}

bool AtomicFile::write(const void* data, std::size_t size) {
  if (!failed_ && (fd_ < 0 || !write_all(fd_, data, size))) failed_ = true;
  return !failed_;
}

SaveResult AtomicFile::finish() {
  if (!finished_) {
    finished_ = true;
    bool ok = !failed_ && fd_ >= 0;
    if (ok && !temp_.empty()) ok = fsync(fd_) == 0;
    if (fd_ >= 0) ok = (close(fd_) == 0) && ok;
    fd_ = -1;
    if (!ok) {
      failed_ = true;
      discard_temp();
    }
  }
  return failed_ ? SaveResult::kNotWritten : SaveResult::kSaved;
}

SaveResult AtomicFile::publish() {
  if (finish() != SaveResult::kSaved) return SaveResult::kNotWritten;
  if (temp_.empty()) return SaveResult::kSaved;  // written directly, or published already
  if (rename(temp_.c_str(), target_.c_str()) != 0) {
    failed_ = true;
    discard_temp();
    return SaveResult::kNotWritten;
  }
  temp_.clear();
  unlist_temp(pending_);
  pending_ = -1;
  if (!sync_folder(folder_)) failed_ = true;
  return failed_ ? SaveResult::kNotWritten : SaveResult::kSaved;
}

SaveResult AtomicFile::commit() { return publish(); }

SaveResult save_file(const char* path, const void* data, std::size_t size) {
  AtomicFile file;
  if (file.open(path) != SaveResult::kSaved) return SaveResult::kNotOpened;
  file.write(data, size);
  return file.commit();
}

}  // namespace gridwave
