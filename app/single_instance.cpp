#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kestrel {

SingleInstanceLock::~SingleInstanceLock() {
  Release();
}

std::string SingleInstanceLock::LockPath(std::string_view name) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] != '\0') {
    struct stat st {};
    if (::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) && ::access(runtime, W_OK) == 0) {
      return std::string(runtime) + "/" + std::string(name) + ".lock";
    }
  }
  return "/tmp/" + std::string(name) + "-" + std::to_string(::getuid()) + ".lock";
}

SingleInstanceLock::Result SingleInstanceLock::Acquire(const std::string& path) {
  Release();
  error_.clear();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    error_ = path + ": " + std::strerror(errno);
    return Result::Unavailable;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) return Result::AlreadyRunning;
    error_ = path + ": " + std::strerror(err);
    return Result::Unavailable;
  }
  fd_ = fd;
  return Result::Acquired;
}

void SingleInstanceLock::Release() {
  if (fd_ >= 0) {
    ::close(fd_);  // closing the only descriptor drops the flock
    fd_ = -1;
  }
}

}  // namespace kestrel
