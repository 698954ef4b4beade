#include "link/recording.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/cp1251.h"
#include "common/system_error.h"
#include "module/response_store.h"

namespace kestrel {

using namespace cp1251_literals;

RtdRecord RtdHeader::Encode() const {
  RtdRecord r{};
  std::copy(Magic.begin(), Magic.end(), r.begin());
  r[4] = static_cast<std::uint8_t>(IntervalMs & 0xFF);
  r[5] = static_cast<std::uint8_t>(IntervalMs >> 8);
  for (int c = 0; c < kRtdChannels; ++c) {
    const ChannelDescriptor& d = Channels[c];
    std::uint8_t* at = r.data() + 6 + 4 * c;
    at[0] = d.Service, at[1] = d.Id1, at[2] = d.Id2, at[3] = d.Format;
  }
  return r;
}

RtdHeader RtdHeader::Decode(const RtdRecord& r) {
  RtdHeader h;
  std::copy_n(r.begin(), 4, h.Magic.begin());
  h.IntervalMs = static_cast<std::uint16_t>(r[4] | r[5] << 8);
  for (int c = 0; c < kRtdChannels; ++c) {
    const std::uint8_t* at = r.data() + 6 + 4 * c;
    h.Channels[c] = {at[0], at[1], at[2], at[3]};
  }
  return h;
}

std::uint16_t PlaybackInterval(std::int32_t p2, std::int32_t p3) {
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(p2) +
                                    static_cast<std::uint32_t>(p3));
}

RtdRecord MakeRtdRecord(const std::uint8_t* frame, std::size_t count) {
  RtdRecord record{};
  std::copy_n(frame, std::min(count, kRtdRecordSize), record.begin());
  return record;
}

bool AppendRtdRecord(const std::string& fileName, const std::uint8_t* frame, std::size_t count) {
  if (fileName.empty()) return false;
  // No O_CREAT: only a file that exists is extended.
  const int fd = ::open(fileName.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return false;
  const RtdRecord record = MakeRtdRecord(frame, count);
  const bool ok = ::write(fd, record.data(), record.size()) == static_cast<ssize_t>(record.size());
  ::close(fd);
  return ok;
}

bool CreateRecording(const std::string& fileName, const RtdHeader& header, std::string& error,
                     std::string_view shownName) {
  const std::string_view shown = shownName.empty() ? std::string_view(fileName) : shownName;
  const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = FileErrorText("Не удается создать файл"_cpsv, shown, errno);
    return false;
  }
  const RtdRecord record = header.Encode();
  const ssize_t n = ::write(fd, record.data(), record.size());
  const int writeErr = n < 0 ? errno : ENOSPC;
  const bool ok = n == static_cast<ssize_t>(record.size());
  if (::close(fd) != 0 || !ok) {
    error = FileErrorText("Не удается записать файл"_cpsv, shown, ok ? errno : writeErr);
    ::unlink(fileName.c_str());
    return false;
  }
  return true;
}

bool FileRtdRecord(const RtdRecord& record, std::uint8_t* store) {
  std::uint8_t* slot = nullptr;
  std::size_t first = 0;
  switch (record[3]) {
    case 0x41:
      slot = vorta::Slot(store, vorta::kAreaMode01, record[4]), first = 5;
      break;
    case 0x61:
      slot = vorta::Slot(store, vorta::kAreaLocal21, record[4]), first = 5;
      break;
    case 0x62:
      slot = vorta::Slot(store, vorta::kAreaCommon22, vorta::Common22Slot(record[4], record[5]));
      first = 6;
      break;
    default:
      return false;
  }
  // Every byte behind the identifier goes into the slot; the count is that of
  // a frame filling the whole record (its last byte being the checksum).
  const std::size_t bytes = kRtdRecordSize - first;
  vorta::FileSlotBytes(slot, record.data() + first, bytes);
  slot[vorta::kSlotCountByte] = static_cast<std::uint8_t>(bytes - 1);
  return true;
}

RtdReader::~RtdReader() {
  Close();
}

bool RtdReader::Open(const std::string& fileName, std::string& error, std::string_view shownName) {
  const std::string_view shown = shownName.empty() ? std::string_view(fileName) : shownName;
  Close();
  openErrno_ = 0;
  std::FILE* f = std::fopen(fileName.c_str(), "rbe");
  if (f == nullptr) {
    openErrno_ = errno;
    error = FileErrorText("Не удается открыть файл"_cpsv, shown, openErrno_);
    return false;
  }
  struct stat st {};
  if (::fstat(::fileno(f), &st) != 0) {
    openErrno_ = errno;
    error = FileErrorText("Не удается прочитать файл"_cpsv, shown, openErrno_);
    std::fclose(f);
    return false;
  }
  file_ = f;
  records_ = static_cast<std::size_t>(st.st_size) / kRtdRecordSize;
  header_ = RtdHeader{};
  header_.Magic = {0, 0, 0, 0};
  position_ = 0;
  RtdRecord first{};
  if (records_ > 0) {
    if (!Read(first)) {
      openErrno_ = errno != 0 ? errno : EIO;
      error = FileErrorText("Не удается прочитать файл"_cpsv, shown, openErrno_);
      Close();
      return false;
    }
    header_ = RtdHeader::Decode(first);
  }
  return true;
}

void RtdReader::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  records_ = 0;
  position_ = 0;
}

bool RtdReader::Seek(std::size_t index) {
  if (file_ == nullptr || index > records_) return false;
  if (::fseeko(file_, static_cast<off_t>(index * kRtdRecordSize), SEEK_SET) != 0) return false;
  position_ = index;
  return true;
}

bool RtdReader::Read(RtdRecord& record) {
  if (file_ == nullptr || position_ >= records_) return false;
  errno = 0;
  if (std::fread(record.data(), 1, record.size(), file_) != record.size()) return false;
  ++position_;
  return true;
}

}  // namespace kestrel
