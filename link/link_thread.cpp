#include "link/link_thread.h"

#include <system_error>

namespace kestrel {

LinkThread::~LinkThread() {
  // Derived destructors join; this is the last line of defence against
  // std::terminate for a thread that was never joined.
  if (thread_.joinable()) thread_.join();
}

bool LinkThread::Start() {
  if (thread_.joinable()) return false;
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void LinkThread::Terminate() {
  terminated_.store(true, std::memory_order_release);
  OnTerminate();
}

void LinkThread::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void LinkThread::Run() {
  Execute();
  finished_.store(true, std::memory_order_release);
}

}  // namespace kestrel
