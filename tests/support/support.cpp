#include "tests/support/support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "common/cp1251.h"
#include "link/link_globals.h"

namespace kestrel::testing {

namespace fs = std::filesystem;

ScratchDir::ScratchDir(const std::string& prefix) {
  previous_ = fs::current_path();
  std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  path_ = pattern;
  fs::current_path(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::current_path(previous_, ec);
  fs::remove_all(path_, ec);
}

void WriteRaw(const fs::path& file, const std::string& bytes) {
  if (file.has_parent_path()) fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

std::string ReadRaw(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteCp1251(const fs::path& file, const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes += cp1251::FromUtf8(line) + "\r\n";
  WriteRaw(file, bytes);
}

std::vector<std::string> ReadLinesUtf8(const fs::path& file) {
  const std::string text = ReadRaw(file);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(cp1251::ToUtf8(line));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> ReadCrLfLines(const fs::path& file) {
  const std::string bytes = ReadRaw(file);
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t end = bytes.find("\r\n", at);
    if (end == std::string::npos) {
      ADD_FAILURE() << "a line without CR LF in " << file;
      break;
    }
    lines.push_back(bytes.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void ResetLinkForTest(const char* portName, std::uint8_t ecu, std::uint8_t tester) {
  LinkStatus = lsIdle;
  LinkError = 0;
  RunFlag = 0;
  LogEnabled = 0;
  RecordEnabled = 0;
  LinkSettingsRecord& s = LinkSettings;
  s.PortName = portName;
  s.EcuAddress = ecu;
  s.Kw2 = 0x8F;
  s.Addressing = kPhysical;
  s.TesterAddress = tester;
  s.RequestAddress = 0x33;
  s.BaudRate = 10400;
  s.W5 = 60;
  s.W1to4 = 100;
  s.W4 = 20;
  s.P3 = 12;
  s.P2 = 20;
  s.P4 = 0;
  s.PWakeUpL = 25;
  s.PWakeUpH = 25;
  s.Protocol = kProtoFast;
}

}  // namespace kestrel::testing
