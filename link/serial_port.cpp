#include "link/serial_port.h"

#include <mutex>
#include <utility>

#include "link/termios_port.h"

namespace kestrel {

namespace {

std::mutex& FactoryMutex() {
  static std::mutex m;
  return m;
}

PortFactory& Factory() {
  static PortFactory f;
  return f;
}

}  // namespace

PortFactory SetPortFactory(PortFactory factory) {
  std::lock_guard lock(FactoryMutex());
  return std::exchange(Factory(), std::move(factory));
}

std::unique_ptr<SerialPort> CreatePort() {
  PortFactory f;
  {
    std::lock_guard lock(FactoryMutex());
    f = Factory();
  }
  if (f) return f();
  return std::make_unique<TermiosPort>();
}

}  // namespace kestrel
