#include "link/session.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace kestrel {

namespace {

bool Ended(std::uint16_t status) {
  return status == lsIdle || status == lsError;
}

// The one session thread object. Joined when the next session starts, when
// StopSession is called, and as a last resort when the program exits.
class SessionHolder {
 public:
  ~SessionHolder() { Stop(); }

  void Replace(std::unique_ptr<TxD> next) {
    std::unique_ptr<TxD> old;
    {
      std::lock_guard lock(mutex_);
      old = std::exchange(current_, std::move(next));
    }
    if (old) old->Join();  // it has written its final status: ends at once
  }

  bool StartCurrent() {
    std::lock_guard lock(mutex_);
    return current_ && current_->Start();
  }

  void Stop() {
    std::unique_ptr<TxD> old;
    {
      std::lock_guard lock(mutex_);
      old = std::move(current_);
    }
    if (old) {
      old->Terminate();
      old->Join();
    }
  }

 private:
  std::mutex mutex_;
  std::unique_ptr<TxD> current_;
};

SessionHolder& Holder() {
  // Constructed on first use, after the link globals, so it is destroyed
  // before them.
  static SessionHolder holder;
  return holder;
}

}  // namespace

SessionRecord MakeSessionRecord(vorta::RequestTable& table, std::int32_t responseWait) {
  const LinkSettingsRecord& s = LinkSettings;
  SessionRecord r;
  r.PortName = s.PortName;
  r.BaudRate = static_cast<std::uint16_t>(s.BaudRate & 0xFFFF);
  r.EcuAddress = s.EcuAddress;
  r.Kw2 = s.Kw2;
  r.W5 = s.W5;
  r.W1to4 = s.W1to4;
  r.W4 = s.W4;
  r.P3 = s.P3;
  r.ResponseWait = responseWait;
  r.P4 = s.P4;
  r.PWakeUpL = s.PWakeUpL;
  r.PWakeUpH = s.PWakeUpH;
  r.Protocol = s.Protocol;
  r.Addressing = s.Addressing;
  r.TesterAddress = s.TesterAddress;
  r.RequestAddress = s.RequestAddress;
  r.ResponseStore = ResponseStore;
  r.ErrorWord = &LinkError;
  r.StatusWord = &LinkStatus;
  r.RunFlag = &RunFlag;
  r.LogFlag = &LogEnabled;
  r.RecordFlag = &RecordEnabled;
  r.Table = &table;
  r.RecordFileName = &RecordFileName;
  r.PassCount = &PassCount;
  return r;
}

void WaitLinkIdle() {
  while (!Ended(LinkStatus.load())) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool WaitLinkIdle(int ms) {
  if (ms < 0) {
    WaitLinkIdle();
    return true;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!Ended(LinkStatus.load())) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void StartSession(const SessionRecord& record, std::uint8_t runFlag) {
  std::atomic<std::uint8_t>& run = record.RunFlag ? *record.RunFlag : RunFlag;
  std::atomic<std::uint16_t>& status = record.StatusWord ? *record.StatusWord : LinkStatus;
  // A running cyclic session ends after its current pass once RunFlag is
  // clear; only then is the flag set for the new session. Setting it before
  // the wait would keep the old session cycling and the wait would never end.
  run.store(0);
  while (!Ended(status.load())) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  run.store(runFlag);
  status.store(lsOpenPort);
  if (record.PassCount) record.PassCount->store(0);
  Holder().Replace(std::make_unique<TxD>(record));
  if (!Holder().StartCurrent()) {
    std::atomic<std::uint16_t>& error = record.ErrorWord ? *record.ErrorWord : LinkError;
    error.store(kErrTxEvent);
    status.store(lsError);
  }
}

void StartSession(vorta::RequestTable& table, std::int32_t responseWait, std::uint8_t runFlag) {
  StartSession(MakeSessionRecord(table, responseWait), runFlag);
}

void StopSession() {
  RunFlag.store(0);
  Holder().Stop();
}

}  // namespace kestrel
