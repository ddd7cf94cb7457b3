// Preloaded into gridwave (LD_PRELOAD) by the save tests to hit the save at
// an exact moment. GRIDWAVE_FAULT lists "call:action" steps, separated by
// commas; each call's steps apply to its successive calls, in order, and
// calls past its last step run normally. Only files (descriptors above 2)
// are touched, so the console output is never affected.
//
//   call:   mkostemp, write, fsync, close, rename
//   action: pass     run normally
//           ENOSPC   fail with ENOSPC (close still closes; write writes nothing)
//           EIO      fail with EIO, the same way
//           short    write: write at most 4096 bytes and report that
//           SIGINT, SIGTERM, SIGQUIT, … (see kSignals)   raise the signal,
//                    then run normally
//           rmdir    remove the folder the file is in, with its content, then
//                    run normally (the folder vanishing during the run)
//           pause    write the process id to the file named by
//                    GRIDWAVE_FAULT_PIDFILE, then wait up to 10 s for a
//                    signal from outside, then run normally
#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/types.h>

namespace {

enum Call { kMkostemp, kWrite, kFsync, kClose, kRename, kCallCount };
constexpr const char* kCallNames[kCallCount] = {"mkostemp", "write", "fsync", "close", "rename"};

int calls_seen[kCallCount];

// The action for this call of `call`: the n-th step named for it, or "pass".
std::string next_action(Call call) {
  const char* plan = std::getenv("GRIDWAVE_FAULT");
  const int wanted = calls_seen[call]++;
  if (plan == nullptr) return "pass";
  int seen = 0;
  std::string all = plan;
  std::size_t start = 0;
  while (start <= all.size()) {
    std::size_t end = all.find(',', start);
    if (end == std::string::npos) end = all.size();
    const std::string step = all.substr(start, end - start);
    const std::size_t colon = step.find(':');
    if (colon != std::string::npos && step.substr(0, colon) == kCallNames[call] && seen++ == wanted) {
      return step.substr(colon + 1);
    }
    start = end + 1;
  }
  return "pass";
}

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string path_of_fd(int fd) {
  char link[64], target[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

void remove_folder(const std::string& folder) {
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* e = readdir(dir)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
        unlink((folder + "/" + e->d_name).c_str());
      }
    }
    closedir(dir);
  }
  rmdir(folder.c_str());
}

template <typename F>
F real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

int rename_file(const char* from, const char* to) {
  static auto next = real<int (*)(const char*, const char*)>("rename");
  return next(from, to);
}

struct NamedSignal {
  const char* name;
  int number;
};
constexpr NamedSignal kSignals[] = {
    {"SIGINT", SIGINT},   {"SIGTERM", SIGTERM}, {"SIGHUP", SIGHUP},       {"SIGQUIT", SIGQUIT},
    {"SIGUSR1", SIGUSR1}, {"SIGUSR2", SIGUSR2}, {"SIGALRM", SIGALRM},     {"SIGVTALRM", SIGVTALRM},
    {"SIGXCPU", SIGXCPU}, {"SIGXFSZ", SIGXFSZ}, {"SIGPROF", SIGPROF},     {"SIGPIPE", SIGPIPE},
    {"SIGABRT", SIGABRT}, {"SIGIO", SIGIO},     {"SIGRTMIN", 0 /* SIGRTMIN is not a constant */},
};

// Carries out the action; returns the errno to fail with, or 0 to go on.
int act(const std::string& action, const std::string& path) {
  if (action == "ENOSPC") return ENOSPC;
  if (action == "EIO") return EIO;
  for (const NamedSignal& s : kSignals) {
    if (action == s.name) raise(s.number != 0 ? s.number : SIGRTMIN);
  }
  if (action == "rmdir") remove_folder(folder_of(path));
  if (action == "pause") {
    if (const char* pid_file = std::getenv("GRIDWAVE_FAULT_PIDFILE")) {
      // Written under a temporary name and renamed, so the reader never sees half of it.
      const std::string temp = std::string(pid_file) + ".part";
      if (std::FILE* f = std::fopen(temp.c_str(), "w")) {
        std::fprintf(f, "%d\n", static_cast<int>(getpid()));
        std::fclose(f);
        rename_file(temp.c_str(), pid_file);
      }
    }
    sleep(10);
  }
  return 0;
}

}  // namespace

extern "C" {

int mkostemp(char* name_template, int flags) {
  static auto next = real<int (*)(char*, int)>("mkostemp");
  if (const int error = act(next_action(kMkostemp), name_template)) {
    errno = error;
    return -1;
  }
  return next(name_template, flags);
}

ssize_t write(int fd, const void* data, size_t size) {
  static auto next = real<ssize_t (*)(int, const void*, size_t)>("write");
  if (fd <= 2) return next(fd, data, size);
  const std::string action = next_action(kWrite);
  if (action == "short") return next(fd, data, size < 4096 ? size : 4096);
  if (const int error = act(action, path_of_fd(fd))) {
    errno = error;
    return -1;
  }
  return next(fd, data, size);
}

int fsync(int fd) {
  static auto next = real<int (*)(int)>("fsync");
  if (fd <= 2) return next(fd);
  if (const int error = act(next_action(kFsync), path_of_fd(fd))) {
    errno = error;
    return -1;
  }
  return next(fd);
}

int close(int fd) {
  static auto next = real<int (*)(int)>("close");
  if (fd <= 2) return next(fd);
  const int error = act(next_action(kClose), path_of_fd(fd));
  const int result = next(fd);
  if (error != 0) {
    errno = error;
    return -1;
  }
  return result;
}

int rename(const char* from, const char* to) {
  if (const int error = act(next_action(kRename), from)) {
    errno = error;
    return -1;
  }
  return rename_file(from, to);
}

}  // extern "C"
