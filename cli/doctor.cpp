#include "cli/doctor.h"

#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "common/cp1251.h"
#include "common/disk_path.h"
#include "config/config_globals.h"
#include "config/load_init.h"
#include "link/doctor_device.h"
#include "link/doctor_link.h"
#include "link/link_globals.h"
#include "link/port_map.h"
#include "link/termios_line.h"
#include "link/termios_port.h"

namespace kestrel::cli {

namespace {

using namespace cp1251_literals;
using doctor::StepReport;
using doctor::Verdict;

std::string Utf(const std::string& cp) {
  return cp1251::ToUtf8(cp);
}

const char* VerdictText(Verdict v) {
  switch (v) {
    case Verdict::Passed:
      return "OK";
    case Verdict::Failed:
      return "ОШИБКА";
    case Verdict::NotApplicable:
      return "не требуется";
    case Verdict::NotRun:
      break;
  }
  return "не проверялось";
}

// Prints the steps as they come, numbered, with their findings and advice
// indented below them.
class Printer {
 public:
  void Print(const StepReport& s) {
    const int n = ++count_;
    std::cout << (n < 10 ? " " : "") << n << ". " << Utf(s.Title) << ": " << VerdictText(s.Result)
              << "\n";
    Indented(s.Found, "");
    if (s.Result == Verdict::Failed) Indented(s.Advice, "Что сделать: ");
    std::cout.flush();
    if (!doctor::Passed(s) && firstFailed_ == 0) {
      firstFailed_ = n;
      firstTitle_ = s.Title;
    }
  }
  void NotRun(const std::string& title) {
    StepReport s;
    s.Title = title;
    Print(s);
  }
  int FirstFailed() const { return firstFailed_; }
  const std::string& FirstTitle() const { return firstTitle_; }

 private:
  static void Indented(const std::string& text, const char* head) {
    if (text.empty()) return;
    std::string line;
    bool first = true;
    for (std::size_t i = 0; i <= text.size(); ++i) {
      if (i == text.size() || text[i] == '\n') {
        std::cout << "    " << (first ? head : "") << Utf(line) << "\n";
        line.clear();
        first = false;
      } else {
        line += text[i];
      }
    }
  }

  int count_ = 0;
  int firstFailed_ = 0;
  std::string firstTitle_;
};

std::string Hex(std::uint8_t b) {
  return doctor::HexByte(b);
}

std::string InitText(const LinkSettingsRecord& s) {
  switch (s.Protocol) {
    case kProtoFast:
      return "быстрая (ISO 14230), адрес ЭБУ "_cp +
             Hex(s.Addressing == kFunctional ? s.RequestAddress : s.EcuAddress);
    case kProto5Baud:
      return "5 бод (ISO 14230), адрес "_cp +
             Hex(s.Addressing == kFunctional ? s.RequestAddress : s.EcuAddress) + ", KW2 "_cp +
             Hex(s.Kw2);
    default:
      return "ISO 9141, адрес "_cp + Hex(s.RequestAddress) + ", KW2 "_cp + Hex(s.Kw2);
  }
}

StepReport ConfigurationStep(const std::string& file, bool& loaded) {
  StepReport r;
  r.Title = "Конфигурация"_cp;
  const LoadOutcome load = LoadInit(FromDiskPath(file));
  loaded = load.Ok();
  const std::string name = cp1251::FromUtf8(file);
  if (loaded) {
    r.Result = Verdict::Passed;
    r.Found = name + ": "_cp + CarName + ", " + EcuType + "\nпорт "_cp + LinkSettings.PortName +
              ", "_cp + std::to_string(static_cast<std::uint16_t>(LinkSettings.BaudRate)) +
              " бод, инициализация "_cp + InitText(LinkSettings);
    return r;
  }
  r.Result = Verdict::Failed;
  if (load.Result == LoadResult::Missing) {
    std::error_code ec;
    r.Found = name + ": файл не найден в папке "_cp +
              cp1251::FromUtf8(std::filesystem::current_path(ec).string());
  } else {
    r.Found = cp1251::FromUtf8(load.File) +
              (load.Line > 0 ? ":" + std::to_string(load.Line) : std::string()) + ": " + load.Error;
  }
  r.Advice =
      "Выберите ЭБУ в программе (меню \"Файл\" > \"Выбор ECU\") или укажите файл каталога: kestrel-cli --config ECU/<файл>.ini doctor. Без конфигурации проверяются устройство COM1 (или --port) и эхо адаптера на 10400 бод."_cp;
  return r;
}

// The steps after the configuration's, each printed as it ends; those
// that cannot run after a failure are printed as not run.
void DeviceAndLinkSteps(Printer& out, bool haveConfig, const std::string& portName,
                        const std::string& device, std::uint32_t baud,
                        const doctor::LinkCheckSettings& settings,
                        const std::atomic<bool>* interrupted) {
  using namespace doctor::step_titles;
  const char* const titles[] = {kPermission, kExclusive, kLine,        kLatency,
                                kEcho,       kInit,      kFirstRequest};
  auto notRunFrom = [&](std::size_t i) {
    for (; i < std::size(titles); ++i) out.NotRun(titles[i]);
  };

  const doctor::DeviceFacts facts = doctor::ExamineDevice(device);
  const StepReport deviceStep = doctor::DeviceStep(facts, portName);
  out.Print(deviceStep);
  if (!doctor::Passed(deviceStep)) return notRunFrom(0);
  const StepReport permission = doctor::PermissionStep(facts);
  out.Print(permission);
  if (!doctor::Passed(permission)) return notRunFrom(1);

  TermiosPort port;
  const doctor::OpenReports opened = doctor::OpenPort(port, facts, baud);
  out.Print(opened.Exclusive);
  out.Print(opened.LineSettings);
  if (!port.IsOpen() || !doctor::Passed(opened.LineSettings)) return notRunFrom(3);
  // The timer's value is read now, after the open, which asks the driver
  // for low latency.
  out.Print(doctor::LatencyStep(facts));

  const StepReport echo = doctor::EchoStep(port, SystemClock(), interrupted);
  out.Print(echo);
  if (!doctor::Passed(echo) || !haveConfig) return notRunFrom(5);
  // A pseudo-terminal carries no line states: the 5-baud address goes as a
  // byte at 5 baud.
  doctor::LineSpeedFunction lineSpeed;
  if (facts.PseudoTerminal) {
    lineSpeed = [&port](std::uint32_t speed) {
      bool readFailed = false;
      return termios_line::Configure(port.Fd(), speed, readFailed) == 0;
    };
  }
  const StepReport init = doctor::InitStep(port, SystemClock(), settings, lineSpeed, interrupted);
  out.Print(init);
  if (!doctor::Passed(init)) return notRunFrom(6);
  out.Print(doctor::FirstRequestStep(port, SystemClock(), settings, interrupted));
}

}  // namespace

int RunDoctor(const Options& o, const std::atomic<bool>* interrupted) {
  Printer out;
  std::cout << "Проверка адаптера K-Line и связи с ЭБУ\n";

  bool haveConfig = false;
  out.Print(ConfigurationStep(o.Config, haveConfig));

  // The device: --port (a COM name through ports.ini, or a device), else the
  // configuration's COM name.
  std::string portName = haveConfig ? LinkSettings.PortName : std::string("COM1");
  std::string device;
  if (!o.Port.empty() && ComNumber(o.Port) == 0) {
    portName.clear();
    device = o.Port;
  } else {
    if (!o.Port.empty()) portName = o.Port;
    device = PortDevice(portName);
  }
  const std::uint32_t baud =
      haveConfig ? static_cast<std::uint16_t>(LinkSettings.BaudRate) : std::uint32_t{10400};
  const doctor::LinkCheckSettings settings =
      haveConfig ? doctor::CheckSettingsFrom(LinkSettings, RequestTables)
                 : doctor::LinkCheckSettings{};
  DeviceAndLinkSteps(out, haveConfig, portName, device, baud, settings, interrupted);

  if (out.FirstFailed() == 0) {
    std::cout << "Итог: все проверки пройдены.\n";
    return kExitOk;
  }
  std::cout << "Итог: проверка не пройдена, первая ошибка на шаге " << out.FirstFailed() << " ("
            << Utf(out.FirstTitle()) << ").\n";
  return out.FirstFailed() == 1 ? kExitConfig : kExitLink;
}

}  // namespace kestrel::cli
