#include "ecusim/replay.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <iterator>

namespace kestrel::ecusim {

namespace {
constexpr std::size_t kMaxFileBytes = 256u << 20;
constexpr std::uint32_t Key(std::uint8_t service, std::uint16_t id) {
  return static_cast<std::uint32_t>(service) << 16 | id;
}
}  // namespace

Bytes Replay::FrameOf(const std::uint8_t* r) {
  const std::uint8_t fmt = r[0];
  if ((fmt & 0x80) && (fmt & 0x3F) != 0) {
    const std::size_t n = std::min<std::size_t>((fmt & 0x3F) + 4u, kRtdRecordSize);
    return Bytes(r, r + n);
  }
  // ISO 9141 (no length): the longest prefix that ends in its checksum and is
  // followed only by padding.
  for (std::size_t n = kRtdRecordSize; n >= 5; --n) {
    bool padded = true;
    for (std::size_t i = n; i < kRtdRecordSize; ++i) padded = padded && r[i] == 0;
    if (!padded) break;
    if (Checksum(r, n - 1) == r[n - 1]) return Bytes(r, r + n);
  }
  // No checksum found: take everything up to the padding.
  std::size_t n = kRtdRecordSize;
  while (n > 4 && r[n - 1] == 0) --n;
  return Bytes(r, r + n);
}

std::optional<Replay> Replay::FromBytes(const Bytes& file, const std::string& name,
                                        std::string& error) {
  if (file.size() < kRtdRecordSize) {
    error = name + ": too short for a recording header (" + std::to_string(file.size()) + " bytes)";
    return std::nullopt;
  }
  Replay r;
  RtdRecord header{};
  std::copy_n(file.begin(), kRtdRecordSize, header.begin());
  const unsigned interval = RtdHeader::Decode(header).IntervalMs;
  // A zero interval would replay the whole file at once; a tenth of a second stands in.
  r.interval_ms_ = interval ? interval : 100;
  r.records_ = file.size() / kRtdRecordSize - 1;
  for (std::size_t k = 0; k < r.records_; ++k) {
    const std::uint8_t* rec = file.data() + (k + 1) * kRtdRecordSize;
    const Bytes frame = FrameOf(rec);
    // Frame: header (3), service, identifier(s), data..., checksum (when it fits).
    if (frame.size() < 5) continue;
    const bool whole =
        frame.size() < kRtdRecordSize || Checksum(frame.data(), frame.size() - 1) == frame.back();
    const std::size_t end = whole ? frame.size() - 1 : frame.size();
    const std::uint8_t service = frame[3];
    std::size_t first = 0;
    std::uint16_t id = 0;
    if (service == 0x41 || service == 0x61) {
      id = frame[4];
      first = 5;
    } else if (service == 0x62 && frame.size() >= 6) {
      id = static_cast<std::uint16_t>(frame[4] << 8 | frame[5]);
      first = 6;
    } else {
      continue;
    }
    if (first > end) continue;
    Entry e{static_cast<std::uint32_t>(k), Bytes(frame.begin() + first, frame.begin() + end)};
    r.entries_[Key(static_cast<std::uint8_t>(service - 0x40), id)].push_back(std::move(e));
  }
  if (r.entries_.empty()) {
    error = name + ": holds no 0x41, 0x61 or 0x62 response to replay";
    return std::nullopt;
  }
  return r;
}

std::optional<Replay> Replay::Load(const std::string& path, std::string& error) {
  RtdReader reader;
  std::string why;
  if (!reader.Open(path, why)) {
    error = path + ": cannot open (" + std::strerror(reader.OpenErrno()) + ")";
    return std::nullopt;
  }
  if (reader.RecordCount() * kRtdRecordSize > kMaxFileBytes) {
    error = path + ": larger than 256 MiB";
    return std::nullopt;
  }
  Bytes data;
  data.reserve(reader.RecordCount() * kRtdRecordSize);
  RtdRecord record{};
  reader.Seek(0);
  while (reader.Read(record)) data.insert(data.end(), record.begin(), record.end());
  if (data.size() != reader.RecordCount() * kRtdRecordSize) {
    error = path + ": read failed";
    return std::nullopt;
  }
  return FromBytes(data, path, error);
}

std::optional<Bytes> Replay::At(std::uint8_t service, std::uint16_t id, double seconds) const {
  const auto it = entries_.find(Key(service, id));
  if (it == entries_.end()) return std::nullopt;
  const auto& list = it->second;
  const double pos = std::max(0.0, seconds) * 1000 / interval_ms_;
  const auto record = static_cast<std::uint32_t>(
      std::fmod(std::floor(pos), static_cast<double>(std::max<std::size_t>(records_, 1))));
  // The latest entry at or before the record reached; before the first one,
  // the first one (the ECU answers from its first moment).
  auto after = std::upper_bound(list.begin(), list.end(), record,
                                [](std::uint32_t r, const Entry& e) { return r < e.index; });
  if (after == list.begin()) return list.front().data;
  return std::prev(after)->data;
}

std::vector<std::uint16_t> Replay::Ids(std::uint8_t service) const {
  std::vector<std::uint16_t> ids;
  for (const auto& [key, list] : entries_) {
    if ((key >> 16) == service) ids.push_back(static_cast<std::uint16_t>(key & 0xFFFF));
  }
  return ids;
}

}  // namespace kestrel::ecusim
