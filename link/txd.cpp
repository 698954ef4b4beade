#include "link/txd.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

#include "link/checksum.h"
#include "link/exchange_log.h"
#include "link/kline_init.h"
#include "link/port_map.h"

namespace kestrel {

namespace {

std::mutex portErrorMutex;
std::string portErrorText;

void SetPortErrorText(std::string text) {
  std::lock_guard lock(portErrorMutex);
  portErrorText = std::move(text);
}

}  // namespace

std::string LastPortErrorText() {
  std::lock_guard lock(portErrorMutex);
  return portErrorText;
}

TxD::TxD(const SessionRecord& record)
    : record_(record),
      clock_(record.Clock ? *record.Clock : SystemClock()),
      errorWord_(record.ErrorWord ? record.ErrorWord : &ownError_),
      statusWord_(record.StatusWord ? record.StatusWord : &ownStatus_) {}

TxD::~TxD() {
  Terminate();
  Join();
}

void TxD::Execute() {
  MinimiseTimerSlack();
  errorWord_->store(0);
  unechoed_.store(0);
  if (!Open()) {
    receiver_.reset();
    port_.reset();
    SetStatus(lsError);
    return;
  }
  InitAndRun();
  Stop();
  // Written once and last: a window that sees 0 or 7 may start the next
  // session at once.
  SetStatus(Errors() != 0 ? lsError : lsIdle);
}

bool TxD::Open() {
  SetStatus(lsOpenPort);
  SetPortErrorText({});
  port_ = CreatePort();
  if (!port_) {
    SetError(kErrOpen);
    return false;
  }
  const std::string device = PortDevice(record_.PortName);
  const std::uint16_t bits = port_->Open(device, record_.BaudRate);
  if (bits != 0) {
    std::string text = port_->LastErrorText();
    if (text.empty()) text = device + ": cannot be opened";
    std::fprintf(stderr, "kestrel: %s (%s)\n", text.c_str(), record_.PortName.c_str());
    SetPortErrorText(std::move(text));
    port_->Close();
    SetError(bits);
    return false;
  }
  openedAt_ = Now();

  RxSettings settings;
  settings.EcuAddress = record_.EcuAddress;
  settings.Protocol = record_.Protocol;
  settings.Addressing = record_.Addressing;
  settings.TesterAddress = record_.TesterAddress;
  settings.RequestAddress = record_.RequestAddress;
  RxTargets targets;
  targets.Table = record_.Table;
  targets.Store = record_.ResponseStore;
  targets.UnechoedWrites = &unechoed_;
  targets.Error = errorWord_;
  targets.LogFlag = record_.LogFlag;
  targets.RecordFlag = record_.RecordFlag;
  targets.RecordFile = record_.RecordFileName;
  receiver_ = std::make_unique<TComThread>(*port_, settings, targets, ExchangeLog::FileNameNow());
  if (!receiver_->Start()) {
    // No thread for the receiver: reported with the receiver's own bit.
    SetError(kErrRxEvent);
    port_->Close();
    return false;
  }
  return true;
}

void TxD::InitAndRun() {
  // The bus stays idle for W5 after the port opened; the last 50 ms of it
  // already at real-time priority. The priority is kept through the passes
  // too: on a loaded machine an ordinary thread wakes up several milliseconds
  // late, which would stretch P3, P2 and the P4 gaps between bytes. The
  // thread only ever sleeps or writes, so it takes no processor time from
  // others.
  const MonoNs idleEnd = openedAt_ + Ms(std::max(record_.W5, 50));
  if (!Wait(idleEnd - Ms(50))) return;
  std::optional<RealtimeScope> realtime;
  if (clock_.Real()) realtime.emplace();
  if (!Wait(idleEnd)) return;
  if (!Initialise()) return;
  SetStatus(lsFirstPass);
  MonoNs mark = Now();
  if (!RunPass(mark)) return;
  if (record_.PassCount) record_.PassCount->fetch_add(1);
  if (!Wait(Now() + Ms(kSettleMs))) return;
  SetStatus(lsExchange);
  mark = Now();
  // RunFlag is looked at between passes only. A bit set by the receiver
  // (for example the port gone) also ends the cycle, even when the table
  // sends nothing that would be checked.
  while (record_.RunFlag != nullptr && record_.RunFlag->load() != 0 && Errors() == 0) {
    if (!RunPass(mark)) return;
    if (record_.PassCount) record_.PassCount->fetch_add(1);
  }
}

bool TxD::Initialise() {
  if (record_.Protocol == kProtoFast) {
    SetStatus(lsInitFast);
    if (!SendWakeUpPattern(*port_, clock_, record_.PWakeUpL, record_.PWakeUpH, &TerminateFlag())) {
      return false;
    }
    const std::array<std::uint8_t, 5> start = StartCommunicationFrame(
        record_.Addressing, record_.EcuAddress, record_.RequestAddress, record_.TesterAddress);
    // The ECU's answer is the receiver's; an error here shows at the first
    // request's check.
    WriteFrame(start.data(), start.size());
    return true;
  }

  // 5-baud address (ISO 14230) or ISO 9141: the address byte sent at 5 baud,
  // bit by bit, as a start bit, eight data bits LSB first and a stop bit.
  SetStatus(record_.Protocol == kProto5Baud ? lsInit5Baud : lsInit9141);
  const std::uint8_t address =
      InitAddress(record_.Protocol, record_.Addressing, record_.EcuAddress, record_.RequestAddress);
  MonoNs t = 0;
  if (!SendFiveBaudAddress(*port_, clock_, address, &TerminateFlag(), t)) return false;
  // The ECU now sends its sync byte and key bytes; W1to4 covers them.
  if (!Wait(t + Ms(kFiveBaudAddressMs) + Ms(record_.W1to4))) return false;
  const std::uint8_t invertedKw2 = static_cast<std::uint8_t>(~record_.Kw2);
  WriteFrame(&invertedKw2, 1);
  if (Errors() != 0) return false;
  if (!Wait(Now() + Ms(record_.W4))) return false;
  const std::uint8_t invertedAddress = static_cast<std::uint8_t>(~address);
  WriteFrame(&invertedAddress, 1);
  return Errors() == 0;
}

bool TxD::RunPass(MonoNs& mark) {
  vorta::RequestTable* table = record_.Table;
  const int count = table ? std::min<int>(table->Count, vorta::kMaxRequests) : 0;
  bool sent = false;
  for (int i = 0; i < count; ++i) {
    if (Terminated()) return false;
    vorta::RequestEntry& entry = table->Entries[i];
    if (GetSkip(entry) != 0) continue;  // read afresh: the receiver may have set it
    if (!Wait(mark + Ms(record_.P3))) return false;
    const std::size_t length = entry.Length;
    if (length + 1 > kMaxFrame) {
      // The frame writer's count is one byte: such a request cannot be sent.
      SetError(kErrWriteShort);
      return false;
    }
    std::uint8_t frame[kMaxFrame];
    std::memcpy(frame, entry.Data, length);
    frame[length] = Checksum(frame, length);
    std::atomic_ref<std::uint8_t>(entry.Data[length])
        .store(frame[length], std::memory_order_relaxed);
    WriteFrame(frame, length + 1);
    if (Errors() != 0) return false;
    mark = Now() + Ms(record_.ResponseWait);
    if (!Wait(mark)) return false;
    sent = true;
  }
  if (!sent) {
    // Nothing to send (empty table, or every request skipped): idle for P3
    // before RunFlag is looked at again rather than spin.
    mark = Now() + Ms(std::max(record_.P3, 1));
    if (!Wait(mark)) return false;
  }
  return true;
}

void TxD::CountWrite() {
  if (unechoed_.fetch_add(1) + 1 > kMaxUnechoedWrites) SetError(kErrNoEcho);
}

void TxD::WriteFrame(const std::uint8_t* bytes, std::size_t count) {
  if (count == 0 || !port_) return;
  if (count > kMaxFrame) {
    SetError(kErrWriteShort);
    return;
  }
  auto check = [this](SerialPort::WriteResult r) {
    if (r == SerialPort::WriteResult::Timeout) SetError(kErrWriteTimeout);
    if (r == SerialPort::WriteResult::Short) SetError(kErrWriteShort);
    return r == SerialPort::WriteResult::Ok;
  };
  if (record_.P4 == 0) {
    if (!check(port_->Write(bytes, count, kWriteTimeoutMs))) return;
    CountWrite();
    return;
  }
  // Byte by byte with a P4 gap after each, the last included. The frame
  // counts as one write towards the no-echo limit: its echo can only be
  // recognised once it is complete.
  for (std::size_t i = 0; i < count; ++i) {
    if (!check(port_->Write(bytes + i, 1, kWriteTimeoutMs))) return;
    if (i + 1 == count) CountWrite();
    if (!Wait(Now() + Ms(record_.P4))) return;
  }
}

void TxD::Stop() {
  if (receiver_) {
    receiver_->Terminate();
    receiver_->Join();
  }
  if (!receiver_ || !receiver_->EchoSeen()) SetError(kErrNoEcho);
  if (!receiver_ || !receiver_->ResponseSeen()) SetError(kErrNoResponse);
  receiver_.reset();
  if (port_) {
    port_->Close();
    port_.reset();
  }
}

}  // namespace kestrel
