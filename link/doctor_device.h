// The device half of the adapter check (kestrel-cli doctor): what the port's
// device is (USB serial driver, stable by-id name, pseudo-terminal), whether
// the user may open it, whether it opens exclusively with the configuration's
// line settings, and the USB latency timer of drivers that have one. Read
// from /dev, /sys and /proc, whose places a test can move into a scratch
// folder.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "link/doctor_report.h"
#include "link/termios_port.h"

namespace kestrel::doctor {

struct SystemPaths {
  std::string Dev = "/dev";
  std::string Sys = "/sys";
  std::string Proc = "/proc";
};

// What the system says about a device. Paths and names as on disk (UTF-8).
struct DeviceFacts {
  std::string Device;  // as given
  bool Exists = false;
  bool CharDevice = false;
  std::string RealPath;  // symbolic links resolved
  std::string Name;      // the kernel's name: ttyUSB0
  bool PseudoTerminal = false;
  std::string Driver;  // ftdi_sio, ch341-uart, cp210x, pl2303, cdc_acm, serial8250, ...
  bool Usb = false;
  std::string UsbId;        // "0403:6001"
  std::string Product;      // maker and product, as the adapter names itself
  std::string ById;         // its stable name under /dev/serial/by-id, if any
  std::string LatencyFile;  // the driver's latency timer, empty when it has none
  // Access for the user running the check.
  bool Accessible = false;
  std::string Owner, Group;   // of the device node
  std::string Mode;           // "rw-rw----"
  bool GroupPending = false;  // the user is a member of the group, but not in this login
};

DeviceFacts ExamineDevice(const std::string& device, const SystemPaths& paths = {});

// The other serial devices there are, to name when the wanted one is missing.
std::vector<std::string> SerialDevices(const SystemPaths& paths = {});

// Processes other than `self` that hold the device open: "ModemManager (812)".
std::vector<std::string> PortHolders(const std::string& device, pid_t self,
                                     const SystemPaths& paths = {});

// The latency timer in milliseconds, or -1 when there is none or it cannot
// be read.
int LatencyMs(const DeviceFacts& facts);

// portName: the COM name the device stands for ("COM1"), empty for a device
// given as a path.
StepReport DeviceStep(const DeviceFacts& facts, const std::string& portName,
                      const SystemPaths& paths = {});
StepReport PermissionStep(const DeviceFacts& facts);
StepReport LatencyStep(const DeviceFacts& facts);

// Opens the port as a session does (exclusively, raw 8N1 at `baud` through
// termios2) and reports the two steps: the exclusive open (a second open
// must be refused) and the line settings (the speed read back). The port
// stays open when both passed.
struct OpenReports {
  StepReport Exclusive;
  StepReport LineSettings;
};
OpenReports OpenPort(TermiosPort& port, const DeviceFacts& facts, std::uint32_t baud,
                     const SystemPaths& paths = {});

}  // namespace kestrel::doctor
