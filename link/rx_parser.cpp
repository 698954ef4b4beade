#include "link/rx_parser.h"

#include <algorithm>
#include <cstring>

#include "common/disk_path.h"
#include "link/checksum.h"
#include "link/recording.h"

namespace kestrel {

namespace {

constexpr std::size_t kMax14230Frame = 0x3F + 4;

std::uint8_t RequestByte(const vorta::RequestEntry& e, std::size_t i) {
  // The session writes the checksum behind a request's bytes while the
  // receiver scans the table; both go through atomic_ref.
  return std::atomic_ref<std::uint8_t>(const_cast<std::uint8_t&>(e.Data[i]))
      .load(std::memory_order_relaxed);
}

}  // namespace

RxParser::RxParser(const RxSettings& settings, const RxTargets& targets, std::string logFileName)
    : settings_(settings), targets_(targets), log_(std::move(logFileName), targets.LogFlag) {}

void RxParser::Reset() {
  write_ = read_ = 0;
  echoRun_ = 0;
  mode07Count_ = dtcCount_ = dtcStatusCount_ = 0;
  echoSeen_.store(false);
  responseSeen_.store(false);
}

void RxParser::Push(const std::uint8_t* data, std::size_t count) {
  constexpr std::size_t kCapacity = kRingSize - 1;  // write == read means empty
  if (count > kCapacity) {
    data += count - kCapacity;
    count = kCapacity;
  }
  const std::size_t unparsed = Unparsed();
  if (unparsed + count > kCapacity) Advance(unparsed + count - kCapacity);
  for (std::size_t i = 0; i < count; ++i) {
    ring_[write_] = data[i];
    write_ = static_cast<std::uint16_t>(write_ + 1);
  }
}

void RxParser::CopyOut(std::uint8_t* to, std::size_t count) const {
  for (std::size_t i = 0; i < count; ++i) to[i] = At(i);
}

void RxParser::SetError(std::uint16_t bits) {
  if (targets_.Error != nullptr) targets_.Error->fetch_or(bits);
}

void RxParser::Parse() {
  if (settings_.Protocol == kProto9141) {
    Parse9141();
  } else {
    Parse14230();
  }
}

void RxParser::Parse14230() {
  const std::uint8_t target =
      settings_.Addressing == kFunctional ? settings_.RequestAddress : settings_.EcuAddress;
  for (;;) {
    const std::size_t avail = Unparsed();
    if (avail < 3) return;
    const bool echo = At(1) == target && At(2) == settings_.TesterAddress;
    const bool response =
        !echo && At(1) == settings_.TesterAddress && At(2) == settings_.EcuAddress;
    const std::uint8_t format = At(0);
    if ((!echo && !response) || format < 0x80) {
      Advance(1);
      continue;
    }
    const std::size_t length = format & 0x3F;
    const std::size_t n = length + 4;
    if (avail < n) return;  // the rest has not arrived yet
    TakeFrame(n, echo, true, static_cast<int>(length));
  }
}

void RxParser::Parse9141() {
  const std::uint8_t tester = settings_.TesterAddress;
  auto echoHeader = [&](std::size_t p) {
    return At(p) == 0x68 && At(p + 1) == 0x6A && At(p + 2) == tester;
  };
  auto responseHeader = [&](std::size_t p) { return At(p) == 0x48 && At(p + 1) == 0x6B; };
  for (;;) {
    const std::size_t avail = Unparsed();
    if (avail < 8) return;
    const bool echo = echoHeader(0);
    if (!echo && !responseHeader(0)) {
      Advance(1);
      continue;
    }
    // The frame ends where the next header begins.
    std::size_t n = 0;
    for (std::size_t i = 0; i + 8 <= avail && i + 5 <= kMax9141Frame; ++i) {
      if (echoHeader(5 + i) || responseHeader(5 + i)) {
        n = i + 5;
        break;
      }
    }
    if (n == 0) {
      // No next header yet. Once every length up to the longest frame has
      // been looked at, this header was noise: skip it and go on.
      if (avail >= kMax9141Frame + 3) {
        Advance(1);
        continue;
      }
      return;
    }
    // Noise between a frame and the next header (line noise before an ECU
    // answer, most often) is taken into the frame and spoils its checksum.
    // Then the longest prefix of five bytes or more that ends in its own
    // checksum is the frame and the rest is skipped as noise; only without
    // such a prefix is the frame a checksum error. The longest, not the
    // shortest: the first five bytes of some answers always sum to their
    // fifth (48 6B 10 41 04, the ECU 10's answer about PID 04), so the
    // shortest would cut such an answer off before its data every time.
    std::size_t frame = n;
    std::uint8_t sums[kMax9141Frame];  // sums[i]: the sum of bytes 0 .. i - 1
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i + 1 < n; ++i) {
      sums[i] = sum;
      sum = static_cast<std::uint8_t>(sum + At(i));
    }
    if (sum != At(n - 1)) {
      for (std::size_t i = n - 2; i >= 4; --i) {
        if (sums[i] == At(i)) {
          frame = i + 1;
          break;
        }
      }
    }
    // A response is filed only when it comes from the ECU in use.
    TakeFrame(frame, echo, At(2) == settings_.EcuAddress, static_cast<int>(frame) - 4);
    Advance(n - frame);
  }
}

void RxParser::TakeFrame(std::size_t n, bool echo, bool file, int d) {
  std::uint8_t frame[std::max(kMax14230Frame, kMax9141Frame)];
  CopyOut(frame, n);
  Advance(n);
  if (Checksum(frame, n - 1) != frame[n - 1]) {
    log_.ChecksumError(frame, n);
  } else if (echo) {
    Echo(frame, n);
  } else {
    Response(frame, n, file, d);
  }
}

void RxParser::Echo(const std::uint8_t* frame, std::size_t n) {
  log_.Echo(frame, n);
  echoSeen_.store(true, std::memory_order_release);
  ++echoRun_;
  if (targets_.UnechoedWrites != nullptr) targets_.UnechoedWrites->store(0);
  if (echoRun_ > kMaxEchoRun) SetError(kErrNoResponse);
}

void RxParser::Response(const std::uint8_t* frame, std::size_t n, bool file, int d) {
  if (targets_.RecordFlag != nullptr && targets_.RecordFile != nullptr &&
      targets_.RecordFlag->load(std::memory_order_relaxed) != 0) {
    // The name is the program's (code page 1251); the file is found under
    // its name on disk.
    AppendRtdRecord(ToDiskPath(targets_.RecordFile->Get()), frame, n);
  }
  responseSeen_.store(true, std::memory_order_release);
  log_.Response(frame, n);
  echoRun_ = 0;
  if (file) File(frame, d);
}

void RxParser::SkipRequests(std::uint8_t service, int lid) {
  vorta::RequestTable* table = targets_.Table;
  if (table == nullptr) return;
  const int count = std::min<int>(table->Count, vorta::kMaxRequests);
  for (int i = 0; i < count; ++i) {
    vorta::RequestEntry& e = table->Entries[i];
    if (RequestByte(e, 3) != service) continue;
    if (lid >= 0 && RequestByte(e, 4) != lid) continue;
    SetSkip(e, 1);
  }
}

void RxParser::File(const std::uint8_t* frame, int d) {
  // frame[3] is the service identifier, frame[3 + d] the checksum. Identifier
  // bytes that choose a slot must lie before the checksum.
  if (d < 1) return;
  vorta::StoreArea area{};
  std::size_t slot = 0;
  int first = 0;  // frame byte of the first data byte
  switch (frame[3]) {
    case 0x41:
      if (d < 2) return;
      area = vorta::kAreaMode01, slot = frame[4], first = 5;
      break;
    case 0x42:
      if (d < 3) return;
      area = vorta::kAreaMode02, slot = vorta::Mode02Slot(frame[4], frame[5]), first = 6;
      break;
    case 0x43:
    case 0x53:
      area = vorta::kAreaDtc, slot = dtcCount_++, first = 4;
      break;
    case 0x47:
      area = vorta::kAreaMode07, slot = mode07Count_++, first = 4;
      break;
    case 0x49:
      if (d < 3 || frame[4] > 0x0F || frame[5] > 15) return;
      area = vorta::kAreaMode09, slot = vorta::Mode09Slot(frame[4], frame[5]), first = 6;
      break;
    case 0x50:
      SkipRequests(0x10, -1);
      return;
    case 0x58:
    case 0xE3:
      area = vorta::kAreaDtcStatus, slot = dtcStatusCount_++, first = 4;
      break;
    case 0x61:
      if (d < 2) return;
      area = vorta::kAreaLocal21, slot = frame[4], first = 5;
      break;
    case 0x62:
      if (d < 3) return;
      area = vorta::kAreaCommon22, slot = vorta::Common22Slot(frame[4], frame[5]), first = 6;
      break;
    case 0x70:
      if (d < 2) return;
      area = vorta::kAreaControl30, slot = frame[4], first = 5;
      break;
    default:
      return;  // negative responses and services nobody reads
  }
  if (targets_.Store != nullptr) {
    const int count = 3 + d - first;  // from the first data byte up to the checksum
    vorta::FileSlotBytes(vorta::Slot(targets_.Store, area, slot), frame + first,
                         static_cast<std::size_t>(std::max(count, 0)));
  }
  // An acknowledged input/output control is not sent again.
  if (frame[3] == 0x70) SkipRequests(0x30, frame[4]);
}

}  // namespace kestrel
