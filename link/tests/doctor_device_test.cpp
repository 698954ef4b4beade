// The device half of the adapter check: what a USB adapter is, from a
// system tree of its own in a scratch folder; the permission advice; the
// latency timer; the exclusive open and line settings on a pseudo-terminal.
#include "link/doctor_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/cp1251.h"
#include "tests/support/support.h"

namespace kestrel::doctor {
namespace {

namespace fs = std::filesystem;
using kestrel::testing::ScratchDir;
using kestrel::testing::WriteRaw;

std::string U(const std::string& cp) {
  return cp1251::ToUtf8(cp);
}

// /dev and /sys of a machine with an FTDI adapter. Its node is /dev/null (a
// character device anyone may open), reached through the link dev/ttyUSB0,
// so the kernel's name for it is "null".
struct FakeSystem {
  ScratchDir dir{"kestrel-doctor"};
  SystemPaths paths;
  std::string device;

  explicit FakeSystem(const std::string& latency = "16") {
    const fs::path root = dir.Path();
    paths.Dev = (root / "dev").string();
    paths.Sys = (root / "sys").string();
    fs::create_directories(root / "dev" / "serial" / "by-id");
    fs::create_symlink("/dev/null", root / "dev" / "ttyUSB0");
    device = (root / "dev" / "ttyUSB0").string();
    fs::create_symlink("../../ttyUSB0", root / "dev" / "serial" / "by-id" /
                                            "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    const fs::path usb = root / "sys" / "devices" / "pci0000:00" / "usb1" / "1-1";
    const fs::path port = usb / "1-1:1.0" / "null";
    fs::create_directories(port);
    WriteRaw(usb / "idVendor", "0403\n");
    WriteRaw(usb / "idProduct", "6001\n");
    WriteRaw(usb / "manufacturer", "FTDI\n");
    WriteRaw(usb / "product", "FT232R USB UART\n");
    fs::create_directories(root / "sys" / "bus" / "usb-serial" / "drivers" / "ftdi_sio");
    fs::create_symlink(root / "sys" / "bus" / "usb-serial" / "drivers" / "ftdi_sio",
                       port / "driver");
    fs::create_directories(root / "sys" / "class" / "tty" / "null");
    fs::create_symlink(port, root / "sys" / "class" / "tty" / "null" / "device");
    if (!latency.empty()) {
      WriteRaw(root / "sys" / "bus" / "usb-serial" / "devices" / "null" / "latency_timer",
               latency + "\n");
    }
  }
};

TEST(DoctorDevice, UsbAdapterItsNamesAndLatencyTimer) {
  FakeSystem sys;
  const DeviceFacts f = ExamineDevice(sys.device, sys.paths);
  EXPECT_TRUE(f.Exists);
  EXPECT_TRUE(f.CharDevice);
  EXPECT_FALSE(f.PseudoTerminal);
  EXPECT_TRUE(f.Usb);
  EXPECT_EQ(f.UsbId, "0403:6001");
  EXPECT_EQ(f.Product, "FTDI FT232R USB UART");
  EXPECT_EQ(f.Driver, "ftdi_sio");
  EXPECT_EQ(fs::path(f.ById).filename(), "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
  EXPECT_EQ(LatencyMs(f), 16);

  const StepReport device = DeviceStep(f, "COM1", sys.paths);
  EXPECT_EQ(device.Result, Verdict::Passed);
  const std::string found = U(device.Found);
  EXPECT_EQ(found.rfind("COM1 = " + sys.device, 0), 0u) << found;
  EXPECT_NE(found.find("USB-адаптер FTDI FT232R USB UART (0403:6001), драйвер ftdi_sio"),
            std::string::npos)
      << found;
  EXPECT_NE(found.find("постоянное имя: " + f.ById), std::string::npos) << found;

  // The latency timer: above 1 ms the step fails with a udev rule for the driver.
  struct Case {
    std::string value;
    Verdict verdict;
    const char* phrase;
  };
  const Case cases[] = {
      {"16", Verdict::Failed, "DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\""},
      {"1", Verdict::Passed, "1 мс"},
      {"", Verdict::NotApplicable, "нет таймера задержки"},
      {"x", Verdict::NotApplicable, "не читается"},
  };
  for (const Case& c : cases) {
    FakeSystem s(c.value);
    const StepReport r = LatencyStep(ExamineDevice(s.device, s.paths));
    EXPECT_EQ(r.Result, c.verdict) << c.value;
    EXPECT_NE(U(r.Found + "\n" + r.Advice).find(c.phrase), std::string::npos)
        << c.value << ": " << U(r.Found + "\n" + r.Advice);
  }
}

TEST(DoctorDevice, MissingDeviceNamesTheAdaptersThereAre) {
  FakeSystem sys;
  WriteRaw(fs::path(sys.paths.Dev) / "ttyACM0", "");
  const DeviceFacts f = ExamineDevice(sys.paths.Dev + "/ttyUSB3", sys.paths);
  EXPECT_FALSE(f.Exists);
  const StepReport r = DeviceStep(f, "COM4", sys.paths);
  EXPECT_EQ(r.Result, Verdict::Failed);
  EXPECT_NE(U(r.Found).find("COM4 = " + sys.paths.Dev + "/ttyUSB3: устройство не найдено; есть: " +
                            sys.paths.Dev + "/ttyACM0, " + sys.paths.Dev + "/ttyUSB0"),
            std::string::npos)
      << U(r.Found);
  EXPECT_NE(U(r.Advice).find("ports.ini"), std::string::npos);

  // A plain file is no device.
  const StepReport file =
      DeviceStep(ExamineDevice(sys.paths.Dev + "/ttyACM0", sys.paths), "", sys.paths);
  EXPECT_EQ(file.Result, Verdict::Failed);
}

TEST(DoctorDevice, PermissionNamesTheGroupAndTheCommand) {
  DeviceFacts f;
  f.Device = "/dev/ttyUSB0";
  f.Owner = "root";
  f.Group = "dialout";
  f.Mode = "rw-rw----";
  f.Accessible = true;
  EXPECT_EQ(PermissionStep(f).Result, Verdict::Passed);
  f.Accessible = false;
  StepReport r = PermissionStep(f);
  EXPECT_EQ(r.Result, Verdict::Failed);
  EXPECT_NE(U(r.Found).find("группа dialout, права rw-rw----"), std::string::npos);
  EXPECT_NE(U(r.Advice).find("sudo usermod -aG dialout $USER"), std::string::npos);
  f.GroupPending = true;
  r = PermissionStep(f);
  EXPECT_NE(U(r.Advice).find("Вы уже в группе dialout"), std::string::npos) << U(r.Advice);

  // A device the user may not open, as the system says (root may open anything).
  ScratchDir dir("kestrel-doctor-perm");
  WriteRaw(dir.Path() / "locked", "");
  ::chmod((dir.Path() / "locked").c_str(), 0);
  const DeviceFacts locked = ExamineDevice((dir.Path() / "locked").string());
  EXPECT_EQ(locked.Accessible, ::geteuid() == 0);
  EXPECT_EQ(locked.Mode, "---------");
}

TEST(DoctorDevice, ExclusiveOpenLineSettingsAndWhoHoldsThePort) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string slave = ptsname(master);
  const DeviceFacts f = ExamineDevice(slave);
  EXPECT_TRUE(f.PseudoTerminal);
  EXPECT_NE(U(DeviceStep(f, "").Found).find("псевдотерминал"), std::string::npos);
  EXPECT_EQ(LatencyStep(f).Result, Verdict::NotApplicable);

  TermiosPort port;
  const OpenReports first = OpenPort(port, f, 10400);
  EXPECT_EQ(first.Exclusive.Result, Verdict::Passed) << U(first.Exclusive.Found);
  EXPECT_EQ(first.LineSettings.Result, Verdict::Passed) << U(first.LineSettings.Found);
  EXPECT_NE(U(first.LineSettings.Found).find("10400 бод"), std::string::npos);
  EXPECT_TRUE(port.IsOpen());

  // Another open is refused while the port is held; this process holds it.
  TermiosPort other;
  const OpenReports second = OpenPort(other, f, 10400);
  EXPECT_EQ(second.Exclusive.Result, Verdict::Failed);
  EXPECT_EQ(second.LineSettings.Result, Verdict::NotRun);
  EXPECT_FALSE(other.IsOpen());
  const std::vector<std::string> holders = PortHolders(slave, /*self=*/0);
  ASSERT_FALSE(holders.empty());
  EXPECT_NE(holders.front().find(" (" + std::to_string(::getpid()) + ")"), std::string::npos)
      << holders.front();
  EXPECT_TRUE(PortHolders(slave, ::getpid()).empty());
  port.Close();
  ::close(master);
}

}  // namespace
}  // namespace kestrel::doctor
