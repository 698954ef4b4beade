// The exchange log: every frame on the wire as a line of text, in the file
// "Kadr/DDMMYY_HHMMSS.log" named after the session's start.
//
// Lines (code page 1251, CR LF line ends as in every text file the program
// writes), each frame as upper-case hex with one space after every byte:
//   echo of a request   " TxD(Эхо):82 13 F1 21 01 A8 "
//   ECU response        "      RxD:84 F1 13 61 01 12 34 F8 " and an empty line
//   checksum error      "          82 13 F1 21 01 00  Packet CRC Error!!!"
// Each write opens the file (creating it, and the folder, when missing),
// appends and closes it again, so nothing is lost if the program stops. The
// flag is looked at for every line, so logging can be switched at any time.
// A log that cannot be written is skipped without disturbing the session.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace kestrel {

inline constexpr const char* kKadrFolder = "Kadr";

class ExchangeLog {
 public:
  // enabled may be null: the log then always writes.
  ExchangeLog(std::string fileName, const std::atomic<std::uint8_t>* enabled);

  // "Kadr/050312_090702.log" for 5 March 2012, 9:07:02, from the values of
  // the broken-down time (not from locale texts).
  static std::string FileNameFor(const std::tm& when, std::string_view folder = kKadrFolder);
  // The same for the current local time.
  static std::string FileNameNow(std::string_view folder = kKadrFolder);

  // "82 13 F1 " for the bytes 0x82 0x13 0xF1.
  static std::string Hex(const std::uint8_t* bytes, std::size_t count);

  void Echo(const std::uint8_t* frame, std::size_t count);
  void Response(const std::uint8_t* frame, std::size_t count);
  void ChecksumError(const std::uint8_t* frame, std::size_t count);

  const std::string& FileName() const { return fileName_; }
  bool Enabled() const;

 private:
  void Append(const std::string& text);

  std::string fileName_;
  const std::atomic<std::uint8_t>* enabled_;
};

}  // namespace kestrel
