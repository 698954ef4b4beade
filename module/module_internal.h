// Internals of the vehicle module VORTA, shared by its sources and its tests.
//
// The four exports are thin wrappers: each owns its result text buffer and
// hands the work to one of the functions below, which know nothing of the
// calling convention and can be tested directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "module/response_store.h"
#include "module/vorta.h"

// Marks the four C names as the module's only exports; everything else is
// built with hidden visibility.
#if defined(_WIN32)
#define VORTA_EXPORT __declspec(dllexport)
#else
#define VORTA_EXPORT __attribute__((visibility("default")))
#endif

namespace vorta::detail {

// The longest PIDVAL text is the hex dump of a full slot: 255 bytes of
// "XX " each, plus the terminating zero.
inline constexpr std::size_t kValueTextSize = 255 * 3 + 1;

// The longest code list: 256 slots of three codes, four digits each, plus
// the terminating zero.
inline constexpr std::size_t kDtcTextSize = 256 * 3 * 4 + 1;

// ---------------------------------------------------------------- numbers

// The decimal separator of the process's LC_NUMERIC locale as one code page
// 1251 byte ('.' when the locale's separator has no such byte).
char LocaleDecimalSeparator();

// Writes `value` for display into out[0..size), zero-terminated, and returns
// the number of characters written (without the zero). Decimals by magnitude:
// 0 from 1000 up, 1 from 100, 2 from 10, else 3; a value with more than six
// integer digits is written in scientific notation with six significant
// digits. `separator` stands between integer and fraction. Non-finite values
// read "NAN", "INF" or "-INF". `size` of 32 is always enough.
std::size_t FormatValue(double value, char separator, char* out, std::size_t size);

// T(x) of the actuator tests: x truncated toward zero, its low 8 bits (two's
// complement for negative numbers). No byte for NaN or an infinity.
std::optional<std::uint8_t> TruncatedLowByte(double x);

// ---------------------------------------------------------------- fuel

// Engine constants from the settings, as the records carry them.
struct EngineConstants {
  std::uint8_t Cylinders = 0;
  double InjectorFlow = 0.0;  // ml/min
  std::int32_t Displacement = 0;
  std::int32_t FuelFactor = 0;
  std::int32_t MapCorrection = 0;  // per cent
};

// The bytes that feed the derived air and fuel quantities, read from one area
// of the store (Mode 01 or Local 21) without looking at the slots' count bytes.
struct EngineBytes {
  double Map = 0;        // slot 0x0B A, manifold pressure
  double Rpm4 = 0;       // slot 0x0C AB, four times the engine speed
  double Iat = 0;        // slot 0x0F A, intake air temperature + 40
  double Vss = 0;        // slot 0x0D A, road speed
  double Maf = 0;        // slot 0x10 AB, air flow in 0.01 g/s
  double Inj = 0;        // slot 0xE4 A, injection time
  std::uint8_t Cut = 0;  // slot 0xE8 B, fuel cut bits
};

EngineBytes ReadEngineBytes(const std::uint8_t* store, StoreArea area);

// 0.00781·(a + b) − 1 when both bytes are non-zero, else 1.0 (no trim data).
double FuelTrim(std::uint8_t a, std::uint8_t b);

// Air temperature correction Tc = 0.001·(IAT − 60) + 1.
double TemperatureCorrection(const EngineBytes& e);

// Fuel flow from the injection time; 0 while fuel is cut (CUT AND 3 ≠ 0).
double FuelFlowFromInjection(const EngineBytes& e, const EngineConstants& c);

// Fuel flow from the air flow. 0 when FuelFactor is 0.
double FuelFlowFromAirFlow(const EngineBytes& e, double trim1, double trim2,
                           const EngineConstants& c);

// Fuel flow from the manifold pressure. 0 when FuelFactor is 0.
double FuelFlowFromPressure(const EngineBytes& e, double trim1, double trim2,
                            const EngineConstants& c);

// ---------------------------------------------------------------- the exports' work

// PIDVAL: decodes the parameter named by query (which follows `store`) into
// query.Kind, query.Value and query.Text. Texts that are not constants are
// written into text[0..kValueTextSize).
void DecodeValue(const std::uint8_t* store, ValueQuery& query, char* text);

// DTCError: the codes of the list named by query.List into
// text[0..kDtcTextSize), query.Text and query.Count.
void CollectCodes(DtcQuery& query, char* text);

// Panel: every output field of the record.
void ComputePanel(PanelRecord& record);

// ACTTESTProc: range of the selected test, arming of its request.
void RunActuatorTest(TestRequest& request);

}  // namespace vorta::detail
