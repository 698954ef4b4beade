// kestrel-cli: the configuration, the link and the vehicle module without a
// display. Loads a configuration, binds its module, runs one session the way
// the matching window does and prints what the window would show, as UTF-8.
//
// Exit status: 0 success, 2 usage or configuration error (message on
// stderr), 3 link error (the status text "Ошибка XXXX" on stderr).
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_report.h"
#include "common/cp1251.h"
#include "common/disk_path.h"
#include "config/catalogue.h"
#include "config/config_globals.h"
#include "config/load_init.h"
#include "config/module_binding.h"
#include "config/parameter_lists.h"
#include "link/link_globals.h"
#include "link/port_map.h"
#include "link/session.h"

namespace kestrel::cli {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitConfig = 2;
constexpr int kExitLink = 3;
constexpr std::int32_t kDtcResponseWait = 1000;  // ms, as the trouble-code window

std::atomic<bool> g_interrupted{false};

extern "C" void OnSignal(int) {
  g_interrupted.store(true);
}

void InstallSignals() {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

int ConfigError(const std::string& utf8) {
  std::cerr << "kestrel-cli: " << utf8 << "\n";
  return kExitConfig;
}

std::string Where(const LoadOutcome& out) {
  std::string where = cp1251::ToUtf8(out.File);
  if (out.Line > 0) where += ":" + std::to_string(out.Line);
  return where.empty() ? std::string() : where + ": ";
}

// Loads the configuration, its trouble-code texts and PID names, binds the
// module and applies --port and --log. Returns kExitOk or the exit status.
int Prepare(const Options& o) {
  // The file as the shell gave it (UTF-8) in the program's code page.
  const std::string config = FromDiskPath(o.Config);
  const LoadOutcome load = LoadInit(config);
  if (load.Result == LoadResult::Missing) return ConfigError(o.Config + ": file not found");
  if (!load.Ok()) return ConfigError(Where(load) + cp1251::ToUtf8(load.Error));
  ConfigFileName = config;
  const LoadOutcome dtc = LoadDtcTexts();
  if (dtc.Result == LoadResult::Missing) {
    return ConfigError(cp1251::ToUtf8(dtc.File) + ": file not found");
  }
  if (!dtc.Ok()) return ConfigError(cp1251::ToUtf8(dtc.Error));
  const LoadOutcome names = PidNamePass(EcuFilePath("VORTA.ini"));
  if (!names.Ok()) return ConfigError(Where(names) + cp1251::ToUtf8(names.Error));
  const BindOutcome bind = Bind();
  if (!bind.Ok) {
    std::string line = bind.StderrLine;
    if (line.rfind("kestrel: ", 0) == 0) line.erase(0, 9);
    return ConfigError(line);
  }
  if (!o.Port.empty()) {
    if (ComNumber(o.Port) > 0) {
      LinkSettings.PortName = o.Port;
    } else {
      // A device path: map the configuration's COM name to it in memory, so
      // that the user's ports.ini stays as it is.
      if (ComNumber(LinkSettings.PortName) == 0) LinkSettings.PortName = "COM1";
      SetPortDeviceOverride(LinkSettings.PortName, o.Port);
    }
  }
  if (o.Log) LogEnabled.store(1);
  return kExitOk;
}

// Ends a session that stopped with a link error: the status text on stderr.
int LinkFailed() {
  std::cerr << cp1251::ToUtf8(CurrentLinkStatusText()) << "\n";
  return kExitLink;
}

bool SessionFailed() {
  return LinkStatus.load() == lsError || LinkError.load() != 0;
}

// A one-pass session over `table`.
void OnePass(vorta::RequestTable& table, std::int32_t responseWait) {
  StartSession(table, responseWait, 0);
  while (!WaitLinkIdle(100)) {
    if (g_interrupted.load()) StopSession();
  }
  StopSession();
}

// A cyclic session over `table` until `passes` passes are complete (0: until
// interrupted) or the link fails.
void CyclicPasses(vorta::RequestTable& table, unsigned passes) {
  StartSession(table, LinkSettings.P2, 1);
  for (;;) {
    const std::uint16_t status = LinkStatus.load();
    if (status == lsError || status == lsIdle) break;
    if (passes != 0 && PassCount.load() >= passes) break;
    if (g_interrupted.load()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  RunFlag.store(0);  // the session ends after the pass it is in
  while (!WaitLinkIdle(100)) {
    if (g_interrupted.load()) StopSession();
  }
  StopSession();
}

std::string ModuleValue(const ParameterRow& row, std::uint8_t id2, std::uint8_t format) {
  const RowIds ids = RowIdsOf(row);
  ValueQuery.Service = ids.Service;
  ValueQuery.Id1 = ids.Id1;
  ValueQuery.Id2 = id2;
  ValueQuery.Format = format;
  VehicleModule.PIDVAL(ResponseStore);
  return ValueQuery.Text ? std::string(ValueQuery.Text) : std::string();
}

int Live(const Options& o) {
  vorta::RequestTable& table = RequestTables[kLiveTable];
  // As the live table prepares them: actuator tests and the test-mode request
  // are sent only when a test arms them.
  for (int e = 0; e < table.Count; ++e) {
    vorta::RequestEntry& entry = table.Entries[e];
    const bool test = entry.Data[3] == 0x30 || (entry.Data[3] == 0x10 && entry.Data[4] == 0x01);
    SetSkip(entry, test ? 1 : 0);
  }
  CyclicPasses(table, o.Passes);
  if (SessionFailed()) return LinkFailed();
  if (LiveRows.Empty()) return kExitOk;
  for (int r = 0; r < LiveRows.RowCount; ++r) {
    const ParameterRow& row = LiveRows.Rows[r];
    std::cout << RowLine(row, ModuleValue(row, RowIdsOf(row).Id2, LiveFormatOf(row))) << "\n";
  }
  return kExitOk;
}

int Dashboard(const Options& o) {
  vorta::RequestTable& table = RequestTables[kDashboardTable];
  for (int e = 0; e < table.Count; ++e) SetSkip(table.Entries[e], 0);
  CyclicPasses(table, o.Passes);
  if (SessionFailed()) return LinkFailed();

  vorta::PanelRecord panel{};
  panel.Store = ResponseStore;
  // The dashboard's four gauges: coolant, fluid temperature, load, engine speed.
  const std::uint8_t sources[4] = {2, 9, 1, 4};
  for (int g = 0; g < 4; ++g) panel.Gauges[g].Source = sources[g];
  panel.Cylinders = ValueQuery.Cylinders;
  panel.InjectorFlow = ValueQuery.InjectorFlow;
  panel.Displacement = ValueQuery.Displacement;
  panel.FuelFactor = ValueQuery.FuelFactor;
  panel.MapCorrection = ValueQuery.MapCorrection;
  VehicleModule.Panel(&panel);

  std::cout << Line("gauge1", "Температура охлаждающей жидкости", Fixed(panel.Gauges[0].Value, 0),
                    "°C")
            << "\n"
            << Line("gauge2", "Температура жидкости АКПП", Fixed(panel.Gauges[1].Value, 0), "°C")
            << "\n"
            << Line("gauge3", "Нагрузка на двигатель", Fixed(panel.Gauges[2].Value, 0), "%") << "\n"
            << Line("gauge4", "Обороты двигателя", Fixed(panel.Gauges[3].Value, 0), "об/мин")
            << "\n"
            << Line("speed", "Скорость", Fixed(panel.Speed, 0), "км/ч") << "\n"
            << Line("gear", "Текущая передача АКПП", GearText(panel.Gear), "") << "\n"
            << Line("selector", "Положение переключателя АКПП", SelectorText(panel.Selector), "")
            << "\n"
            << Line("lamp", "Лампа неисправности", panel.CheckLamp ? "Вкл" : "Выкл", "") << "\n"
            << Line("codes", "Количество ошибок", std::to_string(panel.DtcCount), "") << "\n"
            << Line("flow", "Мгновенный расход", Fixed(panel.FlowMlh, 2), "мл/ч") << "\n"
            << Line("flow100", "Мгновенный расход на 100 км",
                    panel.Speed != 0 ? Fixed(panel.FlowL100, 2) : "?", "л/100км")
            << "\n";
  return kExitOk;
}

int Freeze(const Options& o) {
  vorta::RequestTable& table = RequestTables[kFreezeTable];
  // As the freeze-frame window: the frame number goes into byte 5 of every
  // request but the first, which keeps the frame written in the file.
  const auto frame = static_cast<std::uint8_t>(o.Frame);
  for (int e = 1; e < table.Count; ++e) table.Entries[e].Data[5] = frame;
  for (int e = 0; e < table.Count; ++e) SetSkip(table.Entries[e], 0);
  for (std::size_t pid = 0; pid < 256; ++pid) {
    ResponseStore[vorta::kMode02Offset + (pid * 256 + frame) * vorta::kSlotSize +
                  vorta::kSlotCountByte] = 0;
  }
  OnePass(table, LinkSettings.P2);
  if (SessionFailed()) return LinkFailed();
  if (FreezeRows.Empty()) return kExitOk;
  for (int r = 0; r < FreezeRows.RowCount; ++r) {
    const ParameterRow& row = FreezeRows.Rows[r];
    std::cout << RowLine(row, ModuleValue(row, frame, FreezeFormatOf(row))) << "\n";
  }
  return kExitOk;
}

void PrintCodes(const char* title, std::uint8_t list) {
  vorta::DtcQuery query{};
  query.Store = ResponseStore;
  query.List = list;
  VehicleModule.DTCError(&query);
  const std::vector<std::uint16_t> codes = SplitCodes(query.Text, query.Count);
  std::cout << title << " " << codes.size() << "\n";
  for (std::uint16_t code : codes) {
    const std::string* text = DtcTexts.Find(code);
    std::cout << DtcCodeText(code) << "\t" << (text ? cp1251::ToUtf8(*text) : std::string())
              << "\n";
  }
}

int Dtc() {
  vorta::RequestTable& table = RequestTables[kDtcReadTable];
  for (int e = 0; e < table.Count; ++e) SetSkip(table.Entries[e], 0);
  std::memset(ResponseStore + vorta::kMode07Offset, 0, vorta::kMode07Size);
  std::memset(ResponseStore + vorta::kDtcOffset, 0, vorta::kDtcSize);
  OnePass(table, kDtcResponseWait);
  if (SessionFailed()) return LinkFailed();
  PrintCodes("Текущие ошибки:", 1);
  PrintCodes("Сохраненные ошибки:", 2);
  return kExitOk;
}

int Clear(const Options& o) {
  vorta::RequestTable& table = RequestTables[kDtcClearTable];
  const int count = table.Count;
  const int reset = table.ResetCount <= count ? table.ResetCount : 0;
  for (int e = 0; e < count; ++e) {
    const bool resetRequest = e >= count - reset;
    SetSkip(table.Entries[e], resetRequest && !o.Reset ? 1 : 0);
  }
  OnePass(table, kDtcResponseWait);
  if (SessionFailed()) return LinkFailed();
  std::cout << (o.Reset && reset > 0 ? "Ошибки удалены, внутренняя память ECU сброшена"
                                     : "Ошибки удалены")
            << "\n";
  return kExitOk;
}

int Info() {
  vorta::RequestTable& table = RequestTables[kInfoTable];
  for (int e = 0; e < table.Count; ++e) SetSkip(table.Entries[e], 0);
  OnePass(table, LinkSettings.P2);
  if (SessionFailed()) return LinkFailed();
  const InfoReport info = DecodeInfo(ResponseStore);
  std::cout << "ID ECU:\t" << info.Ident << "\n";
  std::cout << "Тип OBD:\t" << info.ObdType << "\n";
  std::cout << "Датчики кислорода и их расположение:\n";
  for (const std::string& s : info.Sensors) std::cout << "\t" << s << "\n";
  if (!info.Vin.empty()) std::cout << "VIN:\t" << info.Vin << "\n";
  for (int list = 0; list < 5; ++list) {
    std::cout << "Список PID у " << kSupportListNames[list] << ":";
    for (int id : info.Supported[list]) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02X", id);
      std::cout << " " << hex;
    }
    std::cout << "\n";
  }
  return kExitOk;
}

int Run(int argc, char** argv) {
  const ParseResult parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (parsed.Help) {
    std::cout << UsageText();
    return kExitOk;
  }
  if (!parsed.Ok) {
    std::cerr << "kestrel-cli: " << parsed.Error << "\n" << UsageText();
    return kExitConfig;
  }
  const Options& o = parsed.Opts;
  if (!o.Workdir.empty() && ::chdir(o.Workdir.c_str()) != 0) {
    return ConfigError(o.Workdir + ": " + std::strerror(errno));
  }
  if (const int status = Prepare(o); status != kExitOk) return status;
  InstallSignals();
  switch (o.Cmd) {
    case Command::Live:
      return Live(o);
    case Command::Dashboard:
      return Dashboard(o);
    case Command::Freeze:
      return Freeze(o);
    case Command::Dtc:
      return Dtc();
    case Command::Clear:
      return Clear(o);
    case Command::Info:
      return Info();
  }
  return kExitConfig;
}

}  // namespace
}  // namespace kestrel::cli

int main(int argc, char** argv) {
  // Numeric texts of the module use the locale's decimal separator.
  std::setlocale(LC_NUMERIC, "");
  const int status = kestrel::cli::Run(argc, argv);
  kestrel::StopSession();
  std::cout.flush();
  return status;
}
