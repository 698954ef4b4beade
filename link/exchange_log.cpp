#include "link/exchange_log.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "common/cp1251.h"

namespace kestrel {

using namespace cp1251_literals;

namespace {

constexpr const char* kEol = "\r\n";

// The folder part of a path ("Kadr" of "Kadr/x.log"), or empty.
std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

ExchangeLog::ExchangeLog(std::string fileName, const std::atomic<std::uint8_t>* enabled)
    : fileName_(std::move(fileName)), enabled_(enabled) {}

std::string ExchangeLog::FileNameFor(const std::tm& when, std::string_view folder) {
  char name[32];
  std::snprintf(name, sizeof name, "%02d%02d%02d_%02d%02d%02d.log", when.tm_mday % 100,
                (when.tm_mon + 1) % 100, (when.tm_year + 1900) % 100, when.tm_hour % 100,
                when.tm_min % 100, when.tm_sec % 100);
  std::string path(folder);
  if (!path.empty()) path += '/';
  return path + name;
}

std::string ExchangeLog::FileNameNow(std::string_view folder) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return FileNameFor(local, folder);
}

std::string ExchangeLog::Hex(const std::uint8_t* bytes, std::size_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(count * 3);
  for (std::size_t i = 0; i < count; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
    out += ' ';
  }
  return out;
}

bool ExchangeLog::Enabled() const {
  return enabled_ == nullptr || enabled_->load(std::memory_order_relaxed) != 0;
}

void ExchangeLog::Echo(const std::uint8_t* frame, std::size_t count) {
  if (!Enabled()) return;
  Append(std::string(" TxD(Эхо):"_cpsv) + Hex(frame, count) + kEol);
}

void ExchangeLog::Response(const std::uint8_t* frame, std::size_t count) {
  if (!Enabled()) return;
  Append("      RxD:" + Hex(frame, count) + kEol + kEol);
}

void ExchangeLog::ChecksumError(const std::uint8_t* frame, std::size_t count) {
  if (!Enabled()) return;
  Append("          " + Hex(frame, count) + " Packet CRC Error!!!" + kEol);
}

void ExchangeLog::Append(const std::string& text) {
  std::FILE* f = std::fopen(fileName_.c_str(), "ab");
  if (f == nullptr && errno == ENOENT) {
    const std::string folder = FolderOf(fileName_);
    if (!folder.empty() && ::mkdir(folder.c_str(), 0777) == 0) {
      f = std::fopen(fileName_.c_str(), "ab");
    }
  }
  if (f == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

}  // namespace kestrel
