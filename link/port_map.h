// The COM-name port map.
//
// Configuration files and the settings window keep the port names "COM1" ..
// "COM15". A session resolves its name to a device path here:
//
//   1. an override set in memory with SetPortDeviceOverride (the command-line
//      tool's --port, tests), if there is one for the name;
//   2. otherwise line n of the file "ports.ini" in the working directory for
//      COMn, when that line exists and is not empty (surrounding blanks and a
//      CR are ignored), e.g. a ports.ini of two lines
//          /dev/ttyS0
//          /dev/ttyACM0
//      maps COM1 to /dev/ttyS0 and COM2 to /dev/ttyACM0;
//   3. otherwise the default /dev/ttyUSB(n-1): COM1 is /dev/ttyUSB0.
//
// A name that is not of the form COMn (n >= 1, any letter case) is taken as a
// device path as it stands.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

inline constexpr const char* kPortMapFile = "ports.ini";

// n for "COMn" (1..255), 0 for anything else.
int ComNumber(std::string_view name);

// "/dev/ttyUSB(n-1)".
std::string DefaultPortDevice(int n);

// The device a port name resolves to (rules above).
std::string PortDevice(std::string_view name);

// Whether that device exists (for the settings window).
bool PortDeviceExists(std::string_view name);

// Maps a name to a device in memory, ahead of ports.ini; an empty device
// removes the override.
void SetPortDeviceOverride(std::string_view name, std::string device);
void ClearPortDeviceOverrides();

}  // namespace kestrel
