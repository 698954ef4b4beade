// The recording file (*.rtd) of the graphs window: a sequence of 38-byte
// records and nothing else. Record 0 is the RtdHeader (magic "RTDA", the
// playback interval and the eight channel descriptors); every further record
// is one ECU response frame as received, from its format (or header) byte to
// its checksum, followed by zero bytes up to 38 (a longer frame keeps its
// first 38 bytes).
//
// The receiver appends frames while recording is on; the graphs window
// creates the file and plays it back; the spreadsheet export, the
// command-line recorder and the simulator's replay read it. All of them go
// through this unit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace kestrel {

inline constexpr std::size_t kRtdRecordSize = 38;
inline constexpr int kRtdChannels = 8;

using RtdRecord = std::array<std::uint8_t, kRtdRecordSize>;

// The four bytes a channel's live-table row puts into the module query; all
// zero for a channel on "Нет".
struct ChannelDescriptor {
  std::uint8_t Service = 0;
  std::uint8_t Id1 = 0;
  std::uint8_t Id2 = 0;
  std::uint8_t Format = 0;
  bool operator==(const ChannelDescriptor&) const = default;
};

struct RtdHeader {
  std::array<std::uint8_t, 4> Magic{'R', 'T', 'D', 'A'};
  std::uint16_t IntervalMs = 0;  // playback interval: P2 + P3 at recording time, 16 bits
  std::array<ChannelDescriptor, kRtdChannels> Channels{};

  bool MagicOk() const { return Magic == std::array<std::uint8_t, 4>{'R', 'T', 'D', 'A'}; }
  // Bytes 0-3 magic, 4-5 interval (little-endian), 6-37 the eight descriptors.
  RtdRecord Encode() const;
  static RtdHeader Decode(const RtdRecord& record);
};

// The playback interval of a recording made with these timings: their sum
// kept to 16 bits.
std::uint16_t PlaybackInterval(std::int32_t p2, std::int32_t p3);

// One frame as a record: its first 38 bytes, zero-padded.
RtdRecord MakeRtdRecord(const std::uint8_t* frame, std::size_t count);

// Appends one record to an existing file; false when the file does not exist
// or cannot be written. The file is opened and closed for every record, so
// nothing is lost if the program stops.
bool AppendRtdRecord(const std::string& fileName, const std::uint8_t* frame, std::size_t count);

// Creates (or truncates) a recording holding only its header. On failure
// returns false with a code page 1251 message naming the file (as
// `shownName` when given: the program's own form of a path whose name on
// disk differs) and the system's reason.
bool CreateRecording(const std::string& fileName, const RtdHeader& header, std::string& error,
                     std::string_view shownName = {});

// Files a played-back record into the response store as the graphs window
// does: 0x41 and 0x61 frames (byte 4 the identifier) into their Mode 01 or
// Local 21 slot with bytes 5-37 and the count 32; 0x62 frames (bytes 4-5 the
// identifier) into their Common 22 slot with bytes 6-37 and the count 31.
// Returns false, filing nothing, for any other byte 3.
bool FileRtdRecord(const RtdRecord& record, std::uint8_t* store);

// Reads a recording record by record, with seeking. Only whole records count:
// a tail shorter than 38 bytes is ignored.
class RtdReader {
 public:
  RtdReader() = default;
  RtdReader(const RtdReader&) = delete;
  RtdReader& operator=(const RtdReader&) = delete;
  ~RtdReader();

  // Opens a recording and reads its header (the magic is not checked). A file
  // too short for the header opens with an all-zero header and no records.
  // On failure returns false with a code page 1251 message naming the file
  // (as `shownName` when given).
  bool Open(const std::string& fileName, std::string& error, std::string_view shownName = {});
  void Close();
  bool IsOpen() const { return file_ != nullptr; }

  const RtdHeader& Header() const { return header_; }
  // Whole records in the file, the header included (0 for an empty file).
  std::size_t RecordCount() const { return records_; }
  // Index of the record the next Read returns.
  std::size_t Position() const { return position_; }
  // The system's error number of the last Open that failed.
  int OpenErrno() const { return openErrno_; }

  // Positions the file so that the next Read returns record `index`; false
  // (position unchanged) past the last record.
  bool Seek(std::size_t index);
  // Reads the next record; false at the end of the file or on a read error.
  bool Read(RtdRecord& record);

 private:
  std::FILE* file_ = nullptr;
  RtdHeader header_;
  std::size_t records_ = 0;
  std::size_t position_ = 0;
  int openErrno_ = 0;
};

}  // namespace kestrel
