// The link's process-wide state, shared by the windows, the session thread
// (TxD) and the receiver thread (TComThread).
//
// Values that two threads touch are atomics: the UI thread writes RunFlag and
// the first LinkStatus, the session writes LinkStatus, session and receiver OR
// bits into LinkError. Skip flags live inside the request tables (records
// shared with the vehicle module), so they are accessed through
// std::atomic_ref with the helpers below.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "module/vorta.h"

namespace kestrel {

// ---------------------------------------------------------------- status and errors

enum LinkStatusValue : std::uint16_t {
  lsIdle = 0,
  lsOpenPort = 1,
  lsInit5Baud = 2,
  lsInitFast = 3,
  lsInit9141 = 4,
  lsFirstPass = 5,
  lsExchange = 6,
  lsError = 7,
};

// LinkError bits.
inline constexpr std::uint16_t kErrOpen = 0x0001;          // port cannot be opened
inline constexpr std::uint16_t kErrTimeouts = 0x0002;      // setting port time-outs fails
inline constexpr std::uint16_t kErrPurge = 0x0004;         // purging the port fails
inline constexpr std::uint16_t kErrEventMask = 0x0008;     // setting the event mask fails
inline constexpr std::uint16_t kErrGetState = 0x0010;      // reading the port state fails
inline constexpr std::uint16_t kErrSetState = 0x0020;      // writing the port state fails
inline constexpr std::uint16_t kErrTxEvent = 0x0040;       // transmit completion event
inline constexpr std::uint16_t kErrWriteTimeout = 0x0080;  // write not done within 2000 ms
inline constexpr std::uint16_t kErrWriteShort = 0x0100;    // fewer bytes written than asked
inline constexpr std::uint16_t kErrNoEcho = 0x0200;        // no echo from the adapter
inline constexpr std::uint16_t kErrNoResponse = 0x0800;    // no response from the ECU
inline constexpr std::uint16_t kErrRxEvent = 0x1000;       // receive completion event
inline constexpr std::uint16_t kErrRxState = 0x2000;       // reading the port error state fails
inline constexpr std::uint16_t kErrRead = 0x4000;          // a read from the port fails
inline constexpr std::uint16_t kErrRxOverflow = 0x8000;    // >1001 bytes queued, or port gone

// ---------------------------------------------------------------- settings

enum ProtocolValue : std::uint8_t { kProto5Baud = 0, kProtoFast = 1, kProto9141 = 2 };
enum AddressingValue : std::uint8_t { kPhysical = 0, kFunctional = 1 };

// The communication settings, written by the configuration loader and the
// settings window on the UI thread and copied into each new session.
struct LinkSettingsRecord {
  std::string PortName;  // "COM1".."COM15", at most 5 characters
  std::uint8_t EcuAddress = 0;
  std::uint8_t Kw2 = 0;
  std::uint8_t Addressing = 0;
  std::uint8_t TesterAddress = 0;
  std::uint8_t RequestAddress = 0;
  std::int32_t BaudRate = 0;  // a session takes the low 16 bits
  // The eight timings, in milliseconds, consecutive in this order.
  std::int32_t W5 = 0;
  std::int32_t W1to4 = 0;
  std::int32_t W4 = 0;
  std::int32_t P3 = 0;
  std::int32_t P2 = 0;
  std::int32_t P4 = 0;
  std::int32_t PWakeUpL = 0;
  std::int32_t PWakeUpH = 0;
  std::uint8_t Protocol = 0;
};

// ---------------------------------------------------------------- globals

extern std::atomic<std::uint16_t> LinkError;
extern std::atomic<std::uint16_t> LinkStatus;
extern std::atomic<std::uint8_t> RunFlag;
extern std::atomic<std::uint8_t> LogEnabled;
extern LinkSettingsRecord LinkSettings;
extern std::atomic<std::uint8_t> RecordEnabled;

// Complete passes over the request table in the current session, the first
// pass included. Reset when a session starts (for tools that run N passes).
extern std::atomic<std::uint32_t> PassCount;

// The recording file that the receiver appends response frames to. The graphs
// window sets it on the UI thread while the receiver may read it, so it is
// kept behind a small lock.
class RecordFileNameHolder {
 public:
  std::string Get() const {
    std::lock_guard lock(mutex_);
    return name_;
  }
  void Set(std::string name) {
    std::lock_guard lock(mutex_);
    name_ = std::move(name);
  }

 private:
  mutable std::mutex mutex_;
  std::string name_;
};
extern RecordFileNameHolder RecordFileName;

// The six request tables, in this order.
enum RequestTableIndex : int {
  kDashboardTable = 0,
  kLiveTable = 1,
  kFreezeTable = 2,
  kDtcReadTable = 3,
  kDtcClearTable = 4,
  kInfoTable = 5,
  kRequestTableCount = 6,
};
extern vorta::RequestTable RequestTables[kRequestTableCount];

// The response store (34,013,184 bytes of 256-byte slots) and, right after it,
// the ValueQuery that PIDVAL reads and writes.
extern vorta::ResponseMemory ResponseBlock;
inline std::uint8_t* const ResponseStore = ResponseBlock.Store;
inline vorta::ValueQuery& ValueQuery = ResponseBlock.Query;

// ---------------------------------------------------------------- helpers

// Skip flags are read and written by the UI, the session and the receiver.
inline std::uint8_t GetSkip(const vorta::RequestEntry& e) {
  return std::atomic_ref<std::uint8_t>(const_cast<std::uint8_t&>(e.Skip))
      .load(std::memory_order_acquire);
}
inline void SetSkip(vorta::RequestEntry& e, std::uint8_t v) {
  std::atomic_ref<std::uint8_t>(e.Skip).store(v, std::memory_order_release);
}

// Marks every slot of the response store as empty (count byte 0).
void ClearResponseStore();

// The status line text every window shows: the Russian labels, or the
// dashboard's English ones. lsError reads "Ошибка " / "Error " followed by
// LinkError as four upper-case hexadecimal digits. Code page 1251.
std::string LinkStatusText(std::uint16_t status, std::uint16_t error, bool dashboard = false);

// Convenience: the text for the current LinkStatus and LinkError.
std::string CurrentLinkStatusText(bool dashboard = false);

}  // namespace kestrel
