// Helpers of the shell's tests: configurations and a small catalogue in the
// scratch working folder, and the reset of the program's globals. The
// general helpers (scratch folders, files, waits, modal windows) are in
// tests/support.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/qt_support.h"
#include "tests/support/support.h"

namespace kestrel::testing {

// The lists of a test configuration, each a set of request lines.
struct TestLists {
  std::vector<std::string> Dashboard{"82 10 F1 21 01"};
  std::vector<std::string> Live{"82 10 F1 21 01", "82 10 F1 01 0C", "82 10 F1 01 0D"};
  std::vector<std::string> Freeze{"83 10 F1 02 0C 00", "83 10 F1 02 0D 00"};
  std::vector<std::string> DtcRead{"81 10 F1 03"};
  std::vector<std::string> DtcClear{"81 10 F1 04"};
  std::vector<std::string> Info{"82 10 F1 01 00"};
};

// The lines of a configuration file (UTF-8). Line 17 (autostart) from `autostart`.
std::vector<std::string> ConfigLines(const std::string& car, const std::string& ecu,
                                     const std::string& folder, const TestLists& lists = {},
                                     bool autostart = false);

// An ECU folder with VORTA.ini (010C, 010D, 2101 rows), dtc.ini and the
// built VORTA.so; `withDtc` false leaves dtc.ini out.
void MakeEcuFolder(const std::filesystem::path& folder, bool withDtc = true);

// A catalogue "ECU/" with A.ini (folder ECU\ONE) and B.ini (folder ECU\TWO).
void MakeCatalogue();

// Resets the program's globals between tests.
void ResetProgramState();

}  // namespace kestrel::testing
