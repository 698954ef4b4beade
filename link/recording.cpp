#include "link/recording.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

namespace kestrel {

FrameRecord MakeFrameRecord(const std::uint8_t* frame, std::size_t count) {
  FrameRecord record{};
  std::copy_n(frame, std::min(count, kRecordFrameSize), record.begin());
  return record;
}

bool AppendFrameRecord(const std::string& fileName, const std::uint8_t* frame, std::size_t count) {
  if (fileName.empty()) return false;
  // No O_CREAT: only a file that exists is extended.
  const int fd = ::open(fileName.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return false;
  const FrameRecord record = MakeFrameRecord(frame, count);
  const bool ok = ::write(fd, record.data(), record.size()) == static_cast<ssize_t>(record.size());
  ::close(fd);
  return ok;
}

}  // namespace kestrel
