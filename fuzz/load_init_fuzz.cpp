// The start-up load on any files: "ecu.ini" (LoadInit with its live and
// freeze passes), then the trouble-code texts and the PID name pass of the
// ECU folder it names.
//
// Input: ecu.ini, VORTA.ini and dtc.ini, separated by marker lines, and an
// optional fourth part: "U" or "L" puts the ECU folder on disk in upper or
// lower case (a catalogue made where letter case does not count).
//
// Properties: no table or list grows past its fixed size; a folder that
// exists on disk (under its own name or in another letter case) never has
// its VORTA.ini or dtc.ini reported missing.
#include <array>
#include <cstdint>
#include <string>

#include "common/cp1251.h"
#include "common/disk_path.h"
#include "common/text_lines.h"
#include "config/config_globals.h"
#include "fuzz/config_checks.h"

namespace {

using namespace kestrel;

// The lower-case letter of a code page 1251 upper-case one (c itself for
// any other character).
char LowerCp1251(char c) {
  static const auto table = [] {
    std::array<char, 256> t{};
    for (int b = 0; b < 256; ++b) t[b] = static_cast<char>(b);
    for (int b = 255; b >= 0; --b) {
      const char upper = UpperCp1251(static_cast<char>(b));
      if (upper != static_cast<char>(b))
        t[static_cast<unsigned char>(upper)] = static_cast<char>(b);
    }
    return t;
  }();
  return table[static_cast<unsigned char>(c)];
}

// The folder of line 3 as a user would have it on disk (UTF-8 names), or ""
// when the harness does not make it: empty, absolute, climbing out, or too
// long for the file system.
std::string DiskFolder(std::string_view config, char letterCase) {
  LineReader in(config);
  in.Next();
  in.Next();
  std::string folder = NativePath(in.Next());
  if (folder.empty() || folder.front() == '/' || folder.size() > 120) return {};
  if (folder.find('\0') != std::string::npos) return {};
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = folder.find('/', start);
    const std::string part = folder.substr(start, slash - start);
    if (part == ".." || part.size() > 60) return {};
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  if (letterCase == 'U' || letterCase == 'L') {
    for (char& c : folder) c = letterCase == 'U' ? UpperCp1251(c) : LowerCp1251(c);
  }
  return cp1251::ToUtf8(folder);
}

}  // namespace

KESTREL_FUZZ_IN_SCRATCH_FOLDER("load-init")

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 65536) return -1;
  const std::vector<std::string_view> parts = fuzz::SplitParts(fuzz::AsText(data, size), 4);
  const std::string_view config = parts[0];
  const std::string_view vorta = parts.size() > 1 ? parts[1] : std::string_view();
  const std::string_view dtc = parts.size() > 2 ? parts[2] : std::string_view();
  const char letterCase = parts.size() > 3 && !parts[3].empty() ? parts[3][0] : 0;

  fuzz::ClearWorkingFolder();
  fuzz::WriteFile("ecu.ini", config);
  std::string folder = DiskFolder(config, letterCase);
  // The folder may not be makeable (a part names ecu.ini, say): then it is
  // not there, and nothing is promised about it.
  bool made = !folder.empty() && fuzz::WriteFile(folder + "/VORTA.ini", vorta) &&
              fuzz::WriteFile(folder + "/dtc.ini", dtc);

  ResetConfigGlobals();
  const ConfigOutcome out = StartupLoad();
  FUZZ_CHECK(ConfigMissing == 0, "ecu.ini exists");
  fuzz::CheckConfigTables();
  if (made) {
    FUZZ_CHECK(!out.Quit, "the ECU folder " + folder + " has a dtc.ini: " + out.StderrLine);
    FUZZ_CHECK(out.Error != kFileNotFound, "the ECU folder " + folder + " has a VORTA.ini");
  }
  return 0;
}
