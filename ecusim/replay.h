// A recording (link/recording.h: 38-byte records, record 0 the header) used as the ECU's
// live data: the recorded 0x41, 0x61 and 0x62 response frames are replayed in
// time at the header's playback interval, one record per interval, looping at
// the end. For each identifier the latest record read so far is answered.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ecusim/kline.h"
#include "link/recording.h"

namespace kestrel::ecusim {

class Replay {
 public:
  // Reads a recording; on failure returns nullopt and sets `error`.
  static std::optional<Replay> Load(const std::string& path, std::string& error);
  // The same from the file's bytes (tests).
  static std::optional<Replay> FromBytes(const Bytes& file, const std::string& name,
                                         std::string& error);

  // Data bytes (after the identifier) of service 0x01, 0x21 or 0x22 identifier
  // `id` at `seconds` after the start, or nullopt when the file has none.
  std::optional<Bytes> At(std::uint8_t service, std::uint16_t id, double seconds) const;

  // Identifiers the file holds for a service.
  std::vector<std::uint16_t> Ids(std::uint8_t service) const;

  double IntervalMs() const { return interval_ms_; }
  std::size_t Records() const { return records_; }  // without the header

  // The frame bytes of one record without padding, found by its length or,
  // for ISO 9141 records, by its checksum. Exposed for tests.
  static Bytes FrameOf(const std::uint8_t* record);

 private:
  struct Entry {
    std::uint32_t index;  // record number, 0-based after the header
    Bytes data;
  };
  std::map<std::uint32_t, std::vector<Entry>> entries_;  // key: service << 16 | id
  double interval_ms_ = 100;
  std::size_t records_ = 0;
};

}  // namespace kestrel::ecusim
