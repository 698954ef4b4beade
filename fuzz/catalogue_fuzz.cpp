// The catalogue: the listing of "ECU/*.ini" and the choice of a row, which
// loads that file over the configuration in use.
//
// Input: parts separated by marker lines. The first is the number of the row
// chosen (counted from 0, taken modulo the rows); each further part is a
// file of the catalogue folder: its first line the file's name as the bytes
// on disk, the rest its content. The ECU folder "ECU/F" with a VORTA.ini and
// a dtc.ini is always there.
//
// Properties: every listed row names a file that exists; the choice never
// reports the chosen file missing; a choice that loads shows the car of the
// chosen row (not of another file); a choice that fails keeps the
// configuration in use; no table grows past its fixed size.
#include <cstdint>
#include <string>

#include "common/text_lines.h"
#include "config/config_globals.h"
#include "config/text_file.h"
#include "fuzz/config_checks.h"

namespace {

using namespace kestrel;

constexpr std::string_view kVortaIni =
    "210C\r\nEngine speed\r\nrpm\r\n00\r\n2105\r\nCoolant\r\nC\r\n00\r\n";
constexpr std::string_view kDtcIni = "0171\r\nLean\r\n";
// The configuration in use before the choice, outside the catalogue folder.
constexpr std::string_view kInUse =
    "In use\r\nECU in use\r\nECU\\F\r\nCOM1\r\n10400\r\n300\r\n120\r\n50\r\n60\r\n80\r\n0\r\n"
    "25\r\n25\r\n1\r\n0\r\n0\r\n0\r\n30\r\n10\r\n8F\r\nF1\r\n33\r\n210\r\n4\r\n2362\r\n100\r\n"
    "0\r\n0\r\n2\r\n8210F1210C\r\n8210F12105\r\n0\r\n0\r\n0\r\n0\r\n0\r\n";

}  // namespace

KESTREL_FUZZ_IN_SCRATCH_FOLDER("catalogue")

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 65536) return -1;
  const std::vector<std::string_view> parts = fuzz::SplitParts(fuzz::AsText(data, size), 64);
  fuzz::ClearWorkingFolder();
  fuzz::WriteFile("ECU/F/VORTA.ini", kVortaIni);
  fuzz::WriteFile("ECU/F/dtc.ini", kDtcIni);
  fuzz::WriteFile("in-use.ini", kInUse);
  for (std::size_t i = 1; i < parts.size(); ++i) {
    LineReader in(parts[i]);
    const std::string name(in.Next());
    if (name.empty() || name == "." || name == ".." || name.size() > 200 ||
        name.find_first_of(std::string_view("/\0", 2)) != std::string::npos) {
      continue;
    }
    fuzz::WriteFile("ECU/" + name, parts[i].substr(in.Offset()));
  }

  ResetConfigGlobals();
  FUZZ_CHECK(LoadInit("in-use.ini").Ok());
  ConfigFileName = "in-use.ini";
  const std::vector<CatalogueRow> rows = ListCatalogue("ECU");
  for (const CatalogueRow& row : rows) {
    FUZZ_CHECK(FileExists("ECU/" + row.Cells[kCatFile]), "listed: " + row.Cells[kCatFile]);
  }
  if (rows.empty()) return 0;

  unsigned long choice = 0;
  for (char c : parts[0].substr(0, 6)) choice = choice * 10 + static_cast<unsigned char>(c) % 10;
  const CatalogueRow& row = rows[choice % rows.size()];
  const ConfigOutcome out = LoadChosenConfiguration(true, row.Cells[kCatFile]);
  FUZZ_CHECK(!out.Quit || out.StderrLine.find("file not found") == std::string::npos ||
                 out.StderrLine.find("dtc.ini") != std::string::npos,
             out.StderrLine);
  if (out.Loaded) {
    FUZZ_CHECK(CarName == row.Cells[kCatCar], "loaded " + CarName + " for " + row.Cells[kCatFile]);
    FUZZ_CHECK(ConfigFileName == "ECU/" + row.Cells[kCatFile]);
  } else if (!out.Quit) {
    FUZZ_CHECK(CarName == "In use" && ConfigFileName == "in-use.ini", "the choice failed");
    FUZZ_CHECK(RequestTables[kLiveTable].Count == 2 && LiveRows.RowCount == 2);
  }
  fuzz::CheckConfigTables();
  return 0;
}
