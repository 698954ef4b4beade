// The configuration file and its loader.
//
// A configuration ("ecu.ini" or a catalogue file "ECU/<name>.ini") is plain
// code page 1251 text, one value per line, no keys: line 1 car name, 2 ECU
// type, 3 ECU folder, 4..27 link settings and engine constants, then the six
// request lists (dashboard, live data, freeze frames, trouble-code reading,
// trouble-code clearing with its ResetCount, ECU information), each a count
// line followed by that many request lines of hexadecimal digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "module/vorta.h"

namespace kestrel {

// Requests longer than this cannot be framed (the length byte of a frame
// counts at most 255 bytes including the checksum the link appends).
inline constexpr std::size_t kMaxRequestBytes = 254;
// A request needs its three header bytes and the service byte.
inline constexpr std::size_t kMinRequestBytes = 4;

// The conversion error texts of the application's error box; %s is the
// offending text.
inline constexpr const char* kNotInteger = "'%s' is not a valid integer value";
inline constexpr const char* kNotFloat = "'%s' is not a valid floating point value";
inline constexpr const char* kNotBoolean = "'%s' is not a valid boolean value";
// The standard file error shown when a file that must exist is missing.
inline constexpr const char* kFileNotFound = "File not found";

// What a load (or any other file operation of this layer) came to.
enum class LoadResult {
  Loaded,   // complete
  Missing,  // the file does not exist; nothing of it was read
  Failed,   // stopped on a bad line; the values before it keep their new values
};

struct LoadOutcome {
  LoadResult Result = LoadResult::Loaded;
  // For Failed: the text of the error box, code page 1251 (one of the
  // conversion texts above with the offending text, "File not found", or a
  // Russian text naming the file and line for a refused limit).
  std::string Error;
  // For Failed and Missing: the file concerned (as opened, '/' separators) and
  // the 1-based line (0 when the whole file is concerned).
  std::string File;
  int Line = 0;

  bool Ok() const { return Result == LoadResult::Loaded; }
};

// The outcome of a read that found no file at path.
inline LoadOutcome MissingOutcome(const std::string& path) {
  LoadOutcome out;
  out.Result = LoadResult::Missing;
  out.File = path;
  return out;
}

// Loads a configuration file.
//  0. Ends a running link session (it would read the tables being replaced).
//  1. Marks every row of the live table and of the freeze-frame window active
//     (RowInactive all 0) and every ResponseStore slot empty, even when the
//     file is missing.
//  2. Missing file: returns Missing; nothing else changes.
//  3. Reads lines 1..27 storing each value at once (CarName, EcuType,
//     EcuFolder, LinkSettings, LogEnabled, StartRequest, ReconnectTime, the
//     engine constants in ValueQuery), then the six lists into RequestTables,
//     setting ListsEnabled as each count is read and running the live pass and
//     the freeze pass (parameter_lists.h) after their lists.
//  4. Refreshes SettingsWindowFields (settings_model.h) from the new settings.
// A bad number stops the load with the conversion text; so do a count above
// 1001, a request line of more than 254 or fewer than 4 bytes, a list
// position or 8-bit value out of range, a missing VORTA.ini, or more rows or
// tests than the windows hold. Nothing is ever written past a table.
LoadOutcome LoadInit(const std::string& fileName);

// LoadInit for a choice of another configuration, which must not leave a mix
// of two: when the load fails part-way, everything it had already replaced
// (names, ECU folder, link settings, engine constants, request lists, rows,
// tests, graph channels, enabling of the lists, the settings window's
// fields) is put back, so what is in memory stays the configuration of
// ConfigFileName and nothing of the failed file can be written into it.
// Only the response store, emptied by step 1, stays empty.
LoadOutcome LoadInitOrKeep(const std::string& fileName);

// Two-digit hexadecimal field: one character gives that digit's value (255
// for a non-digit); two or more give 16*d1 + d2 (further characters ignored),
// modulo 256; empty text gives 0. Digits are "0123456789ABCDEF" only: any
// other character (lower case included) counts as -1.
std::uint8_t HexToByte(std::string_view text);

// A request line: upper-cases it, drops every non-hexadecimal character, takes
// the digits in pairs from the left (a lone last digit is ignored). Writes at
// most `capacity` bytes to `out` and returns the number of bytes the line
// holds (which may exceed capacity: the caller refuses such a line).
std::size_t HexToBytes(std::string_view line, std::uint8_t* out, std::size_t capacity);

// Fills one request entry from a request line: Data zeroed, then the bytes,
// Length, Skip 0. Returns false (entry untouched) when the line holds more
// than kMaxRequestBytes bytes.
bool ParseRequestLine(std::string_view line, vorta::RequestEntry& entry);

// The conversions of the loader, exposed for the settings reader and tests.
// Each returns false for text that does not convert.
bool ParseInteger(std::string_view text, std::int32_t& value);  // decimal, optional sign
bool ParseFloat(std::string_view text, double& value);          // the locale's decimal separator
bool ParseBoolean(std::string_view text, bool& value);  // a number (non-zero on), True/False

// The conversion error text for `format` (kNotInteger, ...) and the offending
// text, in code page 1251.
std::string ConversionError(const char* format, std::string_view text);

}  // namespace kestrel
