#include "link/port_map.h"

#include <unistd.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

#include "common/text_lines.h"

namespace kestrel {

namespace {

std::mutex& OverrideMutex() {
  static std::mutex m;
  return m;
}

std::map<std::string, std::string>& Overrides() {
  static std::map<std::string, std::string> m;
  return m;
}

// Overrides are keyed by the upper-case name so "com2" and "COM2" meet.
std::string Key(std::string_view name) {
  std::string k(name);
  for (char& c : k) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return k;
}

std::string Trim(std::string s) {
  const char* blanks = " \t\r\n";
  const auto first = s.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(blanks);
  return s.substr(first, last - first + 1);
}

// Line n of ports.ini (any line ends), or empty.
std::string MapFileLine(int n) {
  std::ifstream in(kPortMapFile, std::ios::binary);
  if (!in) return {};
  const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  LineReader lines(content);
  std::string_view line;
  for (int i = 1; i <= n; ++i) {
    if (lines.Eof()) return {};
    line = lines.Next();
  }
  return Trim(std::string(line));
}

}  // namespace

int ComNumber(std::string_view name) {
  if (name.size() < 4 || name.size() > 6) return 0;
  if (Key(name.substr(0, 3)) != "COM") return 0;
  int n = 0;
  for (char c : name.substr(3)) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n >= 1 && n <= 255 ? n : 0;
}

std::string DefaultPortDevice(int n) {
  return "/dev/ttyUSB" + std::to_string(n - 1);
}

std::string PortDevice(std::string_view name) {
  {
    std::lock_guard lock(OverrideMutex());
    const auto it = Overrides().find(Key(name));
    if (it != Overrides().end()) return it->second;
  }
  const int n = ComNumber(name);
  if (n == 0) return std::string(name);
  std::string device = MapFileLine(n);
  return device.empty() ? DefaultPortDevice(n) : device;
}

bool PortDeviceExists(std::string_view name) {
  return access(PortDevice(name).c_str(), F_OK) == 0;
}

void SetPortDeviceOverride(std::string_view name, std::string device) {
  std::lock_guard lock(OverrideMutex());
  if (device.empty()) {
    Overrides().erase(Key(name));
  } else {
    Overrides()[Key(name)] = std::move(device);
  }
}

void ClearPortDeviceOverrides() {
  std::lock_guard lock(OverrideMutex());
  Overrides().clear();
}

}  // namespace kestrel
