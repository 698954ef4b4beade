// The ECU catalogue (the configuration files "ECU/*.ini"), the load sequence
// after a choice in the catalogue window and at start-up, and the
// trouble-code texts "dtc.ini" of the ECU folder. All texts are code page 1251.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/load_init.h"

namespace kestrel {

// ---------------------------------------------------------------- trouble-code texts

inline constexpr int kMaxDtcTexts = 1001;

// Four-digit hexadecimal code: one character gives that digit's value (65535
// for a non-digit); two or more give 4096*d1 + 256*d2 + 16*d3 + d4 from the
// first four characters, modulo 65536, a missing character counting -1;
// empty text gives 0. Digits as in HexToByte (upper case only).
std::uint16_t HexToWord(std::string_view text);

struct DtcText {
  std::string Text;        // description
  std::uint16_t Code = 0;  // the 16-bit value the ECU reports
};

// The texts of the selected ECU's dtc.ini, in file order.
struct DtcTextTable {
  std::uint16_t Count = 0;
  std::array<DtcText, kMaxDtcTexts> Entries;  // entries 1..Count at index 0..Count-1

  // The description of the first entry with this code, or nullptr.
  const std::string* Find(std::uint16_t code) const;
};
extern DtcTextTable DtcTexts;

// Loads EcuFolder/dtc.ini into DtcTexts: pairs of lines (code, description)
// to the end of the file; a last code without its text line gets an empty
// description. Missing file: Missing (the caller ends the program). More than
// 1001 pairs: Failed naming the file and line, DtcTexts left empty.
LoadOutcome LoadDtcTexts();
// The same from a given file (tests).
LoadOutcome LoadDtcTextsFrom(const std::string& path);

// ---------------------------------------------------------------- the catalogue listing

// The five columns of a catalogue row.
enum CatalogueColumn : int {
  kCatNumber = 0,  // 1-based row number, four digits with leading zeros ("0001")
  kCatCar = 1,     // line 1 of the file (car name)
  kCatEcu = 2,     // line 2 of the file (ECU type)
  kCatShort = 3,   // file name without its last four characters (".ini")
  kCatFile = 4,    // file name; hidden column
  kCatalogueColumns = 5
};

struct CatalogueRow {
  std::array<std::string, kCatalogueColumns> Cells;
};

// The files matching "<folder>/*.ini" (regular files, ".ini" in any letter
// case), sorted by name as a Windows listing returns them, one row each. A
// file without a second line shows empty cells. Folder default: "ECU".
std::vector<CatalogueRow> ListCatalogue(const std::string& folder = "ECU");

// Column widths in pixels for a grid `gridWidth` wide: 34, 444, 230, 45 and 0
// parts of 777, rounded.
std::array<int, kCatalogueColumns> CatalogueColumnWidths(int gridWidth);

// Window texts.
const char* CatalogueCaption();     // "Выбор ECU"
const char* CatalogueChooseText();  // "Выбрать авто и начать работу"
const char* CatalogueQuitText();    // "Выход"

// ---------------------------------------------------------------- load sequences

// What the caller does after a load sequence.
struct ConfigOutcome {
  // The program ends: the caller asks the application to quit with
  // kConfigQuitStatus after writing StderrLine to standard error.
  bool Quit = false;
  // A configuration was loaded: the caller (re)binds its module. False after
  // a choice that failed: the previous configuration stays in memory, with
  // its module.
  bool Loaded = false;
  // Not empty: show it in the application's error box (code page 1251).
  std::string Error;
  // For Quit: one line for standard error naming what is missing (UTF-8,
  // without the line end), e.g. "kestrel: ECU/TOYOTA/dtc.ini: file not found".
  std::string StderrLine;
};

// Closing of the catalogue window: `chosen` is the chosen flag, `fileName`
// column 4 of the chosen row. Quits when nothing was chosen, the name is
// empty, the file has disappeared or its ECU folder has no dtc.ini. Otherwise
// LoadInitOrKeep("ECU/" + name); on success ConfigFileName := "ECU/" + name,
// the trouble-code texts and the PID name lists are loaded, and the caller
// then rebinds the module (module_binding.h). A load that fails on a bad line
// shows its error and keeps the program running on the configuration it had
// before, unchanged (ConfigFileName, settings, lists; Loaded false).
ConfigOutcome LoadChosenConfiguration(bool chosen, const std::string& fileName,
                                      const std::string& folder = "ECU");

// The start-up load: ConfigMissing := LoadInit("ecu.ini") reported a missing
// file; ConfigFileName := "ecu.ini"; when the file was there, the trouble-code
// texts (quit without dtc.ini) and the PID name lists.
ConfigOutcome StartupLoad();

// An empty catalogue ends the program: the outcome to report for it.
ConfigOutcome EmptyCatalogueOutcome(const std::string& folder = "ECU");

}  // namespace kestrel
