// TxD: the transmitting half of a link session.
//
// The thread opens the port (through CreatePort and the COM-name port map),
// starts the receiver (TComThread), wakes the ECU up by one of the three
// initialisations, then sends the requests of one RequestTable: a first pass,
// and further passes while RunFlag is set. It never reads the port; echoes and
// answers are the receiver's. Progress goes to LinkStatus (1 open, 2/3/4
// initialising, 5 first pass, 6 exchange) and failures to LinkError bits;
// the last thing the thread does is to set LinkStatus to 0, or to 7 when
// LinkError is not 0.
//
// Timing: every wait ends on an absolute deadline of the session's clock
// (CLOCK_MONOTONIC unless a test gives a virtual one), so successive waits do
// not drift (the ten 200 ms cells of a 5-baud address take 2 s). From the end
// of W5 (while it initialises the line and then runs its passes) the thread
// asks for real-time scheduling, where that is permitted; it falls back
// quietly to ordinary scheduling.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "link/link_clock.h"
#include "link/link_globals.h"
#include "link/link_thread.h"
#include "link/precise_wait.h"
#include "link/serial_port.h"
#include "link/tcom_thread.h"
#include "module/vorta.h"

namespace kestrel {

// What a session works with, filled by the starting window before the thread
// runs (MakeSessionRecord fills it from LinkSettings and the link globals).
struct SessionRecord {
  std::string PortName;            // "COM1".."COM15", resolved by the port map
  std::uint16_t BaudRate = 10400;  // 9600 or 10400
  std::uint8_t EcuAddress = 0x13;
  std::uint8_t Kw2 = 0x8F;
  std::int32_t W5 = 400;           // ms, bus idle before initialisation (at least 50)
  std::int32_t W1to4 = 120;        // ms, after the 5-baud address before the first byte
  std::int32_t W4 = 50;            // ms, between the tester's two init bytes
  std::int32_t P3 = 60;            // ms, idle before each request
  std::int32_t ResponseWait = 80;  // ms after each request: P2, or 1000 for the DTC screen
  std::int32_t P4 = 5;             // ms after each byte; 0 = a frame in one write
  std::int32_t PWakeUpL = 35;      // ms, fast init low time
  std::int32_t PWakeUpH = 15;      // ms, fast init high time
  std::uint8_t Protocol = kProto5Baud;
  std::uint8_t Addressing = kPhysical;
  std::uint8_t TesterAddress = 0xF1;
  std::uint8_t RequestAddress = 0x33;
  std::uint8_t* ResponseStore = nullptr;
  std::atomic<std::uint16_t>* ErrorWord = nullptr;   // LinkError
  std::atomic<std::uint16_t>* StatusWord = nullptr;  // LinkStatus
  std::atomic<std::uint8_t>* RunFlag = nullptr;
  std::atomic<std::uint8_t>* LogFlag = nullptr;
  std::atomic<std::uint8_t>* RecordFlag = nullptr;
  vorta::RequestTable* Table = nullptr;
  RecordFileNameHolder* RecordFileName = nullptr;
  std::atomic<std::uint32_t>* PassCount = nullptr;  // complete passes of the session
  LinkClock* Clock = nullptr;                       // what the waits run on; null: SystemClock()
};

class TxD final : public LinkThread {
 public:
  static constexpr int kWriteTimeoutMs = 2000;
  static constexpr std::uint16_t kMaxUnechoedWrites = 30;
  static constexpr std::size_t kMaxFrame = 255;  // the writer's count is one byte
  static constexpr int kSettleMs = 500;          // after the first pass

  explicit TxD(const SessionRecord& record);
  ~TxD() override;

  const SessionRecord& Record() const { return record_; }

  // Writes since the receiver last recognised an echo frame.
  std::uint16_t UnechoedWrites() const { return unechoed_.load(); }

  // The frame writer: count bytes in one write (P4 = 0) or byte by byte with
  // a P4 gap after each. Sets 0x0080 (time-out), 0x0100 (short write, or a
  // frame over 255 bytes, which is refused unsent) and 0x0200 (more than 30
  // frames written without an echo) and returns; callers check LinkError.
  void WriteFrame(const std::uint8_t* bytes, std::size_t count);

  // Terminate() (from LinkThread) ends the session early: waits and passes
  // stop, then the receiver is stopped and the port closed as usual.

 protected:
  void Execute() override;

 private:
  bool Open();
  void InitAndRun();
  bool Initialise();
  bool RunPass(MonoNs& mark);
  void Stop();

  // Every wait of the session: abortable, on the session's clock.
  bool Wait(MonoNs deadline) { return clock_.WaitUntil(deadline, &TerminateFlag()); }
  MonoNs Now() const { return clock_.Now(); }
  void SetError(std::uint16_t bits) { errorWord_->fetch_or(bits); }
  std::uint16_t Errors() const { return errorWord_->load(); }
  void SetStatus(std::uint16_t s) { statusWord_->store(s); }
  void CountWrite();

  SessionRecord record_;
  LinkClock& clock_;
  std::atomic<std::uint16_t> ownError_{0};
  std::atomic<std::uint16_t> ownStatus_{0};
  std::atomic<std::uint16_t>* errorWord_;
  std::atomic<std::uint16_t>* statusWord_;
  std::atomic<std::uint16_t> unechoed_{0};
  std::unique_ptr<SerialPort> port_;
  std::unique_ptr<TComThread> receiver_;
  MonoNs openedAt_ = 0;
};

// Why the last session's port could not be opened, in words for the user
// (empty when it opened). Permission problems name the group to join, or
// whose the device is when joining a group would not help.
std::string LastPortErrorText();

}  // namespace kestrel
