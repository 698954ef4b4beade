// Records shared by the program and the vehicle module VORTA.
//
// The module is built separately from the program, so these records are a
// binary contract: fields keep their order and types with natural alignment,
// every double is 8-aligned (also on i386, where the ABI would align it to 4)
// and pointers have native width. On a 32-bit build the offsets are those of
// the original 32-bit program; the static_asserts below check both layouts.
//
// Texts crossing the boundary are zero-terminated code page 1251 strings.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define VORTA_CALL __stdcall
#else
#define VORTA_CALL
#endif

namespace vorta {

// ---------------------------------------------------------------- request tables

inline constexpr int kMaxRequests = 1001;      // entries 1..1001 of a table
inline constexpr int kRequestDataSize = 4096;  // request bytes of one entry

// One request frame without its checksum. The session writes the checksum into
// Data[Length] before sending, so one byte beyond Length is used.
struct RequestEntry {
  std::uint8_t Data[kRequestDataSize];  // header, service (byte 3), identifiers (byte 4..)
  std::uint8_t Skip;                    // 0 = send in every pass; non-zero = leave out
  std::uint16_t Length;                 // request bytes in Data, checksum not counted
};

// Count and ResetCount, then entries 1..1001 at index 0..1000.
struct RequestTable {
  std::uint16_t Count;
  std::uint16_t ResetCount;  // clearing table only: the last ResetCount entries reset ECU memory
  RequestEntry Entries[kMaxRequests];
};

// ---------------------------------------------------------------- response store

inline constexpr std::size_t kSlotSize = 256;
inline constexpr std::size_t kSlotCountByte = 255;  // byte 255 of a slot: data bytes held

// Areas of the response store, in memory order: offset and size in bytes.
inline constexpr std::size_t kMode01Offset = 0;
inline constexpr std::size_t kMode01Size = 65536;
inline constexpr std::size_t kMode02Offset = kMode01Offset + kMode01Size;  // 65,536
inline constexpr std::size_t kMode02Size = 16777216;
inline constexpr std::size_t kMode07Offset = kMode02Offset + kMode02Size;  // 16,842,752
inline constexpr std::size_t kMode07Size = 65536;
inline constexpr std::size_t kMode09Offset = kMode07Offset + kMode07Size;  // 16,908,288
inline constexpr std::size_t kMode09Size = 65536;
inline constexpr std::size_t kDtcOffset = kMode09Offset + kMode09Size;  // 16,973,824
inline constexpr std::size_t kDtcSize = 65536;
inline constexpr std::size_t kDtcStatusOffset = kDtcOffset + kDtcSize;  // 17,039,360
inline constexpr std::size_t kDtcStatusSize = 65536;
inline constexpr std::size_t kLocal21Offset = kDtcStatusOffset + kDtcStatusSize;  // 17,104,896
inline constexpr std::size_t kLocal21Size = 65536;
inline constexpr std::size_t kCommon22Offset = kLocal21Offset + kLocal21Size;  // 17,170,432
inline constexpr std::size_t kCommon22Size = 16777216;
inline constexpr std::size_t kControl30Offset = kCommon22Offset + kCommon22Size;  // 33,947,648
inline constexpr std::size_t kControl30Size = 65536;
inline constexpr std::size_t kResponseStoreSize = kControl30Offset + kControl30Size;

static_assert(kMode07Offset == 16842752);
static_assert(kDtcOffset == 16973824);
static_assert(kLocal21Offset == 17104896);
static_assert(kResponseStoreSize == 34013184);

// ---------------------------------------------------------------- module records

// Kind of a PIDVAL result.
enum ValueKind : std::uint8_t { vkNumeric = 0, vkOnOff = 1, vkVerdict = 2, vkText = 3 };

// The block right after the response store: parameter in, value out, engine constants.
struct ValueQuery {
  std::uint8_t Service;  // 0x01, 0x02 or 0x21
  std::uint8_t Id1;      // PID or local identifier
  std::uint8_t Id2;      // freeze-frame number for service 0x02
  std::uint8_t Format;   // Selector: high nibble byte/variant, low nibble bit 1..8 or 0
  std::uint8_t Kind;     // ValueKind
  alignas(8) double Value;
  std::uint8_t Cylinders;
  alignas(8) double InjectorFlow;  // ml/min
  std::int32_t Displacement;       // ml
  std::int32_t FuelFactor;
  std::int32_t MapCorrection;  // per cent
  const char* Text;            // owned by the module, valid until the next PIDVAL call
};

// The response store with the ValueQuery that follows it: what PIDVAL receives.
struct ResponseMemory {
  alignas(8) std::uint8_t Store[kResponseStoreSize];
  ValueQuery Query;
};

struct DtcQuery {
  const std::uint8_t* Store;  // the response store
  std::uint8_t List;          // 1 Mode 07 (current), 2 DTC (stored)
  const char* Text;           // codes as four hex digits each, run together
  std::int32_t Count;
};

struct GaugeBands {
  std::uint8_t Source;  // which quantity Panel writes
  alignas(8) double Value;
  alignas(8) double Low;
  alignas(8) double Green;
  alignas(8) double Yellow;
  alignas(8) double Red;
  alignas(8) double High;
};

struct PanelRecord {
  const std::uint8_t* Store;
  std::uint8_t DtcCount;
  std::uint8_t CheckLamp;
  GaugeBands Gauges[4];
  alignas(8) double Speed;
  std::uint16_t Selector;  // 0xFFFF = not available
  std::uint8_t Gear;       // bits 0-2 gear, bit 3 lock-up, bit 4 O/D off; 0xFF = not available
  alignas(8) double FlowMlh;
  alignas(8) double FlowL100;
  std::uint8_t Cylinders;
  alignas(8) double InjectorFlow;
  std::int32_t Displacement;
  std::int32_t FuelFactor;
  std::int32_t MapCorrection;
};

struct TestRequest {
  RequestTable* Table;  // the live-data table
  std::uint8_t ModeOn;
  std::uint8_t ModeOff;
  std::uint8_t Command;  // 0 describe, non-zero issue with Value
  std::uint8_t Service;
  std::uint8_t Id1;
  std::uint8_t Id2;
  std::uint16_t Flags;  // bit 7 numeric test; bits 0-3 bit number of an on/off test
  alignas(8) double Min;
  alignas(8) double Max;
  alignas(8) double Value;
};

// ---------------------------------------------------------------- layout checks

static_assert(sizeof(RequestEntry) == 4100);
static_assert(offsetof(RequestEntry, Skip) == 4096);
static_assert(offsetof(RequestEntry, Length) == 4098);
static_assert(offsetof(RequestTable, Entries) == 4);
static_assert(sizeof(RequestTable) == 4 + 1001 * 4100);
static_assert(sizeof(GaugeBands) == 56);
static_assert(offsetof(GaugeBands, Value) == 8);
static_assert(offsetof(GaugeBands, Low) == 16);
static_assert(offsetof(GaugeBands, High) == 48);
static_assert(offsetof(ValueQuery, Kind) == 4);
static_assert(offsetof(ValueQuery, Value) == 8);
static_assert(offsetof(ValueQuery, Cylinders) == 16);
static_assert(offsetof(ValueQuery, InjectorFlow) == 24);
static_assert(offsetof(ValueQuery, Displacement) == 32);
static_assert(offsetof(ValueQuery, FuelFactor) == 36);
static_assert(offsetof(ValueQuery, MapCorrection) == 40);
static_assert(offsetof(ResponseMemory, Query) == kResponseStoreSize);

#if UINTPTR_MAX == 0xFFFFFFFFu
// 32-bit: exactly the offsets of the original program.
static_assert(offsetof(ValueQuery, Text) == 44);
static_assert(offsetof(DtcQuery, List) == 4);
static_assert(offsetof(DtcQuery, Text) == 8);
static_assert(offsetof(DtcQuery, Count) == 12);
static_assert(offsetof(PanelRecord, DtcCount) == 4);
static_assert(offsetof(PanelRecord, CheckLamp) == 5);
static_assert(offsetof(PanelRecord, Gauges) == 8);
static_assert(offsetof(PanelRecord, Speed) == 232);
static_assert(offsetof(PanelRecord, Selector) == 240);
static_assert(offsetof(PanelRecord, Gear) == 242);
static_assert(offsetof(PanelRecord, FlowMlh) == 248);
static_assert(offsetof(PanelRecord, FlowL100) == 256);
static_assert(offsetof(PanelRecord, Cylinders) == 264);
static_assert(offsetof(PanelRecord, InjectorFlow) == 272);
static_assert(offsetof(PanelRecord, Displacement) == 280);
static_assert(offsetof(PanelRecord, FuelFactor) == 284);
static_assert(offsetof(PanelRecord, MapCorrection) == 288);
static_assert(offsetof(TestRequest, ModeOn) == 4);
static_assert(offsetof(TestRequest, ModeOff) == 5);
static_assert(offsetof(TestRequest, Command) == 6);
static_assert(offsetof(TestRequest, Service) == 7);
static_assert(offsetof(TestRequest, Id1) == 8);
static_assert(offsetof(TestRequest, Id2) == 9);
static_assert(offsetof(TestRequest, Flags) == 10);
static_assert(offsetof(TestRequest, Min) == 16);
static_assert(offsetof(TestRequest, Max) == 24);
static_assert(offsetof(TestRequest, Value) == 32);
#else
// 64-bit: pointers take 8 bytes and push the fields behind them.
static_assert(offsetof(ValueQuery, Text) == 48);
static_assert(offsetof(DtcQuery, List) == 8);
static_assert(offsetof(DtcQuery, Text) == 16);
static_assert(offsetof(DtcQuery, Count) == 24);
static_assert(offsetof(PanelRecord, DtcCount) == 8);
static_assert(offsetof(PanelRecord, CheckLamp) == 9);
static_assert(offsetof(PanelRecord, Gauges) == 16);
static_assert(offsetof(PanelRecord, Speed) == 240);
static_assert(offsetof(PanelRecord, Selector) == 248);
static_assert(offsetof(PanelRecord, Gear) == 250);
static_assert(offsetof(PanelRecord, FlowMlh) == 256);
static_assert(offsetof(PanelRecord, FlowL100) == 264);
static_assert(offsetof(PanelRecord, Cylinders) == 272);
static_assert(offsetof(PanelRecord, InjectorFlow) == 280);
static_assert(offsetof(PanelRecord, Displacement) == 288);
static_assert(offsetof(PanelRecord, FuelFactor) == 292);
static_assert(offsetof(PanelRecord, MapCorrection) == 296);
static_assert(offsetof(TestRequest, ModeOn) == 8);
static_assert(offsetof(TestRequest, Flags) == 14);
static_assert(offsetof(TestRequest, Min) == 16);
static_assert(offsetof(TestRequest, Max) == 24);
static_assert(offsetof(TestRequest, Value) == 32);
#endif

// ---------------------------------------------------------------- exports

// Each export takes one pointer to its record; C linkage, undecorated names.
using PidValProc = void(VORTA_CALL*)(std::uint8_t* responseStore);  // ValueQuery follows it
using DtcErrorProc = void(VORTA_CALL*)(DtcQuery* query);
using PanelProc = void(VORTA_CALL*)(PanelRecord* record);
using ActTestProc = void(VORTA_CALL*)(TestRequest* request);

}  // namespace vorta

// Prototypes for the module's own sources. The program resolves the exports by
// name into pointers of the types above and never sees these declarations.
#ifdef VORTA_BUILDING_MODULE
extern "C" {
void VORTA_CALL PIDVAL(std::uint8_t* responseStore);
void VORTA_CALL DTCError(vorta::DtcQuery* query);
void VORTA_CALL Panel(vorta::PanelRecord* record);
void VORTA_CALL ACTTESTProc(vorta::TestRequest* request);
}
#endif
