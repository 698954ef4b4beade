// The trouble-code window's logic: preparing a read or a clear, turning the
// vehicle module's code list into the window's grid rows, and the lines of
// its export. Texts are code page 1251.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/catalogue.h"
#include "module/vorta.h"
#include "screenlogic/export.h"

namespace kestrel {

// ---------------------------------------------------------------- sessions

// Before a read: every request of the reading table sent, and the Mode 07
// and DTC areas of the store zeroed, so only this read's codes are listed.
void PrepareDtcRead(vorta::RequestTable& table, std::uint8_t* store);

// The clearing table's ResetCount as the window uses it: a count larger than
// the table's Count is taken as 0 (and stored so).
std::uint16_t NormalizeResetCount(vorta::RequestTable& table);

// Before a clear: every request of the clearing table sent, except the last
// ResetCount entries (the memory-reset requests) unless `withReset`.
void PrepareDtcClear(vorta::RequestTable& table, bool withReset);

// ---------------------------------------------------------------- the tick

// What one tick of the window does besides showing the link status.
struct DtcTickActions {
  bool enableControls = false;  // the four buttons: the session has ended (idle or error)
  bool enableResetBox = false;  // the memory-reset check box too (ResetCount not 0)
  bool decode = false;          // decode both lists into the grids now
};

// The window's two flags: "reached" (a session has been exchanging, status 5
// or 6, since the last decode) and "decode". The lists are decoded once after
// every session that got as far as its request passes, a clear included, and
// also after one that ended in error once it had got that far. Both flags
// start cleared with the window.
class DtcTicker {
 public:
  // A read or a clear of this window has just been started (LinkStatus is
  // lsOpenPort). A tick may fall on either side of a short pass: a session
  // of this window that completed a pass (PassCount above 0) counts as
  // having reached the exchange even when no tick saw status 5 or 6.
  void SessionStarted() { started_ = true; }

  // One tick: `status` is LinkStatus, `passes` PassCount, `resetCount` the
  // clearing table's ResetCount.
  DtcTickActions Tick(std::uint16_t status, std::uint32_t passes, std::uint16_t resetCount);

  bool Reached() const { return reached_; }

 private:
  bool reached_ = false;
  bool decode_ = false;
  bool started_ = false;
};

// ---------------------------------------------------------------- decoding

// The two lists of the window and the module's list numbers for them.
enum DtcList : std::uint8_t { kDtcCurrent = 1, kDtcStored = 2 };

// The codes of a DTCError text: four hexadecimal digits each. Stops at the
// end of the text when it holds fewer than `count` codes.
std::vector<std::uint16_t> SplitCodes(const char* text, int count);

// A code as the grid shows it: a blank, the letter of the two top bits (P, C,
// B, U) and the other 14 bits as four hex digits (" P0301", " C0123").
std::string DtcCodeText(std::uint16_t code);

// A row number as the grid shows it: a blank and three digits (" 001").
std::string DtcRowNumber(int number);

// One row of a code grid: number, code, description.
struct DtcRow {
  std::string Number;
  std::string Code;
  std::string Text;
};

// One decoded list: the codes and the grid rows (at least one: an empty row
// when there is no code). A code without a description in the texts gets an
// empty description cell.
struct DtcListView {
  std::vector<std::uint16_t> Codes;
  std::vector<DtcRow> Rows;
  int Count() const { return static_cast<int>(Codes.size()); }
};

// Asks the module for one list and decodes it. Without a module the list is
// empty. Every code the module lists is shown, however many: the count is
// taken whole, not cut to a byte.
DtcListView DecodeDtcList(vorta::DtcErrorProc dtcError, const std::uint8_t* store, DtcList list,
                          const DtcTextTable& texts);

// Both lists, as one decode of the window fills its two grids.
struct DtcLists {
  DtcListView Current;
  DtcListView Stored;
};
DtcLists DecodeDtcLists(vorta::DtcErrorProc dtcError, const std::uint8_t* store,
                        const DtcTextTable& texts);

// ---------------------------------------------------------------- export

// The lines of the trouble-code export: date and time, car, ECU type, the two
// headed lists (one line per grid row: number, code and text with a blank
// between them).
std::vector<std::string> DtcExportLines(std::string_view date, std::string_view time,
                                        std::string_view car, std::string_view ecuType,
                                        const DtcLists& lists);
// The same with the current local date and time, both in the locale's short
// forms (the time without seconds).
std::vector<std::string> DtcExportLines(std::string_view car, std::string_view ecuType,
                                        const DtcLists& lists);

// Writes the export into the next free "ErrECU_<n>.txt" of `folder`: the
// window's copy button and kestrel-cli's "dtc --export".
ExportResult WriteDtcExport(std::string_view car, std::string_view ecuType, const DtcLists& lists,
                            std::string_view folder = kExportFolder);

}  // namespace kestrel
