#include "link/doctor_device.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "common/cp1251.h"
#include "link/device_access.h"
#include "link/link_globals.h"
#include "link/termios_line.h"

namespace kestrel::doctor {

using namespace cp1251_literals;
namespace fs = std::filesystem;

namespace {

bool AllDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Pseudo-terminal slaves have the majors 136..143.
constexpr unsigned kPtyMajorFirst = 136;
constexpr unsigned kPtyMajorLast = 143;

std::string FirstLine(const fs::path& p) {
  std::ifstream in(p);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

std::string Canonical(const fs::path& p) {
  std::error_code ec;
  const fs::path c = fs::canonical(p, ec);
  return ec ? p.string() : c.string();
}

std::string Text(const std::string& utf8) {
  return cp1251::FromUtf8(utf8);
}

// The user is listed in the group, but this process does not have it: the
// membership was given after the login.
bool GroupPendingFor(gid_t gid) {
  if (getegid() == gid) return false;
  const int n = getgroups(0, nullptr);
  if (n > 0) {
    std::vector<gid_t> groups(static_cast<std::size_t>(n));
    if (getgroups(n, groups.data()) == n &&
        std::find(groups.begin(), groups.end(), gid) != groups.end()) {
      return false;
    }
  }
  const passwd* pw = getpwuid(geteuid());
  const group* gr = getgrgid(gid);
  if (pw == nullptr || gr == nullptr) return false;
  if (pw->pw_gid == gid) return true;
  for (char** m = gr->gr_mem; m != nullptr && *m != nullptr; ++m) {
    if (std::string(*m) == pw->pw_name) return true;
  }
  return false;
}

using step_titles::kDevice;
using step_titles::kExclusive;
using step_titles::kLatency;
using step_titles::kLine;
using step_titles::kPermission;

}  // namespace

DeviceFacts ExamineDevice(const std::string& device, const SystemPaths& paths) {
  DeviceFacts f;
  f.Device = device;
  struct stat st {};
  if (::stat(device.c_str(), &st) != 0) return f;
  f.Exists = true;
  f.CharDevice = S_ISCHR(st.st_mode);
  f.RealPath = Canonical(device);
  f.Name = fs::path(f.RealPath).filename().string();
  f.PseudoTerminal = f.CharDevice
                         ? major(st.st_rdev) >= kPtyMajorFirst && major(st.st_rdev) <= kPtyMajorLast
                         : f.RealPath.rfind(paths.Dev + "/pts/", 0) == 0;
  std::error_code ec;
  const fs::path node = fs::path(paths.Sys) / "class" / "tty" / f.Name / "device";
  if (!f.PseudoTerminal && fs::exists(node, ec)) {
    const fs::path dev = Canonical(node);
    if (fs::exists(dev / "driver", ec)) {
      f.Driver = fs::path(Canonical(dev / "driver")).filename().string();
    }
    // The USB device is the first ancestor with a vendor number.
    fs::path p = dev;
    for (int up = 0; up < 5 && p.has_relative_path(); ++up, p = p.parent_path()) {
      if (fs::exists(p / "idVendor", ec)) {
        f.Usb = true;
        f.UsbId = FirstLine(p / "idVendor") + ":" + FirstLine(p / "idProduct");
        f.Product = FirstLine(p / "manufacturer");
        const std::string product = FirstLine(p / "product");
        if (!product.empty()) f.Product += (f.Product.empty() ? "" : " ") + product;
        break;
      }
    }
  }
  const fs::path latency =
      fs::path(paths.Sys) / "bus" / "usb-serial" / "devices" / f.Name / "latency_timer";
  if (fs::exists(latency, ec)) f.LatencyFile = latency.string();
  for (const auto& e : fs::directory_iterator(fs::path(paths.Dev) / "serial" / "by-id", ec)) {
    if (Canonical(e.path()) == f.RealPath) {
      f.ById = e.path().string();
      break;
    }
  }
  f.Accessible = ::access(device.c_str(), R_OK | W_OK) == 0;
  if (const passwd* pw = getpwuid(st.st_uid)) f.Owner = pw->pw_name;
  if (const group* gr = getgrgid(st.st_gid)) f.Group = gr->gr_name;
  f.Mode = kestrel::ModeText(st.st_mode).substr(1);  // without the "c" of a device
  if (!f.Accessible) f.GroupPending = GroupPendingFor(st.st_gid);
  return f;
}

std::vector<std::string> SerialDevices(const SystemPaths& paths) {
  std::set<std::string> found;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(paths.Dev, ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0) {
      found.insert(e.path().string());
    }
  }
  return {found.begin(), found.end()};
}

std::vector<std::string> PortHolders(const std::string& device, pid_t self,
                                     const SystemPaths& paths) {
  std::vector<std::string> holders;
  const std::string target = Canonical(device);
  std::error_code ec;
  for (const auto& proc : fs::directory_iterator(paths.Proc, ec)) {
    const std::string pid = proc.path().filename().string();
    if (!AllDigits(pid)) continue;
    if (pid == std::to_string(self)) continue;
    std::error_code fdEc;
    for (const auto& fd : fs::directory_iterator(proc.path() / "fd", fdEc)) {
      std::error_code linkEc;
      const fs::path to = fs::read_symlink(fd.path(), linkEc);
      if (!linkEc && to == target) {
        holders.push_back(FirstLine(proc.path() / "comm") + " (" + pid + ")");
        break;
      }
    }
  }
  return holders;
}

int LatencyMs(const DeviceFacts& facts) {
  if (facts.LatencyFile.empty()) return -1;
  const std::string text = FirstLine(facts.LatencyFile);
  if (!AllDigits(text) || text.size() > 6) return -1;
  return std::stoi(text);
}

StepReport DeviceStep(const DeviceFacts& f, const std::string& portName, const SystemPaths& paths) {
  const std::string named = (portName.empty() ? "" : portName + " = ") + Text(f.Device);
  if (!f.Exists) {
    std::string others;
    for (const std::string& d : SerialDevices(paths))
      others += (others.empty() ? "" : ", ") + Text(d);
    return Report(
        kDevice, Verdict::Failed,
        named + ": устройство не найдено; "_cp +
            (others.empty() ? "других адаптеров USB (ttyUSB, ttyACM) нет"_cp
                            : "есть: "_cp + others),
        "Подключите адаптер к USB. Если он виден под другим именем, проверьте его: kestrel-cli doctor --port /dev/ttyUSB1; программе его устройство задает строка n файла ports.ini для COMn (или выберите другой COM в настройках)."_cp);
  }
  if (!f.CharDevice) {
    return Report(
        kDevice, Verdict::Failed, named + ": это не устройство, а файл"_cp,
        "Укажите устройство адаптера (например, /dev/ttyUSB0) в ports.ini или в --port."_cp);
  }
  std::string found = named;
  if (f.RealPath != f.Device) found += " (" + Text(f.RealPath) + ")";
  if (f.PseudoTerminal) {
    found += ": псевдотерминал (так подключается имитатор ЭБУ kestrel-ecusim)"_cp;
  } else if (f.Usb) {
    found += ": USB-адаптер "_cp + Text(f.Product) + " (" + f.UsbId + ")";
    if (!f.Driver.empty()) found += ", драйвер "_cp + Text(f.Driver);
  } else {
    found += ": последовательный порт"_cp;
    if (!f.Driver.empty()) found += ", драйвер "_cp + Text(f.Driver);
  }
  if (!f.ById.empty()) {
    found += "\nпостоянное имя: "_cp + Text(f.ById) +
             " (не меняется при переподключении; его можно записать в ports.ini)"_cp;
  }
  return Report(kDevice, Verdict::Passed, found);
}

StepReport PermissionStep(const DeviceFacts& f) {
  const std::string who =
      "владелец "_cp + Text(f.Owner) + ", группа "_cp + Text(f.Group) + ", права "_cp + f.Mode;
  if (f.Accessible) {
    return Report(kPermission, Verdict::Passed, "чтение и запись разрешены ("_cp + who + ")");
  }
  const std::string group = f.Group.empty() || f.Group == "root" ? "dialout" : Text(f.Group);
  std::string advice =
      f.GroupPending
          ? "Вы уже в группе "_cp + group +
                ", но вошли в систему раньше: выйдите из системы и войдите снова (или перезагрузите компьютер)."_cp
          : "Добавьте себя в группу "_cp + group + ": sudo usermod -aG "_cp + group +
                " $USER, затем выйдите из системы и войдите снова."_cp;
  return Report(kPermission, Verdict::Failed,
                "нет прав на чтение и запись "_cp + Text(f.Device) + " (" + who + ")", advice);
}

StepReport LatencyStep(const DeviceFacts& f) {
  if (f.LatencyFile.empty()) {
    return Report(kLatency, Verdict::NotApplicable,
                  "у драйвера этого устройства нет таймера задержки"_cp);
  }
  const int ms = LatencyMs(f);
  if (ms < 0) {
    return Report(kLatency, Verdict::NotApplicable, Text(f.LatencyFile) + ": не читается"_cp);
  }
  const std::string found = std::to_string(ms) + " мс ("_cp + Text(f.LatencyFile) + ")";
  if (ms <= 1) return Report(kLatency, Verdict::Passed, found);
  const std::string driver = f.Driver.empty() ? "ftdi_sio" : Text(f.Driver);
  return Report(
      kLatency, Verdict::Failed,
      found + ": эхо и ответы ЭБУ приходят с опозданием до "_cp + std::to_string(ms) + " мс"_cp,
      "Сейчас: echo 1 | sudo tee "_cp + Text(f.LatencyFile) +
          "\nНавсегда: правило udev, файл /etc/udev/rules.d/99-kestrel-latency.rules со строкой\n"
          "  ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\""_cp +
          driver +
          "\", ATTR{latency_timer}=\"1\"\n"
          "затем sudo udevadm control --reload-rules и переподключите адаптер."_cp);
}

OpenReports OpenPort(TermiosPort& port, const DeviceFacts& f, std::uint32_t baud,
                     const SystemPaths& paths) {
  OpenReports r;
  r.LineSettings = Report(kLine, Verdict::NotRun, {});
  const std::uint16_t bits = port.Open(f.Device, baud);
  if ((bits & kErrOpen) != 0) {
    const std::vector<std::string> holders = PortHolders(f.Device, ::getpid(), paths);
    std::string list;
    bool modemManager = false;
    for (const std::string& h : holders) {
      list += (list.empty() ? "" : ", ") + Text(h);
      modemManager = modemManager || h.rfind("ModemManager", 0) == 0;
    }
    if (!holders.empty()) {
      std::string advice =
          "Закройте эту программу (другой запущенный Kestrel, программу терминала) и запустите проверку снова."_cp;
      if (modemManager) {
        advice +=
            "\nModemManager занимает адаптеры, принимая их за модемы: sudo systemctl stop ModemManager, а навсегда - правило udev с ENV{ID_MM_DEVICE_IGNORE}=\"1\" для этого адаптера."_cp;
      }
      r.Exclusive = Report(kExclusive, Verdict::Failed, "порт занят: "_cp + list, advice);
    } else {
      r.Exclusive = Report(
          kExclusive, Verdict::Failed, "порт не открывается: "_cp + Text(port.LastErrorText()),
          "Если порт занят другой программой, закройте ее; иначе переподключите адаптер."_cp);
    }
    return r;
  }
  // The port opened (perhaps without its line settings): no other open may
  // get it now.
  TermiosPort second;
  if (second.Open(f.Device, baud) == 0) {
    second.Close();
    r.Exclusive = Report(
        kExclusive, Verdict::Failed,
        "порт открылся второй раз: другая программа может вмешаться в обмен"_cp,
        "Драйвер не поддерживает монопольный доступ: закройте все другие программы, которые работают с портом."_cp);
  } else {
    r.Exclusive = Report(kExclusive, Verdict::Passed,
                         "открыт монопольно: другие программы не откроют порт, пока он занят"_cp);
  }
  if (bits != 0) {
    r.LineSettings = Report(
        kLine, Verdict::Failed,
        "порт не принял настройки линии ("_cp + std::to_string(baud) + " бод): "_cp +
            Text(port.LastErrorText()),
        "Драйвер этого устройства не поддерживает нужную скорость: нужен адаптер K-Line на микросхеме FTDI, CH340, CP210x или PL2303."_cp);
    return r;
  }
  const std::uint32_t speed = termios_line::OutputSpeed(port.Fd());
  if (speed != baud) {
    r.LineSettings = Report(
        kLine, Verdict::Failed,
        "порт установлен на "_cp + std::to_string(speed) + " бод вместо "_cp + std::to_string(baud),
        "Драйвер этого устройства не поддерживает нужную скорость: нужен адаптер K-Line на микросхеме FTDI, CH340, CP210x или PL2303."_cp);
  } else {
    r.LineSettings = Report(
        kLine, Verdict::Passed,
        std::to_string(baud) +
            " бод, 8 бит, без четности, 1 стоповый бит, без управления потоком (termios2)"_cp);
  }
  return r;
}

}  // namespace kestrel::doctor
