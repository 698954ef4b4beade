// kestrel-cli: the configuration, the link and the vehicle module without a
// display. Loads a configuration, binds its module, runs one session the way
// the matching window does (through the windows' own logic, screenlogic/) and
// prints what the window would show, as UTF-8.
//
// Exit status: 0 success, 2 usage or configuration error (message on
// stderr), 3 link error (the status text "Ошибка XXXX" on stderr), 4 the
// export or recording file could not be written or the recording read (the
// error text on stderr), 130 interrupted by Ctrl-C or SIGTERM at any point
// ("Прервано пользователем" on stderr; the session is ended first).
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_report.h"
#include "cli/doctor.h"
#include "cli/exit_status.h"
#include "cli/export_command.h"
#include "cli/record.h"
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
#include "screenlogic/dashboard.h"
#include "screenlogic/ecu_info.h"
#include "screenlogic/export.h"
#include "screenlogic/freeze.h"
#include "screenlogic/sessions.h"
#include "screenlogic/table_rows.h"
#include "screenlogic/trouble_codes.h"

namespace kestrel::cli {
namespace {

// The signal that interrupted the run (0: none).
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

// The same as a flag, for the doctor's link checks and the recorder, which
// look at it between their steps.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnSignal(int signal) {
  int none = 0;
  g_signal.compare_exchange_strong(none, signal);
  g_interrupted.store(true);
}

bool Interrupted() {
  return g_signal.load() != 0;
}

// Installed before anything else runs, so that an interruption at any point
// (loading, initialising the ECU, polling, writing a file) ends the session
// cleanly and is reported as such.
void InstallSignals() {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

// Ends a run the user interrupted: its own line on stderr, its own status.
int ReportInterrupted() {
  StopSession();
  std::cerr << "Прервано пользователем (" << (g_signal.load() == SIGTERM ? "SIGTERM" : "SIGINT")
            << ")\n";
  return kExitInterrupted;
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

// Waits for the end of the one-pass session just started.
void FinishOnePass() {
  while (!WaitLinkIdle(100)) {
    if (Interrupted()) StopSession();
  }
  StopSession();
}

// Lets the cyclic session just started run until `passes` passes are
// complete (0: until interrupted) or the link fails. `tick`, when given, runs
// every 100 ms meanwhile, as a window's timer does, and once more when the
// passes are complete and the session is in its exchange.
void FinishPasses(unsigned passes, const std::function<void()>& tick = {}) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kTick = std::chrono::milliseconds(100);
  auto nextTick = Clock::now() + kTick;
  for (;;) {
    const std::uint16_t status = LinkStatus.load();
    if (status == lsError || status == lsIdle) break;
    // The last tick is taken in the exchange, which follows the first pass.
    if (passes != 0 && PassCount.load() >= passes && (!tick || status == lsExchange)) {
      if (tick) tick();
      break;
    }
    if (Interrupted()) break;
    if (tick && Clock::now() >= nextTick) {
      tick();
      nextTick += kTick;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  RunFlag.store(0);  // the session ends after the pass it is in
  while (!WaitLinkIdle(100)) {
    if (Interrupted()) StopSession();
  }
  StopSession();
}

// Puts the value of every row into its column 3 as the window's tick does,
// then prints the rows.
void PrintRows(ParameterTable& rows, RowKeys keys) {
  ValueCacheArray cache;
  std::vector<int> changed;
  RefreshRowValues(rows, ResponseBlock, VehicleModule.PIDVAL, keys, cache, changed);
  if (rows.Empty()) return;
  for (int r = 0; r < rows.RowCount; ++r) {
    std::cout << RowLine(rows.Rows[r], rows.Rows[r].Cells[kColValue]) << "\n";
  }
}

// Whether an interrupted run still prints what it shows: polling until
// interrupted (--passes 0) ends that way, after at least one whole pass.
bool ShowsWhenInterrupted(const Options& o) {
  return o.Passes == 0 && PassCount.load() > 0;
}

int Live(const Options& o) {
  StartLivePolling();
  FinishPasses(o.Passes);
  if (Interrupted() && !ShowsWhenInterrupted(o)) return ReportInterrupted();
  if (!Interrupted() && SessionFailed()) return LinkFailed();
  PrintRows(LiveRows, RowKeys::Live());
  return kExitOk;  // Run() reports an interruption that came meanwhile
}

// A label's text without the blank the dashboard puts after its large numbers.
std::string Shown(const std::string& label) {
  return Utf8(!label.empty() && label.back() == ' ' ? label.substr(0, label.size() - 1) : label);
}

int Dashboard(const Options& o) {
  // The dashboard's own ticks over the poll, so that the consumption sums,
  // averages and fuel used and the lever picture are what it would show.
  DashboardLogic dashboard;
  dashboard.Show();
  dashboard.Activate();
  StartDashboardPolling();
  FinishPasses(o.Passes, [&dashboard] {
    const DashboardTick tick = dashboard.Update(LinkStatus.load(), LinkError.load(), RunFlag.load(),
                                                VehicleModule.Panel, ResponseStore, ValueQuery);
    if (tick.StopPolling) RunFlag.store(0);
  });
  if (Interrupted() && !ShowsWhenInterrupted(o)) return ReportInterrupted();
  if (!Interrupted() && SessionFailed()) return LinkFailed();

  const DashboardView& v = dashboard.View();
  const std::string none = "нет данных";
  std::cout << Line("gauge1", "Температура охлаждающей жидкости", Shown(v.Bars[0].Text), "°C")
            << "\n"
            << Line("gauge2", "Температура жидкости АКПП", Shown(v.Bars[1].Text), "°C") << "\n"
            << Line("gauge3", "Нагрузка на двигатель", Shown(v.Bars[2].Text), "%") << "\n"
            << Line("gauge4", "Обороты двигателя", Shown(v.Rpm), "об/мин") << "\n"
            << Line("speed", "Скорость", Shown(v.Speed), "км/ч") << "\n"
            << Line("gear", "Текущая передача АКПП", v.GearVisible ? Shown(v.Gear) : none, "")
            << "\n"
            << Line("selector", "Положение переключателя АКПП",
                    v.SelectorVisible ? SelectorLetter(v.Selector) : none, "")
            << "\n"
            << Line("od", "Выключение режима Овердрайв", v.OverdriveOff ? "Вкл" : "Выкл", "")
            << "\n"
            << Line("lamp", "Лампа неисправности", v.Lamp ? "Вкл" : "Выкл", "") << "\n"
            << Line("codes", "Количество ошибок", Shown(v.Codes), "") << "\n"
            << Line("flow", "Мгновенный расход", Shown(v.FlowMlh), "мл/ч") << "\n"
            << Line("flowavg", "Средний расход", Shown(v.AvgMlh), "мл/ч") << "\n"
            << Line("flow100", "Мгновенный расход на 100 км", Shown(v.FlowL100), "л/100км") << "\n"
            << Line("flow100avg", "Средний расход на 100 км", Shown(v.AvgL100), "л/100км") << "\n"
            << Line("fuel", "Израсходованное топливо", Shown(v.FuelUsed), "л") << "\n";
  return kExitOk;  // Run() reports an interruption that came meanwhile
}

// Reports the export file written: its name on stdout, or the error on stderr.
int Exported(const ExportResult& result) {
  if (!result.ok) {
    std::cerr << "kestrel-cli: " << Utf8(result.error) << "\n";
    return kExitExport;
  }
  std::cout << "Записан файл " << Utf8(result.path) << "\n";
  return kExitOk;
}

int Freeze(const Options& o) {
  const auto frame = static_cast<std::uint8_t>(o.Frame);
  StartFreezeRead(frame);
  FinishOnePass();
  if (Interrupted()) return ReportInterrupted();
  if (SessionFailed()) return LinkFailed();
  PrintRows(FreezeRows, RowKeys::FreezeFrame(frame));
  if (o.Export) return Exported(WriteFreezeExport(CarName, EcuType, frame, FreezeRows));
  return kExitOk;
}

void PrintCodes(const char* title, const DtcListView& view) {
  std::cout << title << " " << view.Count() << "\n";
  for (int i = 0; i < view.Count(); ++i) {
    const DtcRow& row = view.Rows[i];
    std::cout << WithoutLeadingBlank(row.Code) << "\t" << Utf8(row.Text) << "\n";
  }
}

// Watches the trouble-code session just started as the window's tick does,
// until it ends; true when the lists are to be decoded (the session got as
// far as its request passes, even if it then failed).
bool WatchDtcSession() {
  DtcTicker ticker;
  ticker.SessionStarted();
  bool decode = false;
  for (;;) {
    const std::uint16_t status = LinkStatus.load();
    const DtcTickActions a =
        ticker.Tick(status, PassCount.load(), RequestTables[kDtcClearTable].ResetCount);
    decode = decode || a.decode;
    if (a.enableControls) break;
    if (Interrupted()) StopSession();
    WaitLinkIdle(20);
  }
  StopSession();
  return decode;
}

int Dtc(const Options& o) {
  StartDtcRead();
  const bool decode = WatchDtcSession();
  if (Interrupted()) return ReportInterrupted();
  if (!decode) return LinkFailed();
  const DtcLists lists = DecodeDtcLists(VehicleModule.DTCError, ResponseStore, DtcTexts);
  PrintCodes("Текущие ошибки:", lists.Current);
  PrintCodes("Сохраненные ошибки:", lists.Stored);
  if (o.Export) {
    if (const int status = Exported(WriteDtcExport(CarName, EcuType, lists)); status != kExitOk) {
      return status;
    }
  }
  // What arrived before a link error is shown; the error still ends the run.
  if (SessionFailed()) return LinkFailed();
  return kExitOk;
}

int Clear(const Options& o) {
  const bool reset = NormalizeResetCount(RequestTables[kDtcClearTable]) > 0;
  StartDtcClear(o.Reset);
  WatchDtcSession();
  if (Interrupted()) return ReportInterrupted();
  if (SessionFailed()) return LinkFailed();
  std::cout << (o.Reset && reset ? "Ошибки удалены, внутренняя память ECU сброшена"
                                 : "Ошибки удалены")
            << "\n";
  return kExitOk;
}

int Info(const Options& o) {
  StartInfoRead();
  FinishOnePass();
  if (Interrupted()) return ReportInterrupted();
  if (SessionFailed()) return LinkFailed();
  SupportTicks ticks;
  const InfoView info = DecodeInfo(ResponseStore, ticks);
  const SupportItems items = SupportItemsFrom(PidNames);
  std::cout << "ID ECU:\t" << Utf8(info.Ident) << "\n";
  std::cout << "Тип OBD:\t" << Utf8(info.ObdType) << "\n";
  std::cout << "Датчики кислорода и их расположение:\n";
  for (const std::string& s : info.Sensors) std::cout << "\t" << Utf8(s) << "\n";
  if (!info.Vin.empty()) std::cout << "VIN:\t" << info.Vin << "\n";
  for (int list = 0; list < kSupportLists; ++list) {
    std::cout << "Список PID у " << kSupportListNames[list] << ":";
    for (int id : ticks.Ticked(list)) std::cout << " " << SupportItemHex(items, list, id);
    std::cout << "\n";
  }
  if (o.Export) return Exported(WriteInfoExport(CarName, EcuType, info, ticks, items));
  return kExitOk;
}

int ExportRecording(const Options& o) {
  const RecordingExportOutcome out = ExportRecordingFile(o.Recording, o.Csv, Interrupted);
  if (out.Empty) {
    std::cout << "В записи нет данных, файл не записан: " << Utf8(out.Result.path) << "\n";
    return kExitOk;
  }
  return Exported(out.Result);
}

int RunCommand(int argc, char** argv) {
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
  if (o.Cmd == Command::Doctor) return RunDoctor(o, &g_interrupted);
  if (const int status = Prepare(o); status != kExitOk) return status;
  if (Interrupted()) return ReportInterrupted();
  switch (o.Cmd) {
    case Command::Live:
      return Live(o);
    case Command::Dashboard:
      return Dashboard(o);
    case Command::Freeze:
      return Freeze(o);
    case Command::Dtc:
      return Dtc(o);
    case Command::Clear:
      return Clear(o);
    case Command::Info:
      return Info(o);
    case Command::Export:
      return ExportRecording(o);
    case Command::Record:
      return Record(o, g_interrupted);
    case Command::Doctor:
      break;
  }
  return kExitConfig;
}

int Run(int argc, char** argv) {
  InstallSignals();
  const int status = RunCommand(argc, argv);
  // Interrupted after the command's last look (while printing or writing
  // its file): still an interrupted run.
  if (Interrupted() && status != kExitInterrupted) return ReportInterrupted();
  return status;
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
