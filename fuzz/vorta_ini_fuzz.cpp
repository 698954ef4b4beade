// The parameter definition file "VORTA.ini": read, then joined with request
// lists into the live rows, the tests, the graph channel lists, the freeze
// rows and the PID name lists.
//
// Input: the file. The live list holds a request for the code of each of its
// first 1001 definitions (so that most definitions match), the freeze list a
// service 02 request for each PID of a service 01 or 02 definition.
//
// Properties: no row, test or channel list grows past its fixed size, and
// each channel list has one item per live row after "Нет"; a pass that
// succeeds gives one row per matching definition at most; every PID name
// starts "PID=" and its two upper-case digits.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/config_checks.h"

namespace {

using namespace kestrel;

void Request(vorta::RequestTable& table, const std::string& body) {
  if (table.Count >= vorta::kMaxRequests) return;
  vorta::RequestEntry& e = table.Entries[table.Count];
  if (!ParseRequestLine("8013F1" + body, e)) return;
  ++table.Count;
}

void CheckNames(const std::array<std::string, 256>& names) {
  for (int p = 0; p < 256; ++p) {
    char head[8];
    std::snprintf(head, sizeof head, "PID=%02X ", p);
    FUZZ_CHECK(names[p].rfind(head, 0) == 0, names[p]);
  }
}

}  // namespace

KESTREL_FUZZ_IN_SCRATCH_FOLDER("vorta-ini")

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto live = std::make_unique<vorta::RequestTable>();
  static const auto freeze = std::make_unique<vorta::RequestTable>();
  if (size > 65536) return -1;
  fuzz::WriteFile("VORTA.ini", fuzz::AsText(data, size));

  std::vector<ParameterDefinition> defs;
  const LoadOutcome read = ReadDefinitions("VORTA.ini", defs);
  FUZZ_CHECK(read.Ok(), "the file exists: " + read.Error);

  live->Count = freeze->Count = 0;
  for (const ParameterDefinition& d : defs) {
    Request(*live, d.Code);
    if (d.Code.rfind("01", 0) == 0 || d.Code.rfind("02", 0) == 0) {
      Request(*freeze, "02" + d.Code.substr(2, 2) + "00");
    }
  }
  const LoadOutcome livePass = LivePassOn(defs, *live, "VORTA.ini");
  const LoadOutcome freezePass = FreezePassOn(defs, *freeze, "VORTA.ini");
  if (livePass.Ok())
    FUZZ_CHECK(LiveRows.Empty() || LiveRows.RowCount <= static_cast<int>(defs.size()));
  if (freezePass.Ok()) {
    FUZZ_CHECK(FreezeRows.Empty() || FreezeRows.RowCount <= static_cast<int>(defs.size()));
  }
  fuzz::CheckConfigTables();

  const LoadOutcome names = PidNamePass("VORTA.ini");
  FUZZ_CHECK(names.Ok(), names.Error);
  CheckNames(PidNames.Sid01);
  CheckNames(PidNames.Sid02);
  CheckNames(PidNames.Sid21);
  CheckNames(PidNames.Sid30);
  return 0;
}
