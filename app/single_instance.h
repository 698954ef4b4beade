// Keeps a second copy of the program from starting.
//
// The guard is an exclusive flock on a lock file named after "Proj" in the
// user's runtime directory ($XDG_RUNTIME_DIR), or in /tmp when that is not
// usable. The lock lives as long as the open file, so it goes away with the
// process however the process ends; no stale lock survives a crash.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

inline constexpr std::string_view kInstanceLockName = "Proj";

class SingleInstanceLock {
 public:
  enum class Result {
    Acquired,        // this is the only instance; the lock is held until destruction
    AlreadyRunning,  // another process holds the lock
    Unavailable,     // the lock file cannot be opened or locked for another reason
  };

  SingleInstanceLock() = default;
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;
  ~SingleInstanceLock();

  // The lock file for `name`: "$XDG_RUNTIME_DIR/<name>.lock" when that folder
  // exists and is writable, else "/tmp/<name>-<uid>.lock" (one per user, so a
  // stranger's lock file cannot block or be blocked).
  static std::string LockPath(std::string_view name = kInstanceLockName);

  // Tries to take the lock on `path` without waiting.
  Result Acquire(const std::string& path);

  // For Unavailable: what went wrong, in words.
  const std::string& ErrorText() const { return error_; }

  void Release();

 private:
  int fd_ = -1;
  std::string error_;
};

}  // namespace kestrel
