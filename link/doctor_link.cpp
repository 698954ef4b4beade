#include "link/doctor_link.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "common/cp1251.h"
#include "link/checksum.h"
#include "link/kline_init.h"

namespace kestrel::doctor {

using namespace cp1251_literals;

std::string HexByte(std::uint8_t b) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", b);
  return text;
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t count) {
  std::string s;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) s += ' ';
    s += HexByte(bytes[i]);
  }
  return s;
}

std::string Millis(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", ms < 0 ? 0.0 : ms);
  std::string s = text;
  std::replace(s.begin(), s.end(), '.', ',');
  return s;
}

namespace {

constexpr int kEchoWaitMs = 200;      // a byte's echo, even through a slow USB adapter
constexpr int kEchoGiveUpAfter = 3;   // bytes without any echo at the start: no echo at all
constexpr int kAnswerWaitMs = 1000;   // an ECU's answer, however slow
constexpr int kPendingWaitMs = 5000;  // after "response pending" (7F xx 78)
constexpr int kIso9141QuietMs = 40;   // an ISO 9141 frame has ended (its bytes come P1 apart)
constexpr int kSyncWaitMs = 1000;     // sync and key bytes after the 5-baud address
constexpr int kInvertedAddressWaitMs = 1000;

// The echo step's bytes: every bit pattern a wrong speed or a noisy line
// would garble. Never 0xCC or 0xEF second: with the first after a long quiet
// time that pair is how a simulated ECU without breaks recognises Kestrel's
// own 5-baud initialisation.
constexpr std::uint8_t kEchoPattern[] = {0x55, 0xAA, 0x00, 0xFF, 0x0F, 0xF0, 0x33,
                                         0x5A, 0xA5, 0x01, 0x80, 0x7F, 0xFE, 0x3C,
                                         0xC3, 0x96, 0x69, 0x10, 0x08, 0xE7};

double ToMs(MonoNs ns) {
  return static_cast<double>(ns) / static_cast<double>(kNsPerMs);
}

// The bytes the line brings, each with the time it was read.
class Reader {
 public:
  Reader(SerialPort& port, LinkClock& clock, const std::atomic<bool>* abort)
      : port_(port), clock_(clock), abort_(abort) {}

  std::vector<std::uint8_t> bytes;
  std::vector<MonoNs> times;

  bool Gone() const { return gone_; }
  bool Aborted() const { return abort_ != nullptr && abort_->load(); }

  // Reads until `want` bytes are held, the deadline passes or the port goes.
  void Until(std::size_t want, MonoNs deadline) {
    while (bytes.size() < want && ReadOnce(deadline)) {
    }
  }

  // Reads until nothing has come for `quiet`, the deadline passes or the port goes.
  void UntilQuiet(MonoNs quiet, MonoNs deadline) {
    for (;;) {
      const MonoNs last = times.empty() ? clock_.Now() : times.back();
      if (!ReadOnce(std::min(deadline, std::max(last, clock_.Now()) + quiet))) return;
    }
  }

  // Forgets what has arrived so far, including what the port still holds.
  void Clear() {
    std::uint8_t buffer[256];
    while (!gone_ && port_.Queued() > 0 && port_.Read(buffer, sizeof buffer) > 0) {
    }
    bytes.clear();
    times.clear();
  }

  void DropFront(std::size_t n) {
    n = std::min(n, bytes.size());
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    times.erase(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(n));
  }

 private:
  // Waits until the deadline for input and reads what is queued; false when
  // nothing came (time-out, abort, or the port gone).
  bool ReadOnce(MonoNs deadline) {
    for (;;) {
      if (gone_ || Aborted()) return false;
      const MonoNs left = deadline - clock_.Now();
      if (left <= 0) return false;
      const int ms = static_cast<int>(std::min<MonoNs>((left + kNsPerMs - 1) / kNsPerMs, 100));
      const SerialPort::WaitResult r = port_.WaitInput(ms);
      if (r == SerialPort::WaitResult::Error) {
        gone_ = true;
        return false;
      }
      if (r != SerialPort::WaitResult::Ready) continue;
      std::uint8_t buffer[256];
      const int n = port_.Read(buffer, sizeof buffer);
      if (n < 0) {
        gone_ = true;
        return false;
      }
      if (n == 0) continue;
      const MonoNs now = clock_.Now();
      for (int i = 0; i < n; ++i) {
        bytes.push_back(buffer[i]);
        times.push_back(now);
      }
      return true;
    }
  }

  SerialPort& port_;
  LinkClock& clock_;
  const std::atomic<bool>* abort_;
  bool gone_ = false;
};

const std::string kGoneAdvice =
    "Проверьте USB-кабель и разъем адаптера и запустите проверку снова; если адаптер пропадает при запуске двигателя, ему не хватает питания или мешают помехи."_cp;

StepReport Gone(std::string title, const std::string& during) {
  return Report(std::move(title), Verdict::Failed, "адаптер пропал (порт закрыт) "_cp + during,
                kGoneAdvice);
}

StepReport Interrupted(std::string title) {
  return Report(std::move(title), Verdict::NotRun, "проверка прервана"_cp);
}

// Writes a frame as the session does: in one write, or byte by byte with P4
// after each. Returns the time the last byte had left, or -1 on failure.
MonoNs WriteFrame(SerialPort& port, LinkClock& clock, const std::uint8_t* bytes, std::size_t count,
                  int p4, const std::atomic<bool>* abort) {
  if (p4 <= 0) {
    if (port.Write(bytes, count, 2000) != SerialPort::WriteResult::Ok) return -1;
    return clock.Now();
  }
  MonoNs end = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (port.Write(bytes + i, 1, 2000) != SerialPort::WriteResult::Ok) return -1;
    end = clock.Now();
    if (!clock.WaitUntil(end + Ms(p4), abort)) return -1;
  }
  return end;
}

// Drops the echo of `sent` from the front of what was read, as far as it
// came back. Returns the time its last byte arrived, or `fallback`.
MonoNs DropEcho(Reader& reader, const std::uint8_t* sent, std::size_t count, MonoNs fallback) {
  std::size_t n = 0;
  while (n < count && n < reader.bytes.size() && reader.bytes[n] == sent[n]) ++n;
  const MonoNs end = n > 0 ? reader.times[n - 1] : fallback;
  reader.DropFront(n);
  return end;
}

std::string ProtocolName(std::uint8_t protocol) {
  switch (protocol) {
    case kProtoFast:
      return "быстрая, ISO 14230"_cp;
    case kProto5Baud:
      return "5 бод, ISO 14230"_cp;
    default:
      return "ISO 9141"_cp;
  }
}

// "Инициализация (5 бод, ISO 14230)".
std::string InitTitle(std::uint8_t protocol) {
  return std::string(step_titles::kInit) + " (" + ProtocolName(protocol) + ")";
}

// The answer to a request: the frame after the echo, and when it began.
struct Answer {
  bool Gone = false;
  AnswerFrame Frame;
  std::vector<std::uint8_t> Raw;  // what came after the echo
  MonoNs EchoEnd = 0;             // the request's last byte came back (or was written)
  MonoNs Start = 0;               // the answer's first byte arrived
  double AfterMs() const { return ToMs(Start - EchoEnd); }
};

// Reads the echo of `sent` (written, its last byte gone, at `written`) and
// the answer up to `deadline`.
Answer ReadAnswer(Reader& reader, LinkClock& clock, const std::uint8_t* sent, std::size_t count,
                  MonoNs written, MonoNs deadline, bool iso9141) {
  Answer a;
  a.EchoEnd = written;
  bool echoDropped = false;
  bool settled = false;  // ISO 9141: the last read ended in quiet
  for (;;) {
    if (!echoDropped && (reader.bytes.size() >= count || clock.Now() >= deadline || reader.Gone() ||
                         reader.Aborted())) {
      a.EchoEnd = DropEcho(reader, sent, count, written);
      echoDropped = true;
    }
    if (echoDropped) {
      // Noise before the frame: bytes that cannot begin one.
      std::size_t skip = 0;
      while (skip < reader.bytes.size() &&
             (iso9141 ? reader.bytes[skip] != 0x48 : (reader.bytes[skip] & 0x80) == 0)) {
        ++skip;
      }
      reader.DropFront(skip);
      a.Frame = ParseAnswer(reader.bytes, iso9141);
      const bool ended = iso9141 ? settled && !reader.bytes.empty() : a.Frame.Complete;
      if (ended) break;
    }
    if (reader.Gone() || reader.Aborted() || clock.Now() >= deadline) break;
    if (iso9141 && !reader.bytes.empty()) {
      reader.UntilQuiet(Ms(kIso9141QuietMs), deadline);
      settled = true;
    } else {
      reader.Until(reader.bytes.size() + 1, deadline);
      settled = false;
    }
  }
  a.Gone = reader.Gone();
  a.Raw = reader.bytes;
  a.Start = reader.times.empty() ? a.EchoEnd : reader.times.front();
  return a;
}

std::string NegativeText(std::uint8_t code) {
  switch (code) {
    case 0x10:
      return "общий отказ"_cp;
    case 0x11:
      return "услуга не поддерживается"_cp;
    case 0x12:
      return "параметр не поддерживается"_cp;
    case 0x21:
      return "ЭБУ занят, повторите запрос"_cp;
    case 0x22:
      return "условия не выполнены"_cp;
    case 0x31:
      return "значение вне допустимого диапазона"_cp;
    case 0x33:
      return "доступ закрыт"_cp;
    default:
      return "код "_cp + HexByte(code);
  }
}

bool ReadsOnly(std::uint8_t service) {
  switch (service) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x07:
    case 0x09:
    case 0x13:
    case 0x17:
    case 0x18:
    case 0x1A:
    case 0x21:
    case 0x22:
      return true;
    default:
      return false;
  }
}

std::size_t ServiceIndex(const std::uint8_t* data, std::size_t length, bool iso9141) {
  if (iso9141) return 3;
  return length > 0 && (data[0] & 0x3F) == 0 ? 4 : 3;
}

// ----------------------------------------------------------------- initialisations

StepReport FastInit(SerialPort& port, LinkClock& clock, Reader& reader, const LinkCheckSettings& s,
                    const std::string& title, const std::atomic<bool>* abort) {
  if (!SendWakeUpPattern(port, clock, s.PWakeUpL, s.PWakeUpH, abort)) return Interrupted(title);
  const std::array<std::uint8_t, 5> frame =
      StartCommunicationFrame(s.Addressing, s.EcuAddress, s.RequestAddress, s.TesterAddress);
  const MonoNs written = WriteFrame(port, clock, frame.data(), frame.size(), s.P4, abort);
  if (written < 0) {
    if (reader.Aborted()) return Interrupted(title);
    return Report(title, Verdict::Failed, "запрос StartCommunication не записан в порт"_cp,
                  kGoneAdvice);
  }
  const Answer a = ReadAnswer(reader, clock, frame.data(), frame.size(), written,
                              written + Ms(kAnswerWaitMs), false);
  if (reader.Aborted()) return Interrupted(title);
  const std::string sent = "StartCommunication ("_cp + HexBytes(frame.data(), frame.size()) + ")";
  if (a.Raw.empty() && a.Gone) return Gone(title, "после запроса StartCommunication"_cp);
  if (a.Raw.empty()) {
    return Report(
        title, Verdict::Failed,
        "нет ответа на "_cp + sent + " за "_cp + std::to_string(kAnswerWaitMs) + " мс"_cp,
        "ЭБУ не проснулся. Включите зажигание. Проверьте в настройках адрес ЭБУ ("_cp +
            HexByte(s.EcuAddress) +
            ") и время пробуждения (PWakeUpL, PWakeUpH); возможно, этот ЭБУ понимает только инициализацию на 5 бод или ISO 9141: выберите его конфигурацию в каталоге."_cp);
  }
  if (!a.Frame.Complete || !a.Frame.ChecksumOk) {
    return Report(title, Verdict::Failed,
                  "ответ на StartCommunication искажен: "_cp + HexBytes(a.Raw),
                  "Помехи на линии K-Line: проверьте провод и массу адаптера."_cp);
  }
  const std::vector<std::uint8_t>& d = a.Frame.Data;
  if (d.size() >= 3 && d[0] == 0x7F) {
    return Report(
        title, Verdict::Failed,
        "отрицательный ответ на StartCommunication: "_cp + HexBytes(d) + " ("_cp +
            NegativeText(d[2]) + ")",
        "ЭБУ отказал в сеансе: проверьте адреса ЭБУ и тестера и способ адресации в настройках."_cp);
  }
  if (d.empty() || d[0] != 0xC1) {
    return Report(title, Verdict::Failed,
                  "неожиданный ответ на StartCommunication: "_cp + HexBytes(d),
                  "Проверьте адреса ЭБУ и тестера в настройках."_cp);
  }
  std::string found = "ответ "_cp + HexBytes(d) + " через "_cp + Millis(a.AfterMs()) + " мс"_cp;
  if (d.size() >= 3) found += ", ключевые байты "_cp + HexBytes(d.data() + 1, 2);
  return Report(title, Verdict::Passed, found);
}

StepReport FiveBaudInit(SerialPort& port, LinkClock& clock, Reader& reader,
                        const LinkCheckSettings& s, const LineSpeedFunction& lineSpeed,
                        const std::string& title, const std::atomic<bool>* abort) {
  const std::uint8_t address =
      InitAddress(s.Protocol, s.Addressing, s.EcuAddress, s.RequestAddress);
  const std::string addressText = "адрес "_cp + HexByte(address) + " на 5 бод"_cp;
  MonoNs addressEnd = 0;
  if (lineSpeed) {
    // No line states on this line: the address as one byte at 5 baud.
    if (!lineSpeed(5)) {
      return Report(title, Verdict::Failed, "порт не принял скорость 5 бод"_cp,
                    "Этот порт не передает адрес на 5 бод."_cp);
    }
    const bool written = port.Write(&address, 1, 2500) == SerialPort::WriteResult::Ok;
    lineSpeed(s.BaudRate);
    addressEnd = clock.Now();
    if (!written) {
      return Report(title, Verdict::Failed, "адрес не записан в порт"_cp, kGoneAdvice);
    }
  } else {
    MonoNs start = 0;
    if (!SendFiveBaudAddress(port, clock, address, abort, start)) return Interrupted(title);
    addressEnd = start + Ms(kFiveBaudAddressMs);
  }

  // The sync byte and the two key bytes (after the address's own echo, when
  // it went as a byte).
  const MonoNs deadline = addressEnd + Ms(kSyncWaitMs);
  reader.Until(1, deadline);
  if (lineSpeed && !reader.bytes.empty() && reader.bytes.front() == address) reader.DropFront(1);
  reader.Until(3, deadline);
  if (reader.Aborted()) return Interrupted(title);
  const std::vector<std::uint8_t>& b = reader.bytes;
  if (b.empty()) {
    if (reader.Gone()) return Gone(title, "после адреса"_cp);
    return Report(
        title, Verdict::Failed,
        "нет байта синхронизации 55 в течение "_cp + std::to_string(kSyncWaitMs) +
            " мс после адреса "_cp + HexByte(address) + " (5 бод)"_cp,
        "ЭБУ не ответил на адрес. Включите зажигание. Проверьте в настройках протокол и адрес ("_cp +
            HexByte(address) +
            "); возможно, этот ЭБУ понимает только быструю инициализацию: выберите его конфигурацию в каталоге."_cp);
  }
  if (b[0] != 0x55) {
    return Report(title, Verdict::Failed, "вместо байта синхронизации 55 пришло: "_cp + HexBytes(b),
                  "Помехи на линии K-Line или адаптер не держит скорость "_cp +
                      std::to_string(s.BaudRate) + " бод: проверьте провод и массу адаптера."_cp);
  }
  const double syncMs = ToMs(reader.times[0] - addressEnd);
  if (b.size() < 3) {
    if (reader.Gone()) return Gone(title, "после байта синхронизации"_cp);
    return Report(title, Verdict::Failed,
                  "после байта синхронизации нет ключевых байтов (пришло: "_cp + HexBytes(b) + ")",
                  "Помехи на линии K-Line: проверьте провод и массу адаптера."_cp);
  }
  const std::uint8_t kb1 = b[1], kb2 = b[2];
  const std::string keys = HexByte(kb1) + " " + HexByte(kb2);
  if (kb2 != s.Kw2) {
    return Report(title, Verdict::Failed,
                  "неожиданные ключевые байты "_cp + keys + ": в конфигурации KW2 = "_cp +
                      HexByte(s.Kw2) + ", программа ответит "_cp +
                      HexByte(static_cast<std::uint8_t>(~s.Kw2)) + " вместо "_cp +
                      HexByte(static_cast<std::uint8_t>(~kb2)) + " и ЭБУ не откроет сеанс"_cp,
                  "Укажите в настройках KW2 = "_cp + HexByte(kb2) +
                      " или выберите в каталоге конфигурацию этого ЭБУ."_cp);
  }
  const double kb2Ms = ToMs(reader.times[2] - addressEnd);
  if (kb2Ms > s.W1to4) {
    return Report(title, Verdict::Failed,
                  "ключевой байт 2 пришел через "_cp + Millis(kb2Ms) +
                      " мс после адреса, а программа отвечает через W1to4 = "_cp +
                      std::to_string(s.W1to4) + " мс, раньше него"_cp,
                  "Увеличьте W1to4 в настройках до "_cp +
                      std::to_string(static_cast<int>(kb2Ms) + 30) + " мс."_cp);
  }

  // As the session: the inverted KW2 W1to4 after the address, then, W4
  // later, the inverted address; the ECU answers the first with its
  // inverted address.
  if (!clock.WaitUntil(addressEnd + Ms(s.W1to4), abort)) return Interrupted(title);
  reader.Clear();
  const std::uint8_t invertedKw2 = static_cast<std::uint8_t>(~s.Kw2);
  const MonoNs kw2Written = WriteFrame(port, clock, &invertedKw2, 1, 0, abort);
  if (kw2Written < 0)
    return Report(title, Verdict::Failed, "байт не записан в порт"_cp, kGoneAdvice);
  const std::uint8_t want = static_cast<std::uint8_t>(~address);
  reader.Until(1, kw2Written + Ms(kInvertedAddressWaitMs));
  DropEcho(reader, &invertedKw2, 1, kw2Written);
  reader.Until(1, kw2Written + Ms(kInvertedAddressWaitMs));
  if (reader.Aborted()) return Interrupted(title);
  if (reader.bytes.empty()) {
    if (reader.Gone()) return Gone(title, "после ответа на ключевые байты"_cp);
    return Report(
        title, Verdict::Failed,
        "нет инвертированного адреса "_cp + HexByte(want) + " от ЭБУ после байта "_cp +
            HexByte(invertedKw2) + " (синхронизация и ключевые байты "_cp + keys + " пришли)"_cp,
        "ЭБУ не принял ответ на ключевые байты: проверьте W1to4 и W4 в настройках и провод K-Line."_cp);
  }
  if (reader.bytes.front() != want) {
    return Report(title, Verdict::Failed,
                  "вместо инвертированного адреса "_cp + HexByte(want) + " пришло: "_cp +
                      HexBytes(reader.bytes),
                  "Помехи на линии K-Line: проверьте провод и массу адаптера."_cp);
  }
  const double invMs = ToMs(reader.times.front() - kw2Written);
  if (!clock.WaitUntil(clock.Now() + Ms(s.W4), abort)) return Interrupted(title);
  reader.Clear();
  const MonoNs addressWritten = WriteFrame(port, clock, &want, 1, 0, abort);
  if (addressWritten >= 0) {
    reader.Until(1, addressWritten + Ms(kEchoWaitMs));
    DropEcho(reader, &want, 1, addressWritten);
  }
  return Report(title, Verdict::Passed,
                addressText + ": синхронизация 55 через "_cp + Millis(syncMs) +
                    " мс, ключевые байты "_cp + keys + ", инвертированный адрес "_cp +
                    HexByte(want) + " через "_cp + Millis(invMs) + " мс"_cp);
}

}  // namespace

AnswerFrame ParseAnswer(const std::vector<std::uint8_t>& b, bool iso9141) {
  AnswerFrame f;
  if (iso9141) {
    if (b.size() < 5 || b[0] != 0x48) return f;
    f.Complete = true;
    // The frame ends at the first checksum that matches before another
    // header or the end; without one, all the bytes are the frame.
    f.Length = b.size();
    for (std::size_t n = 5; n <= b.size(); ++n) {
      if (Checksum(b.data(), n - 1) == b[n - 1] && (n == b.size() || b[n] == 0x48)) {
        f.Length = n;
        f.ChecksumOk = true;
        break;
      }
    }
    f.Data.assign(b.begin() + 3, b.begin() + static_cast<std::ptrdiff_t>(f.Length) - 1);
    return f;
  }
  if (b.size() < 4 || (b[0] & 0x80) == 0) return f;
  const std::size_t header = (b[0] & 0x3F) != 0 ? 3 : 4;
  const std::size_t length = (b[0] & 0x3F) != 0 ? (b[0] & 0x3Fu) : b[3];
  const std::size_t total = header + length + 1;
  if (b.size() < total) return f;
  f.Complete = true;
  f.Length = total;
  f.ChecksumOk = Checksum(b.data(), total - 1) == b[total - 1];
  f.Data.assign(b.begin() + static_cast<std::ptrdiff_t>(header),
                b.begin() + static_cast<std::ptrdiff_t>(total) - 1);
  return f;
}

LinkCheckSettings CheckSettingsFrom(const LinkSettingsRecord& link,
                                    const vorta::RequestTable (&tables)[kRequestTableCount]) {
  LinkCheckSettings s;
  s.BaudRate = static_cast<std::uint16_t>(link.BaudRate);
  s.Protocol = link.Protocol;
  s.Addressing = link.Addressing;
  s.EcuAddress = link.EcuAddress;
  s.TesterAddress = link.TesterAddress;
  s.RequestAddress = link.RequestAddress;
  s.Kw2 = link.Kw2;
  s.W5 = link.W5;
  s.W1to4 = link.W1to4;
  s.W4 = link.W4;
  s.P2 = link.P2;
  s.P3 = link.P3;
  s.P4 = link.P4;
  s.PWakeUpL = link.PWakeUpL;
  s.PWakeUpH = link.PWakeUpH;
  const bool iso9141 = link.Protocol == kProto9141;
  for (int t : {kLiveTable, kDashboardTable, kInfoTable, kDtcReadTable}) {
    const vorta::RequestTable& table = tables[t];
    const int count = std::min<int>(table.Count, vorta::kMaxRequests);
    for (int i = 0; i < count; ++i) {
      const vorta::RequestEntry& e = table.Entries[i];
      const std::size_t length = std::min<std::size_t>(e.Length, vorta::kRequestDataSize - 1);
      const std::size_t service = ServiceIndex(e.Data, length, iso9141);
      if (length > service && ReadsOnly(e.Data[service])) {
        s.FirstRequest.assign(e.Data, e.Data + length);
        return s;
      }
    }
  }
  return s;
}

StepReport EchoStep(SerialPort& port, LinkClock& clock, const std::atomic<bool>* abort,
                    EchoFigures* figures) {
  const std::string title = step_titles::kEcho;
  Reader reader(port, clock, abort);
  reader.Clear();
  EchoFigures f;
  std::vector<double> delays;
  std::string firstCorruption;
  for (int i = 0; i < kEchoBytes; ++i) {
    if (reader.Aborted()) return Interrupted(title);
    const std::uint8_t b = kEchoPattern[static_cast<std::size_t>(i) % sizeof kEchoPattern];
    const MonoNs t0 = clock.Now();
    const SerialPort::WriteResult w = port.Write(&b, 1, 2000);
    if (w == SerialPort::WriteResult::Timeout) {
      return Report(title, Verdict::Failed, "запись в порт не завершилась за 2000 мс"_cp,
                    "Драйвер не отправляет байты: переподключите адаптер."_cp);
    }
    if (w != SerialPort::WriteResult::Ok) {
      if (reader.Gone() || port.WaitInput(0) == SerialPort::WaitResult::Error) {
        return Gone(title, "во время проверки эха"_cp);
      }
      return Report(title, Verdict::Failed, "порт не принял байт для записи"_cp, kGoneAdvice);
    }
    ++f.Sent;
    reader.Until(1, t0 + Ms(kEchoWaitMs));
    if (reader.Gone()) return Gone(title, "во время проверки эха"_cp);
    if (!reader.bytes.empty()) {
      ++f.Returned;
      delays.push_back(ToMs(reader.times[0] - t0));
      if (reader.bytes[0] != b) {
        ++f.Corrupted;
        if (firstCorruption.empty()) {
          firstCorruption =
              "отправлен "_cp + HexByte(b) + ", вернулся "_cp + HexByte(reader.bytes[0]);
        }
      }
      reader.Clear();
    } else if (f.Returned == 0 && f.Sent >= kEchoGiveUpAfter) {
      break;
    }
  }
  if (!delays.empty()) {
    std::vector<double> sorted = delays;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    f.MedianMs = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    f.WorstMs = sorted.back();
  }
  if (figures) *figures = f;
  const std::string delay = "задержка эха: медиана "_cp + Millis(f.MedianMs) +
                            " мс, наибольшая "_cp + Millis(f.WorstMs) + " мс"_cp;
  if (f.Returned == 0) {
    return Report(
        title, Verdict::Failed,
        "отправленные байты не возвращаются (нет эха ни на один из "_cp + std::to_string(f.Sent) +
            ")"_cp,
        "Адаптер K-Line возвращает каждый отправленный байт, только когда он подключен к диагностическому разъему машины и на него подано питание 12 В: проверьте разъем и провод, включите зажигание. Проверьте, что выбран порт именно этого адаптера."_cp);
  }
  if (f.Returned < f.Sent || f.Corrupted > 0) {
    std::string found = "вернулось "_cp + std::to_string(f.Returned) + " из "_cp +
                        std::to_string(f.Sent) + " байт"_cp;
    if (f.Corrupted > 0) {
      found += ", искажено "_cp + std::to_string(f.Corrupted) + " ("_cp + firstCorruption + ")";
    }
    return Report(
        title, Verdict::Failed, found + "; "_cp + delay,
        "Помехи на линии K-Line или плохой контакт: проверьте провод, массу и питание адаптера."_cp);
  }
  return Report(title, Verdict::Passed,
                std::to_string(f.Returned) + " из "_cp + std::to_string(f.Sent) +
                    " байт вернулись без искажений; "_cp + delay);
}

StepReport InitStep(SerialPort& port, LinkClock& clock, const LinkCheckSettings& settings,
                    const LineSpeedFunction& lineSpeed, const std::atomic<bool>* abort) {
  const std::string title = InitTitle(settings.Protocol);
  Reader reader(port, clock, abort);
  // The bus idle for W5 first, as after the session opens the port.
  if (!clock.WaitUntil(clock.Now() + Ms(std::max(settings.W5, 50)), abort)) {
    return Interrupted(title);
  }
  reader.Clear();
  std::optional<RealtimeScope> realtime;
  if (clock.Real()) realtime.emplace();
  if (settings.Protocol == kProtoFast) {
    return FastInit(port, clock, reader, settings, title, abort);
  }
  return FiveBaudInit(port, clock, reader, settings, lineSpeed, title, abort);
}

StepReport FirstRequestStep(SerialPort& port, LinkClock& clock, const LinkCheckSettings& s,
                            const std::atomic<bool>* abort) {
  const std::string title = step_titles::kFirstRequest;
  if (s.FirstRequest.empty()) {
    return Report(title, Verdict::NotApplicable,
                  "в конфигурации нет запроса, который только читает данные"_cp);
  }
  Reader reader(port, clock, abort);
  if (!clock.WaitUntil(clock.Now() + Ms(s.P3), abort)) return Interrupted(title);
  reader.Clear();
  std::vector<std::uint8_t> frame = s.FirstRequest;
  frame.push_back(Checksum(frame.data(), frame.size()));
  const bool iso9141 = s.Protocol == kProto9141;
  const std::string sent = HexBytes(frame);
  const MonoNs written = WriteFrame(port, clock, frame.data(), frame.size(), s.P4, abort);
  if (written < 0) {
    if (reader.Aborted()) return Interrupted(title);
    if (port.WaitInput(0) == SerialPort::WaitResult::Error)
      return Gone(title, "при записи запроса"_cp);
    return Report(title, Verdict::Failed, "запрос "_cp + sent + " не записан в порт"_cp,
                  kGoneAdvice);
  }
  const int wait = std::max(kAnswerWaitMs, 3 * s.P2);
  Answer a =
      ReadAnswer(reader, clock, frame.data(), frame.size(), written, written + Ms(wait), iso9141);
  const std::size_t service = ServiceIndex(frame.data(), frame.size(), iso9141);
  const std::uint8_t sid = frame[service];
  // "Response pending": the real answer follows within 5 s.
  for (int i = 0; i < 10 && a.Frame.ChecksumOk && a.Frame.Data.size() >= 3 &&
                  a.Frame.Data[0] == 0x7F && a.Frame.Data[2] == 0x78;
       ++i) {
    const MonoNs echoEnd = a.EchoEnd;
    reader.DropFront(a.Frame.Length);
    a = ReadAnswer(reader, clock, nullptr, 0, echoEnd, clock.Now() + Ms(kPendingWaitMs), iso9141);
  }
  if (reader.Aborted()) return Interrupted(title);
  if (a.Raw.empty()) {
    if (a.Gone) return Gone(title, "после запроса "_cp + sent);
    return Report(
        title, Verdict::Failed,
        "нет ответа на запрос "_cp + sent + " за "_cp + std::to_string(wait) + " мс"_cp,
        "ЭБУ открыл сеанс, но не отвечает на запрос: проверьте, что конфигурация подходит этому ЭБУ (адреса, протокол)."_cp);
  }
  if (!a.Frame.Complete || !a.Frame.ChecksumOk) {
    if (a.Gone) return Gone(title, "во время ответа на запрос "_cp + sent);
    return Report(title, Verdict::Failed,
                  "ответ на запрос "_cp + sent +
                      " искажен (неверная контрольная сумма или обрыв): "_cp + HexBytes(a.Raw),
                  "Помехи на линии K-Line: проверьте провод и массу адаптера."_cp);
  }
  const std::vector<std::uint8_t>& d = a.Frame.Data;
  if (d.size() >= 3 && d[0] == 0x7F) {
    return Report(
        title, Verdict::Failed,
        "отрицательный ответ на запрос "_cp + sent + ": "_cp + HexBytes(d) + " ("_cp +
            NegativeText(d[2]) + ")",
        "ЭБУ не выполняет запрос конфигурации: выберите в каталоге конфигурацию этого ЭБУ."_cp);
  }
  if (d.empty() || d[0] != static_cast<std::uint8_t>(sid + 0x40)) {
    return Report(title, Verdict::Failed,
                  "на запрос "_cp + sent + " пришел чужой ответ: "_cp + HexBytes(d),
                  "Проверьте адреса ЭБУ и тестера в настройках."_cp);
  }
  const std::string answer =
      HexBytes(d.data(), std::min<std::size_t>(d.size(), 8)) + (d.size() > 8 ? " ..." : "");
  const std::string found = "запрос "_cp + sent + ", ответ "_cp + answer + " через "_cp +
                            Millis(a.AfterMs()) + " мс (P2 = "_cp + std::to_string(s.P2) +
                            " мс)"_cp;
  if (a.AfterMs() > s.P2) {
    return Report(
        title, Verdict::Failed, found + ": ответ приходит позже P2"_cp,
        "Программа ждет ответа P2 мс и шлет следующий запрос через P3: увеличьте P2 в настройках до "_cp +
            std::to_string((static_cast<int>(a.AfterMs()) / 10 + 3) * 10) + " мс."_cp);
  }
  return Report(title, Verdict::Passed, found);
}

std::vector<StepReport> RunLinkSteps(SerialPort& port, LinkClock& clock,
                                     const LinkCheckSettings& settings,
                                     const LineSpeedFunction& lineSpeed,
                                     const std::atomic<bool>* abort) {
  std::vector<StepReport> steps;
  steps.push_back(EchoStep(port, clock, abort));
  if (Passed(steps.back())) {
    steps.push_back(InitStep(port, clock, settings, lineSpeed, abort));
  } else {
    steps.push_back(Report(InitTitle(settings.Protocol), Verdict::NotRun, {}));
  }
  if (Passed(steps.back())) {
    steps.push_back(FirstRequestStep(port, clock, settings, abort));
  } else {
    steps.push_back(Report(step_titles::kFirstRequest, Verdict::NotRun, {}));
  }
  return steps;
}

}  // namespace kestrel::doctor
