// Command line of kestrel-cli.
//
//   kestrel-cli [--workdir DIR] [--config FILE] [--port COMn|DEVICE] [--log] COMMAND
//     live [--passes N]      live-data table, N cyclic passes (0: until interrupted)
//     dashboard [--passes N] dashboard table, then what the dashboard shows
//     freeze [--frame N] [--export]  one pass of the freeze-frame table for frame N
//     dtc [--export]         current and stored trouble codes with descriptions
//     clear [--reset]        clear the codes (with the memory-reset requests)
//     info [--export]        ECU identification, OBD type, oxygen sensors, PID lists
//     export FILE [--csv]    a recording's table as a workbook (or CSV) beside it
//     doctor [--port COMn|DEVICE]  the adapter and the link checked step by step
//     record FILE [--channels LIST] [--seconds N]  the graphs window's recording
//   --export writes the window's file into Kadr/ (kadrM2_<n>.txt, ErrECU_<n>.txt, InfoECU.txt).
#pragma once

#include <string>
#include <vector>

namespace kestrel::cli {

enum class Command { Live, Dashboard, Freeze, Dtc, Clear, Info, Export, Doctor, Record };

struct Options {
  std::string Workdir;             // empty: the current directory
  std::string Config = "ecu.ini";  // relative to the working directory
  std::string Port;                // empty: the configuration's port
  bool Log = false;
  Command Cmd = Command::Live;
  unsigned Passes = 1;    // live, dashboard; 0 = until interrupted
  unsigned Frame = 0;     // freeze, 0..255
  bool Reset = false;     // clear
  bool Export = false;    // freeze, dtc, info: also write the window's export file
  std::string Recording;  // export: the recording, as the shell gives it
  bool Csv = false;       // export: CSV instead of the workbook
  std::string File;       // record: the recording to write
  std::string Channels;   // record: up to eight channels, comma-separated; empty: the first rows
  unsigned Seconds = 0;   // record: how long; 0 = until interrupted or the link fails
};

struct ParseResult {
  bool Ok = false;
  bool Help = false;
  std::string Error;  // for !Ok: what is wrong (UTF-8)
  Options Opts;
};

ParseResult ParseOptions(const std::vector<std::string>& args);

// The usage text (UTF-8, several lines).
const char* UsageText();

}  // namespace kestrel::cli
