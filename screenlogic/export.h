// Text exports into the folder "Kadr": the numbered files of the live table,
// the freeze frames and the trouble codes, and the ECU information file.
//
// Every numbered kind counts its files on its own: the next file is the
// kind's ExportCounter plus one, skipping numbers whose files already exist.
// Files are code page 1251 text with CR LF line ends; the table exports begin
// with the common six-line ExportHeader. The windows and kestrel-cli pass in
// the lines.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

enum ExportKind : int {
  kExportLive = 0,    // "kadrM1_": live data table
  kExportFreeze = 1,  // "kadrM2_": freeze frames
  kExportDtc = 2,     // "ErrECU_": trouble codes
  kExportKindCount = 3,
};

// The last file number used per kind; zero when the program starts.
extern int ExportCounter[kExportKindCount];
void ResetExportCounters();

inline constexpr std::string_view kExportFolder = "Kadr";

// "kadrM1_", "kadrM2_" or "ErrECU_".
std::string_view ExportPrefix(ExportKind kind);

// folder + "/" + prefix + n + ".txt".
std::string ExportFileName(std::string_view folder, std::string_view prefix, int number);

// The date and time as the user's locale (LC_TIME of the environment) writes
// them in short form: the date with "%x", the time with "%X". Code page 1251.
std::string ExportDateText(const std::tm& when);
std::string ExportTimeText(const std::tm& when);

// The time in the locale's short form: its time format without the seconds
// (the trouble-code export's first line). Code page 1251.
std::string ExportShortTimeText(const std::tm& when);

// A time format without its seconds field: "%H:%M:%S" gives "%H:%M",
// "%r" (and "%I:%M:%S %p") gives "%I:%M %p"; the separator before the
// seconds goes with them. A format without seconds is kept as it is.
std::string ShortTimePattern(std::string_view pattern);

// The six header lines: "Дата: <date> Время: <time>", "", "Автомобиль: <car>",
// "Тип ECU: <ecu>", <title>, "". All texts code page 1251.
std::vector<std::string> ExportHeader(std::string_view date, std::string_view time,
                                      std::string_view car, std::string_view ecuType,
                                      std::string_view title);
// The same with the current local date and time.
std::vector<std::string> ExportHeader(std::string_view car, std::string_view ecuType,
                                      std::string_view title);

// One table line of the live and freeze-frame exports: column 0, a blank,
// column 1, a blank, column 2 padded or cut to 63 characters, a blank,
// column 3 right-aligned and cut to its last 20 characters, a blank, column 4.
std::string KadrLine(std::string_view col0, std::string_view col1, std::string_view col2,
                     std::string_view col3, std::string_view col4);

struct ExportResult {
  bool ok = false;
  std::string path;   // the file written (or the one that failed)
  std::string error;  // why it failed, for the error box (code page 1251)
};

// Writes lines (code page 1251, each ended with CR LF) into the next free
// numbered file of the kind in folder, creating the folder when it is missing.
// The counter is advanced to the number tried even when writing fails; a file
// that could not be written completely is removed. An existing file is never
// overwritten.
ExportResult WriteExport(ExportKind kind, const std::vector<std::string>& lines,
                         std::string_view folder = kExportFolder);

// The ECU information window's file "InfoECU.txt".
inline constexpr std::string_view kInfoExportName = "InfoECU.txt";

// Writes lines (each ended with CR LF) into folder/name, creating the folder
// when it is missing and replacing an existing file in one step: the lines go
// into a temporary file beside it, which is then renamed over it, so a failed
// write leaves the old file as it was.
ExportResult WriteTextFile(const std::vector<std::string>& lines, std::string_view name,
                           std::string_view folder = kExportFolder);

}  // namespace kestrel
