#include "config/config_globals.h"

namespace kestrel {

std::string CarName;
std::string EcuType;
std::string EcuFolder;
std::string ConfigFileName = "ecu.ini";
std::uint8_t ConfigMissing = 0;
std::uint8_t StartRequest = 0;
std::uint8_t AutostartDashboard = 0;
std::int32_t ReconnectTime = 0;
ListEnabling ListsEnabled;

std::string NativePath(std::string_view path) {
  std::string out(path);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

std::string EcuFilePath(std::string_view fileName) {
  std::string path = NativePath(EcuFolder);
  path += '/';
  path += fileName;
  return path;
}

void ResetConfigGlobals() {
  CarName.clear();
  EcuType.clear();
  EcuFolder.clear();
  ConfigFileName = "ecu.ini";
  ConfigMissing = 0;
  StartRequest = 0;
  AutostartDashboard = 0;
  ReconnectTime = 0;
  ListsEnabled = ListEnabling{};
}

}  // namespace kestrel
