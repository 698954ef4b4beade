#include "cli/cli_options.h"

#include <cerrno>
#include <cstdlib>

namespace kestrel::cli {

namespace {

bool ParseUnsigned(const std::string& text, unsigned max, unsigned& value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const unsigned long v = std::strtoul(text.c_str(), nullptr, 10);
  if (v > max) return false;
  value = static_cast<unsigned>(v);
  return true;
}

ParseResult Fail(std::string error) {
  ParseResult r;
  r.Error = std::move(error);
  return r;
}

}  // namespace

const char* UsageText() {
  return "usage: kestrel-cli [--workdir DIR] [--config FILE] [--port COMn|DEVICE] [--log] COMMAND\n"
         "  live [--passes N]       live-data table, N cyclic passes (0: until interrupted)\n"
         "  dashboard [--passes N]  dashboard table, then what the dashboard shows\n"
         "  freeze [--frame N] [--export]\n"
         "                          one pass of the freeze-frame table for frame N (0..255)\n"
         "  dtc [--export]          current and stored trouble codes with descriptions\n"
         "  clear [--reset]         clear the codes, with the memory-reset requests when asked\n"
         "  info [--export]         ECU identification, OBD type, oxygen sensors, PID lists\n"
         "  export FILE.rtd [--csv] the recording's table as the workbook FILE.xlsx beside it\n"
         "                          (or FILE.csv: UTF-8, a heading row, the same lines)\n"
         "  record FILE [--channels LIST] [--seconds N]\n"
         "                          poll up to eight channels as the graphs window does and\n"
         "                          record the responses into FILE (*.rtd) for N seconds\n"
         "                          (0: until interrupted); LIST is comma-separated codes as\n"
         "                          \"live\" prints them (2105), with /SELECTOR where a code\n"
         "                          has several rows (2101/08), or - for none; default: the\n"
         "                          first eight rows\n"
         "  doctor [--port COMn|DEVICE]\n"
         "                          the adapter and the link checked step by step, in Russian\n"
         "  --export writes what the window copies: Kadr/kadrM2_<n>.txt, Kadr/InfoECU.txt\n"
         "Rows are printed as UTF-8: code<TAB>name<TAB>value<TAB>unit.\n"
         "Exit status: 0 success, 2 usage or configuration error, 3 link error (doctor: a\n"
         "step failed), 4 the export file could not be written (or the recording read),\n"
         "130 interrupted (Ctrl-C or SIGTERM, at any point; live and dashboard with\n"
         "--passes 0 print what they show first).\n";
}

ParseResult ParseOptions(const std::vector<std::string>& args) {
  ParseResult r;
  Options& o = r.Opts;
  bool haveCommand = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    if (a == "-h" || a == "--help") {
      r.Ok = true;
      r.Help = true;
      return r;
    } else if (!haveCommand && a == "--workdir") {
      if (!value(o.Workdir) || o.Workdir.empty()) return Fail("--workdir needs a folder");
    } else if (!haveCommand && a == "--config") {
      if (!value(o.Config) || o.Config.empty()) return Fail("--config needs a file");
    } else if (!haveCommand && a == "--port") {
      if (!value(o.Port) || o.Port.empty()) return Fail("--port needs COMn or a device");
    } else if (!haveCommand && a == "--log") {
      o.Log = true;
    } else if (!haveCommand) {
      if (a == "live") {
        o.Cmd = Command::Live;
      } else if (a == "dashboard") {
        o.Cmd = Command::Dashboard;
      } else if (a == "freeze") {
        o.Cmd = Command::Freeze;
      } else if (a == "dtc") {
        o.Cmd = Command::Dtc;
      } else if (a == "clear") {
        o.Cmd = Command::Clear;
      } else if (a == "info") {
        o.Cmd = Command::Info;
      } else if (a == "export") {
        o.Cmd = Command::Export;
      } else if (a == "doctor") {
        o.Cmd = Command::Doctor;
      } else if (a == "record") {
        o.Cmd = Command::Record;
      } else {
        return Fail("unknown command or option '" + a + "'");
      }
      haveCommand = true;
    } else if (a == "--passes" && (o.Cmd == Command::Live || o.Cmd == Command::Dashboard)) {
      if (!value(v) || !ParseUnsigned(v, 1000000000u, o.Passes)) {
        return Fail("--passes needs a number of passes (0: until interrupted)");
      }
    } else if (a == "--frame" && o.Cmd == Command::Freeze) {
      if (!value(v) || !ParseUnsigned(v, 255, o.Frame)) return Fail("--frame needs 0..255");
    } else if (a == "--port" && o.Cmd == Command::Doctor) {
      if (!value(o.Port) || o.Port.empty()) return Fail("--port needs COMn or a device");
    } else if (a == "--reset" && o.Cmd == Command::Clear) {
      o.Reset = true;
    } else if (a == "--export" &&
               (o.Cmd == Command::Freeze || o.Cmd == Command::Dtc || o.Cmd == Command::Info)) {
      o.Export = true;
    } else if (a == "--csv" && o.Cmd == Command::Export) {
      o.Csv = true;
    } else if (o.Cmd == Command::Export && o.Recording.empty() && !a.empty() && a[0] != '-') {
      o.Recording = a;
    } else if (a == "--channels" && o.Cmd == Command::Record) {
      if (!value(o.Channels) || o.Channels.empty()) return Fail("--channels needs a list");
    } else if (a == "--seconds" && o.Cmd == Command::Record) {
      if (!value(v) || !ParseUnsigned(v, 1000000000u, o.Seconds)) {
        return Fail("--seconds needs a number of seconds (0: until interrupted)");
      }
    } else if (o.Cmd == Command::Record && o.File.empty() && !a.empty() && a[0] != '-') {
      o.File = a;
    } else {
      return Fail("unexpected argument '" + a + "'");
    }
  }
  if (!haveCommand) return Fail("no command given");
  if (o.Cmd == Command::Export && o.Recording.empty()) return Fail("export needs a recording file");
  if (o.Cmd == Command::Record && o.File.empty()) return Fail("record needs a file");
  r.Ok = true;
  return r;
}

}  // namespace kestrel::cli
