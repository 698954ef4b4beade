// Base of the link's two worker threads (TxD and TComThread).
//
// A derived class overrides Execute, the thread body. Start runs it on a new
// std::thread; Terminate asks the body to finish (it polls Terminated());
// Join waits for the end. Nothing is detached: the owner joins every thread
// it started, at the latest in its destructor. Derived classes must call
// Join() in their own destructor, before their members go away.
#pragma once

#include <atomic>
#include <thread>

namespace kestrel {

class LinkThread {
 public:
  LinkThread() = default;
  virtual ~LinkThread();
  LinkThread(const LinkThread&) = delete;
  LinkThread& operator=(const LinkThread&) = delete;

  // Starts the thread body. Returns false when no thread could be created.
  bool Start();

  // Asks the body to finish; also calls OnTerminate so the body can be woken.
  void Terminate();
  bool Terminated() const { return terminated_.load(std::memory_order_acquire); }

  // True once Execute has returned (the thread may still be unwinding).
  bool Finished() const { return finished_.load(std::memory_order_acquire); }

  // Waits until the thread has ended. Safe to call more than once, and on a
  // thread that never started.
  void Join();

 protected:
  virtual void Execute() = 0;
  virtual void OnTerminate() {}
  // The flag Terminate() sets, for waits that end early on it.
  const std::atomic<bool>& TerminateFlag() const { return terminated_; }

 private:
  void Run();

  std::thread thread_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
};

}  // namespace kestrel
