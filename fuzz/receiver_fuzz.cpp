// Properties of the receiver (RxParser) on any bytes from the port:
// - The response store, the request table's Skip flags, the error word, the
//   unechoed-write count, the seen flags, the echo run and the slot
//   counters, the exchange log and the recording are the same whether the
//   bytes arrive all at once or cut into random pieces (with empty reads
//   among them).
// - After every parse at most one frame is left unparsed: less than the
//   longest ISO 14230 frame, or for ISO 9141 the longest frame and the two
//   header bytes that may follow it.
#include "fuzz/receiver_fuzz.h"

#include <memory>
#include <random>
#include <string>

#include "fuzz/fuzz_support.h"
#include "link/link_globals.h"
#include "link/rx_parser.h"

namespace kestrel::fuzz {

namespace {

constexpr std::size_t kHeader = 8;
constexpr std::size_t kMaxStream = 16384;  // far less than the ring: nothing is dropped
constexpr std::size_t kMaxUnparsed14230 = 0x3F + 4 - 1;
constexpr std::size_t kMaxUnparsed9141 = RxParser::kMax9141Frame + 2;

// The requests of the table the receiver skips in: StartDiagnosticSession,
// input/output controls of several local identifiers, and requests it
// leaves alone.
const std::uint8_t kRequests[][6] = {
    {0x82, 0x13, 0xF1, 0x10, 0x81, 0},    {0x83, 0x13, 0xF1, 0x30, 0x01, 0x00},
    {0x83, 0x13, 0xF1, 0x30, 0x02, 0x01}, {0x82, 0x13, 0xF1, 0x21, 0x01, 0},
    {0x68, 0x6A, 0xF1, 0x10, 0x85, 0},    {0x68, 0x6A, 0xF1, 0x30, 0x01, 0x05},
    {0x83, 0x13, 0xF1, 0x30, 0xE1, 0x00}, {0x82, 0x13, 0xF1, 0x01, 0x0C, 0},
};
constexpr int kRequestCount = sizeof kRequests / sizeof kRequests[0];

// What one receiver writes to.
struct Side {
  explicit Side(const char* name)
      : table(std::make_unique<vorta::RequestTable>()),
        log(std::string(name) + ".log"),
        recording(std::string(name) + ".rtd") {
    record.Set(recording);
  }

  void Reset() {
    store.Reset();
    table->Count = kRequestCount;
    for (int i = 0; i < kRequestCount; ++i) {
      vorta::RequestEntry& e = table->Entries[i];
      std::copy(std::begin(kRequests[i]), std::end(kRequests[i]), e.Data);
      e.Length = sizeof kRequests[i];
      e.Skip = 0;
    }
    unechoed.store(7);
    error.store(0);
    RemoveAll(log);
    WriteFile(recording, {});
  }

  RxTargets Targets() {
    RxTargets t;
    t.Table = table.get();
    t.Store = store.Store();
    t.UnechoedWrites = &unechoed;
    t.Error = &error;
    t.LogFlag = &on;
    t.RecordFlag = &on;
    t.RecordFile = &record;
    return t;
  }

  SparseStore store;
  std::unique_ptr<vorta::RequestTable> table;
  std::atomic<std::uint16_t> unechoed{0};
  std::atomic<std::uint16_t> error{0};
  std::atomic<std::uint8_t> on{1};
  RecordFileNameHolder record;
  std::string log;
  std::string recording;
};

void CheckUnparsed(const RxParser& rx, std::uint8_t protocol) {
  const std::size_t limit = protocol == kProto9141 ? kMaxUnparsed9141 : kMaxUnparsed14230;
  FUZZ_CHECK(rx.Unparsed() <= limit, "unparsed " + std::to_string(rx.Unparsed()));
}

void Compare(const RxParser& a, Side& sa, const RxParser& b, Side& sb) {
  std::string where;
  FUZZ_CHECK(sa.store.SameAs(sb.store, where), where);
  for (int i = 0; i < kRequestCount; ++i) {
    FUZZ_CHECK(GetSkip(sa.table->Entries[i]) == GetSkip(sb.table->Entries[i]),
               "Skip of request " + std::to_string(i));
  }
  FUZZ_CHECK(sa.error.load() == sb.error.load());
  FUZZ_CHECK(sa.unechoed.load() == sb.unechoed.load());
  FUZZ_CHECK(a.EchoSeen() == b.EchoSeen());
  FUZZ_CHECK(a.ResponseSeen() == b.ResponseSeen());
  FUZZ_CHECK(a.EchoRun() == b.EchoRun());
  FUZZ_CHECK(a.Mode07Counter() == b.Mode07Counter());
  FUZZ_CHECK(a.DtcCounter() == b.DtcCounter());
  FUZZ_CHECK(a.DtcStatusCounter() == b.DtcStatusCounter());
  FUZZ_CHECK(a.Unparsed() == b.Unparsed());
  FUZZ_CHECK(ReadFile(sa.log) == ReadFile(sb.log), "the exchange logs differ");
  FUZZ_CHECK(ReadFile(sa.recording) == ReadFile(sb.recording), "the recordings differ");
}

}  // namespace

int FuzzReceiver(std::uint8_t protocol, const std::uint8_t* data, std::size_t size) {
  static Side whole("whole"), pieces("pieces");
  if (size < kHeader || size - kHeader > kMaxStream) return -1;  // not kept in the corpus

  RxSettings settings;
  settings.EcuAddress = data[0];
  settings.TesterAddress = data[1];
  settings.RequestAddress = data[2];
  settings.Addressing = (data[3] & 1) ? kFunctional : kPhysical;
  settings.Protocol = protocol;
  std::minstd_rand cut(static_cast<std::uint32_t>(data[4] | data[5] << 8 | data[6] << 16 |
                                                  static_cast<std::uint32_t>(data[7]) << 24));
  const std::uint8_t* stream = data + kHeader;
  const std::size_t count = size - kHeader;

  whole.Reset();
  pieces.Reset();
  RxParser a(settings, whole.Targets(), whole.log);
  RxParser b(settings, pieces.Targets(), pieces.log);

  a.Push(stream, count);
  a.Parse();
  CheckUnparsed(a, protocol);

  std::uniform_int_distribution<std::size_t> piece(0, 80);
  for (std::size_t at = 0; at < count;) {
    const std::size_t n = std::min(piece(cut), count - at);
    b.Push(stream + at, n);
    b.Parse();
    CheckUnparsed(b, protocol);
    at += n;
  }
  Compare(a, whole, b, pieces);
  return 0;
}

}  // namespace kestrel::fuzz
