// Preloaded into a module run to stand for what the system may do to it:
//   LUMIVANE_SHIM_NO_LOCKS=1    every flock() is refused with ENOLCK, as on a
//                               network file system without its lock service;
//   LUMIVANE_SHIM_FLUSH_LOG=F   every fsync(), fdatasync() and syncfs() adds a
//                               line to F: "fenetre" when made on the
//                               process's first thread (the window's), else
//                               "autre".
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

template <typename F>
F Real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

void Note() {
  const char* log = std::getenv("LUMIVANE_SHIM_FLUSH_LOG");
  if (log == nullptr || *log == '\0') return;
  const int fd = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const bool window = ::syscall(SYS_gettid) == ::getpid();
  const char* line = window ? "fenetre\n" : "autre\n";
  (void)!::write(fd, line, std::strlen(line));
  ::close(fd);
}

}  // namespace

extern "C" {

int flock(int fd, int operation) {
  const char* refuse = std::getenv("LUMIVANE_SHIM_NO_LOCKS");
  if (refuse != nullptr && *refuse == '1') {
    errno = ENOLCK;
    return -1;
  }
  int (*real)(int, int) = Real<int (*)(int, int)>("flock");
  return real(fd, operation);
}

int fsync(int fd) {
  Note();
  int (*real)(int) = Real<int (*)(int)>("fsync");
  return real(fd);
}

int fdatasync(int fd) {
  Note();
  int (*real)(int) = Real<int (*)(int)>("fdatasync");
  return real(fd);
}

int syncfs(int fd) {
  Note();
  int (*real)(int) = Real<int (*)(int)>("syncfs");
  return real(fd);
}

}  // extern "C"
