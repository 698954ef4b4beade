// The vehicle module's four exports on arbitrary store contents and records.
//
// Input (read with FuzzedDataProvider): slots of the response store with
// arbitrary bytes and count bytes, then a run of calls: PIDVAL with any
// query and engine constants, DTCError for any list, Panel with any gauge
// sources and constants, ACTTESTProc with any test on a live table of
// StartDiagnosticSession and input/output control requests.
//
// Properties: every text fits the buffer of its export and ends in a zero;
// the code count of DTCError matches its text of four hex digits a code;
// the kind of a value is one of the four; ACTTESTProc changes nothing of the
// table but the control bytes and Skip flags of its entries.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/fuzz_support.h"
#include "module/module_internal.h"

namespace {

using namespace vorta;

constexpr StoreArea kAreas[] = {kAreaMode01,  kAreaMode02,   kAreaMode07,
                                kAreaMode09,  kAreaDtc,      kAreaDtcStatus,
                                kAreaLocal21, kAreaCommon22, kAreaControl30};

std::size_t TextLength(const char* text, std::size_t capacity) {
  FUZZ_CHECK(text != nullptr);
  const void* end = std::memchr(text, 0, capacity);
  FUZZ_CHECK(end != nullptr, "a text without its zero within its buffer");
  return static_cast<std::size_t>(static_cast<const char*>(end) - text);
}

void FillStore(FuzzedDataProvider& in, std::uint8_t* store) {
  const int slots = in.ConsumeIntegralInRange(0, 48);
  for (int i = 0; i < slots; ++i) {
    const StoreArea area = in.PickValueInArray(kAreas);
    // The code lists read successive slots from 0: keep most slots low.
    const std::size_t index = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::size_t>(0, 8)
                                               : in.ConsumeIntegral<std::uint16_t>();
    std::uint8_t* slot = Slot(store, area, index);
    const std::vector<std::uint8_t> bytes =
        in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegral<std::uint8_t>());
    if (!bytes.empty()) std::memcpy(slot, bytes.data(), bytes.size());
    slot[kSlotCountByte] = in.ConsumeIntegral<std::uint8_t>();  // need not match the bytes
  }
}

void EngineConstants(FuzzedDataProvider& in, std::uint8_t& cylinders, double& flow,
                     std::int32_t& displacement, std::int32_t& factor, std::int32_t& map) {
  cylinders = in.ConsumeIntegral<std::uint8_t>();
  flow = in.ConsumeFloatingPoint<double>();
  displacement = in.ConsumeIntegral<std::int32_t>();
  factor = in.ConsumeIntegral<std::int32_t>();
  map = in.ConsumeIntegral<std::int32_t>();
}

void CallPidval(FuzzedDataProvider& in, ResponseMemory& memory) {
  ValueQuery& q = memory.Query;
  static constexpr std::uint8_t kServices[] = {0x01, 0x02, 0x21, 0x22, 0x30, 0x09};
  q.Service =
      in.ConsumeBool() ? in.PickValueInArray(kServices) : in.ConsumeIntegral<std::uint8_t>();
  q.Id1 = in.ConsumeIntegral<std::uint8_t>();
  q.Id2 = in.ConsumeIntegral<std::uint8_t>();
  q.Format = in.ConsumeIntegral<std::uint8_t>();
  EngineConstants(in, q.Cylinders, q.InjectorFlow, q.Displacement, q.FuelFactor, q.MapCorrection);
  q.Text = nullptr;
  PIDVAL(memory.Store);
  FUZZ_CHECK(q.Kind <= vkText, "kind " + std::to_string(q.Kind));
  TextLength(q.Text, detail::kValueTextSize);
}

void CallDtcError(FuzzedDataProvider& in, const std::uint8_t* store) {
  DtcQuery q{};
  q.Store = store;
  q.List = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::uint8_t>(1, 2)
                            : in.ConsumeIntegral<std::uint8_t>();
  DTCError(&q);
  const std::size_t n = TextLength(q.Text, detail::kDtcTextSize);
  FUZZ_CHECK(q.Count >= 0 && static_cast<std::size_t>(q.Count) * 4 == n,
             std::to_string(q.Count) + " codes in " + std::to_string(n) + " characters");
  for (std::size_t i = 0; i < n; ++i) {
    FUZZ_CHECK(std::strchr("0123456789ABCDEF", q.Text[i]) != nullptr, "not a hex digit");
  }
}

void CallPanel(FuzzedDataProvider& in, const std::uint8_t* store) {
  PanelRecord r{};
  r.Store = store;
  for (GaugeBands& g : r.Gauges) g.Source = in.ConsumeIntegral<std::uint8_t>();
  EngineConstants(in, r.Cylinders, r.InjectorFlow, r.Displacement, r.FuelFactor, r.MapCorrection);
  Panel(&r);
}

// The live table ACTTESTProc arms its requests in.
void FillTable(RequestTable& table) {
  static constexpr std::uint8_t kRequests[][7] = {
      {0x82, 0x10, 0xF1, 0x10, 0x85},
      {0x82, 0x10, 0xF1, 0x10, 0x81},
      {0x84, 0x10, 0xF1, 0x30, 0x01, 0x07, 0x80},
      {0x84, 0x10, 0xF1, 0x30, 0x02, 0x07, 0x80},
      {0x84, 0x10, 0xF1, 0x30, 0x0C, 0x07, 0x80},
      {0x84, 0x10, 0xF1, 0x30, 0xE1, 0x00, 0x00},
      {0x83, 0x10, 0xF1, 0x30, 0x18},
      {0x82, 0x10, 0xF1, 0x21, 0x01},
  };
  table.Count = sizeof kRequests / sizeof kRequests[0];
  for (int i = 0; i < table.Count; ++i) {
    RequestEntry& e = table.Entries[i];
    std::memset(e.Data, 0, 16);
    std::memcpy(e.Data, kRequests[i], sizeof kRequests[i]);
    e.Length = kRequests[i][0] & 0x3F ? (kRequests[i][0] & 0x3F) + 3 : 5;
    e.Skip = 1;
  }
  std::memset(&table.Entries[table.Count], 0xA5, 16);  // beyond Count: never touched
}

void CallActTest(FuzzedDataProvider& in, RequestTable& table) {
  static const auto saved = std::make_unique<RequestTable>();
  RequestTable& before = *saved;
  FillTable(table);
  std::memcpy(&before, &table, offsetof(RequestTable, Entries) + 9 * sizeof(RequestEntry));
  TestRequest r{};
  r.Table = in.ConsumeBool() ? &table : nullptr;
  r.ModeOn = in.ConsumeIntegral<std::uint8_t>();
  r.ModeOff = in.ConsumeIntegral<std::uint8_t>();
  r.Command = in.ConsumeIntegral<std::uint8_t>();
  r.Service = in.ConsumeBool() ? 0x30 : in.ConsumeIntegral<std::uint8_t>();
  r.Id1 = in.ConsumeIntegral<std::uint8_t>();
  r.Id2 = in.ConsumeIntegral<std::uint8_t>();
  r.Flags = in.ConsumeIntegral<std::uint16_t>();
  r.Value = in.ConsumeFloatingPoint<double>();
  ACTTESTProc(&r);
  FUZZ_CHECK(table.Count == before.Count && table.ResetCount == before.ResetCount);
  for (int i = 0; i < 9; ++i) {
    const RequestEntry& now = table.Entries[i];
    const RequestEntry& was = before.Entries[i];
    FUZZ_CHECK(now.Length == was.Length, "the length of request " + std::to_string(i));
    for (int b = 0; b < 16; ++b) {
      FUZZ_CHECK(now.Data[b] == was.Data[b] || (i < table.Count && (b == 5 || b == 6)),
                 "byte " + std::to_string(b) + " of request " + std::to_string(i));
    }
    FUZZ_CHECK(now.Skip == was.Skip || i < table.Count, "Skip beyond the table's count");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kestrel::fuzz::SparseStore store;
  static const auto table = std::make_unique<RequestTable>();
  FuzzedDataProvider in(data, size);
  store.Reset();
  FillStore(in, store.Store());
  for (int calls = 0; calls < 32 && in.remaining_bytes() > 0; ++calls) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
      case 0:
        CallPidval(in, store.Memory());
        break;
      case 1:
        CallDtcError(in, store.Store());
        break;
      case 2:
        CallPanel(in, store.Store());
        break;
      default:
        CallActTest(in, *table);
        break;
    }
  }
  return 0;
}
