// The receiver's byte work: the ring of received bytes, the ISO 14230 and
// ISO 9141 framing, echo/response recognition, checksums, the exchange log,
// the recording file and the filing of responses in the response store.
//
// RxParser has no thread and no port: TComThread pushes what it reads and
// calls Parse(); tests and benchmarks drive it directly.
//
// Framing:
// - ISO 14230: format byte 0x80..0xFF with the data length in its low six
//   bits, target, source, data, checksum. An echo of our request carries
//   (target, TesterAddress) - the target being RequestAddress under
//   functional addressing, else EcuAddress; a response carries
//   (TesterAddress, EcuAddress). Anything else is skipped a byte at a time.
// - ISO 9141: no length. An echo starts 68 6A TesterAddress, a response
//   48 6B; a frame ends where the next header starts, so a frame is handled
//   once the next one has begun to arrive. A frame is at most
//   kMax9141Frame bytes: a header without a next header within that many
//   bytes is taken for noise and skipped, so the parser never stalls. Noise
//   in front of the next header would end up inside the frame: when a
//   frame's checksum fails, its shortest prefix of at least five bytes that
//   ends in its own checksum is the frame and the bytes after it are skipped.
// A frame whose checksum (sum of its bytes but the last, modulo 256) does not
// match its last byte is logged as a checksum error and otherwise ignored.
//
// Filing (D = bytes from the service identifier to the checksum, exclusive):
//   0x41        Mode 01 slot [PID]                 D-2 bytes from frame byte 5
//   0x42        Mode 02 slot [PID*256 + frame]     D-3 bytes from byte 6
//   0x43, 0x53  DTC slot [running count]           D-1 bytes from byte 4
//   0x47        Mode 07 slot [running count]       D-1 bytes from byte 4
//   0x49        Mode 09 slot [type*16 + message]   D-3 bytes from byte 6
//   0x58, 0xE3  DTC-by-status slot [running count] D-1 bytes from byte 4
//   0x61        Local 21 slot [LID]                D-2 bytes from byte 5
//   0x62        Common 22 slot [id high*256 + low] D-3 bytes from byte 6
//   0x70        Control 30 slot [LID]              D-2 bytes from byte 5
//   0x50        no slot: every 0x10 request of the table is skipped from now on
//   0x70 also skips every 0x30 request of the table for that LID.
// Byte 255 of a slot holds the number of bytes stored (at most 255). A frame
// too short to hold the identifier bytes that choose its slot is not filed,
// and neither is a Mode 09 answer whose type or message number (above 0x0F
// and 15) would place it outside its area.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/exchange_log.h"
#include "link/link_globals.h"
#include "module/response_store.h"
#include "module/vorta.h"

namespace kestrel {

struct RxSettings {
  std::uint8_t EcuAddress = 0;
  std::uint8_t Protocol = 0;  // 2 = ISO 9141 framing, else ISO 14230
  std::uint8_t Addressing = 0;
  std::uint8_t TesterAddress = 0;
  std::uint8_t RequestAddress = 0;
};

// What the receiver writes to, shared with the session and the windows. Any
// pointer may be null, which switches that part off.
struct RxTargets {
  vorta::RequestTable* Table = nullptr;
  std::uint8_t* Store = nullptr;  // the response store, kResponseStoreSize bytes
  std::atomic<std::uint16_t>* UnechoedWrites = nullptr;
  std::atomic<std::uint16_t>* Error = nullptr;
  const std::atomic<std::uint8_t>* LogFlag = nullptr;
  const std::atomic<std::uint8_t>* RecordFlag = nullptr;
  RecordFileNameHolder* RecordFile = nullptr;
};

class RxParser {
 public:
  static constexpr std::size_t kRingSize = 65536;
  static constexpr std::size_t kMax9141Frame = 260;
  static constexpr std::uint16_t kMaxEchoRun = 254;  // more echoes in a row: no ECU

  // logFileName: the exchange log; written only while the log flag is set.
  RxParser(const RxSettings& settings, const RxTargets& targets, std::string logFileName);

  // Back to the state of a new session: ring empty, counters and flags 0.
  void Reset();

  // Appends received bytes to the ring. Should the unparsed bytes ever
  // exceed the ring, the oldest are dropped rather than overwritten in place.
  void Push(const std::uint8_t* data, std::size_t count);

  // Handles every complete frame in the ring.
  void Parse();

  std::size_t Unparsed() const { return static_cast<std::uint16_t>(write_ - read_); }
  bool EchoSeen() const { return echoSeen_.load(std::memory_order_acquire); }
  bool ResponseSeen() const { return responseSeen_.load(std::memory_order_acquire); }
  std::uint16_t EchoRun() const { return echoRun_; }
  std::uint8_t Mode07Counter() const { return mode07Count_; }
  std::uint8_t DtcCounter() const { return dtcCount_; }
  std::uint8_t DtcStatusCounter() const { return dtcStatusCount_; }
  const ExchangeLog& Log() const { return log_; }

 private:
  std::uint8_t At(std::size_t offset) const {
    return ring_[static_cast<std::uint16_t>(read_ + offset)];
  }
  void Advance(std::size_t count) { read_ = static_cast<std::uint16_t>(read_ + count); }
  void CopyOut(std::uint8_t* to, std::size_t count) const;

  void Parse14230();
  void Parse9141();
  // A frame whose checksum matched.
  // Takes the n-byte frame at the read position out of the ring and hands it
  // on as an echo or a response (filed when file is set, with D = d); a frame
  // whose checksum does not match is only logged.
  void TakeFrame(std::size_t n, bool echo, bool file, int d);
  void Echo(const std::uint8_t* frame, std::size_t n);
  void Response(const std::uint8_t* frame, std::size_t n, bool file, int d);
  void File(const std::uint8_t* frame, int d);
  void SkipRequests(std::uint8_t service, int lid);  // lid < 0: any
  void SetError(std::uint16_t bits);

  RxSettings settings_;
  RxTargets targets_;
  ExchangeLog log_;

  std::array<std::uint8_t, kRingSize> ring_{};
  std::uint16_t write_ = 0;
  std::uint16_t read_ = 0;
  std::uint16_t echoRun_ = 0;
  std::uint8_t mode07Count_ = 0;
  std::uint8_t dtcCount_ = 0;
  std::uint8_t dtcStatusCount_ = 0;
  std::atomic<bool> echoSeen_{false};
  std::atomic<bool> responseSeen_{false};
};

}  // namespace kestrel
