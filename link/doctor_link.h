// The link half of the adapter check (kestrel-cli doctor), on an open port:
// the adapter's echo, the configuration's initialisation and its first
// request. Each step reads the line itself, byte by byte with the arrival
// times, so it can say which part of the exchange failed, which a session
// (which never reads during its initialisation) cannot.
//
// The initialisations are driven as the session drives them (kline_init.h):
// the wake-up pattern and the 5-baud address as breaks, the inverted key byte
// 2 from the configuration's KW2, then the inverted address. Only where the
// line cannot carry breaks (a pseudo-terminal, behind which a simulated ECU
// can only see bytes and the line speed) the address goes as one byte with
// the line at 5 baud, through the caller's line-speed function.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "link/doctor_report.h"
#include "link/link_clock.h"
#include "link/link_globals.h"
#include "link/serial_port.h"

namespace kestrel::doctor {

// What the link steps need of a configuration.
struct LinkCheckSettings {
  std::uint32_t BaudRate = 10400;
  std::uint8_t Protocol = kProtoFast;
  std::uint8_t Addressing = kPhysical;
  std::uint8_t EcuAddress = 0x10;
  std::uint8_t TesterAddress = 0xF1;
  std::uint8_t RequestAddress = 0x33;
  std::uint8_t Kw2 = 0x8F;
  int W5 = 300, W1to4 = 120, W4 = 50, P2 = 80, P3 = 60, P4 = 0, PWakeUpL = 25, PWakeUpH = 25;
  // The request the first step after the initialisation sends, without its
  // checksum; empty when the configuration has none that only reads.
  std::vector<std::uint8_t> FirstRequest;
};

// From the link settings and the request lists of a loaded configuration.
// The first request is the first of the live-data list (else of the
// dashboard, ECU information and trouble-code reading lists) whose service
// only reads: never a clearing, actuator or control request.
LinkCheckSettings CheckSettingsFrom(const LinkSettingsRecord& link,
                                    const vorta::RequestTable (&tables)[kRequestTableCount]);

// Sets the port's line speed; true when the port took it. Given only for a
// line that cannot carry breaks.
using LineSpeedFunction = std::function<bool(std::uint32_t baud)>;

// How many bytes the echo step sends.
inline constexpr int kEchoBytes = 50;

struct EchoFigures {
  int Sent = 0;
  int Returned = 0;   // came back, identical or not
  int Corrupted = 0;  // came back different
  double MedianMs = 0;
  double WorstMs = 0;
};

// Writes kEchoBytes bytes one at a time and waits for each to come back
// (a plain K-Line adapter returns every byte it puts on the line): passes
// when all return unchanged. The delay from the write to the echo is
// measured: median and worst.
StepReport EchoStep(SerialPort& port, LinkClock& clock, const std::atomic<bool>* abort,
                    EchoFigures* figures = nullptr);

// The configuration's initialisation after W5 of quiet; fails naming the
// part that failed: for fast init no answer to StartCommunication or a
// negative one; for 5-baud and ISO 9141 no sync byte 0x55, key bytes that do
// not match the configuration's KW2 (or arrive after W1to4, when the session
// already answers), no inverted address.
StepReport InitStep(SerialPort& port, LinkClock& clock, const LinkCheckSettings& settings,
                    const LineSpeedFunction& lineSpeed, const std::atomic<bool>* abort);

// The first request, P3 after the initialisation: passes with a positive
// answer that begins within P2 of the end of the request.
StepReport FirstRequestStep(SerialPort& port, LinkClock& clock, const LinkCheckSettings& settings,
                            const std::atomic<bool>* abort);

// The three in order; a step whose predecessor failed is reported NotRun.
std::vector<StepReport> RunLinkSteps(SerialPort& port, LinkClock& clock,
                                     const LinkCheckSettings& settings,
                                     const LineSpeedFunction& lineSpeed,
                                     const std::atomic<bool>* abort);

// An ECU's answer frame, as the first request step reads it.
struct AnswerFrame {
  bool Complete = false;           // a whole frame lies in the bytes
  bool ChecksumOk = false;         // and its checksum matches
  std::size_t Length = 0;          // bytes of the frame
  std::vector<std::uint8_t> Data;  // service identifier onwards, without the checksum
};

// The frame at the start of `bytes`: ISO 14230 (format byte with the length
// in its low six bits, or a length byte after the addresses) or ISO 9141
// (48 6B, source, data, checksum, ended by the end of the bytes).
AnswerFrame ParseAnswer(const std::vector<std::uint8_t>& bytes, bool iso9141);

}  // namespace kestrel::doctor
