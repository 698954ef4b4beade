// ACTTESTProc: range of an actuator test and arming of its request.
//
// The requests are already in the live-data request table; arming one means
// writing its control bytes (Data[5], Data[6]) and then clearing its Skip
// flag, so the running session sends it in its next pass. The receiver sets
// Skip again when the ECU answers positively.

#include <algorithm>
#include <atomic>
#include <iterator>
#include <optional>

#include "module/module_internal.h"

namespace vorta::detail {

namespace {

constexpr std::uint8_t kControlService = 0x30;
constexpr std::uint8_t kDiagnosticSession = 0x10;
constexpr std::size_t kServiceByte = 3;
constexpr std::size_t kIdByte = 4;
constexpr std::size_t kControl1 = 5;
constexpr std::size_t kControl2 = 6;

// The valid entries of a table, bounded by its capacity whatever Count says.
std::size_t ValidEntries(const RequestTable& table) {
  return std::min<std::size_t>(table.Count, static_cast<std::size_t>(kMaxRequests));
}

// Clears Skip after the control bytes are in place: the session thread reads
// the entry concurrently and must never send it half written.
void Arm(RequestEntry& entry) {
  std::atomic_ref<std::uint8_t>(entry.Skip).store(0, std::memory_order_release);
}

template <typename Match>
RequestEntry* FindEntry(RequestTable* table, Match match) {
  if (table == nullptr) return nullptr;
  const std::size_t n = ValidEntries(*table);
  for (std::size_t i = 0; i < n; ++i) {
    if (match(table->Entries[i].Data)) return &table->Entries[i];
  }
  return nullptr;
}

struct NumericTest {
  std::uint8_t id;
  double min;
  double max;
};

constexpr NumericTest kNumericTests[] = {
    {0x01, -12.5, 24.72}, {0x02, 0, 125},  {0x03, 0, 125},
    {0x08, 0, 7},         {0x0C, -25, 25}, {0x18, -100, 100},
};

}  // namespace

void RunActuatorTest(TestRequest& request) {
  if (request.ModeOn != 0) {
    // Enter the ECU's test mode: the diagnostic session request 10 01 00.
    if (RequestEntry* e = FindEntry(request.Table, [](const std::uint8_t* d) {
          return d[kServiceByte] == kDiagnosticSession && d[kIdByte] == 0x01 &&
                 d[kControl1] == 0x00;
        })) {
      Arm(*e);
    }
    request.ModeOn = 0;
    return;
  }
  if (request.ModeOff != 0) {
    // Leave it: the request 10 00.
    if (RequestEntry* e = FindEntry(request.Table, [](const std::uint8_t* d) {
          return d[kServiceByte] == kDiagnosticSession && d[kIdByte] == 0x00;
        })) {
      Arm(*e);
    }
    request.ModeOff = 0;
    return;
  }
  if (request.Service != kControlService) return;

  const std::uint8_t id = request.Id1;
  const bool numeric = (request.Flags & 0x80) != 0;
  if (numeric) {
    const auto* test = std::find_if(std::begin(kNumericTests), std::end(kNumericTests),
                                    [id](const NumericTest& t) { return t.id == id; });
    if (test == std::end(kNumericTests)) return;
    request.Min = test->min;
    request.Max = test->max;
  } else {
    request.Min = 0.0;
    request.Max = 1.0;
  }
  if (request.Command == 0) return;

  const std::uint8_t service = request.Service;
  RequestEntry* entry = FindEntry(request.Table, [service, id](const std::uint8_t* d) {
    return d[kServiceByte] == service && d[kIdByte] == id;
  });
  if (entry == nullptr) return;

  const double value = request.Value;
  std::optional<std::uint8_t> byte5;
  std::optional<std::uint8_t> byte6;
  if (numeric) {
    switch (id) {
      case 0x01:
        byte5 = TruncatedLowByte((value + 25.0) * 5.12);
        break;
      case 0x02:
      case 0x03:
        byte5 = TruncatedLowByte(value);
        break;
      case 0x08:
        byte5 = 7;
        byte6 = TruncatedLowByte(value);
        break;
      case 0x0C:
        byte5 = 0xFF;
        byte6 = TruncatedLowByte((value + 25.0) * 5.12);
        break;
      case 0x18:
        byte5 = TruncatedLowByte(value + 100.0);
        break;
      default:
        return;
    }
    // A value that is not a number gives no control byte: nothing is armed.
    if (!byte5 || ((id == 0x08 || id == 0x0C) && !byte6)) return;
  } else {
    // Bit number 1..8 of the on/off test; 0 and 9..15 give no bit.
    const unsigned n = request.Flags & 0x0Fu;
    const auto mask = static_cast<std::uint8_t>(n == 0 ? 0u : (1u << (n - 1)) & 0xFFu);
    byte5 = mask;
    byte6 = value != 0.0 ? mask : std::uint8_t{0};
  }

  entry->Data[kControl1] = *byte5;
  if (byte6) entry->Data[kControl2] = *byte6;
  Arm(*entry);
}

}  // namespace vorta::detail

extern "C" VORTA_EXPORT void VORTA_CALL ACTTESTProc(vorta::TestRequest* request) {
  if (request == nullptr) return;
  vorta::detail::RunActuatorTest(*request);
}
