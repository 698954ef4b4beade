// Helpers of the configuration tests: a fresh working directory per test,
// files written in code page 1251 with CR LF, and a standard configuration.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "common/cp1251.h"
#include "config/catalogue.h"
#include "config/config_globals.h"
#include "config/parameter_lists.h"
#include "link/link_globals.h"
#include "tests/support/support.h"

namespace kestrel::testing {

inline std::string Utf8(const std::string& cp) {
  return cp1251::ToUtf8(cp);
}

// Lines 1..27 of a configuration for the folder "ECU\\TEST".
inline std::vector<std::string> SettingsLines() {
  return {"Тестовый автомобиль",
          "3S-FE",
          "ECU\\TEST",
          "COM3",
          "10400",
          "300",
          "120",
          "50",
          "60",
          "80",
          "0",
          "25",
          "25",
          "1",
          "0",
          "0",
          "-1",
          "15",
          "10",
          "8F",
          "F1",
          "33",
          "210",
          "4",
          "2362",
          "760",
          "100"};
}

// A configuration: the settings lines, then the six lists.
struct ConfigText {
  std::vector<std::string> settings = SettingsLines();
  std::vector<std::string> dashboard = {"81 10 F1 21 01"};
  std::vector<std::string> live = {"82 10 F1 21 01", "82 10 F1 01 0C"};
  std::vector<std::string> freeze = {"83 10 F1 02 02 00"};
  std::vector<std::string> dtcRead = {"81 10 F1 03"};
  std::vector<std::string> dtcClear = {"81 10 F1 04", "81 10 F1 11"};
  int resetCount = 1;
  std::vector<std::string> info = {"82 10 F1 09 00"};

  std::vector<std::string> Lines() const {
    std::vector<std::string> out = settings;
    auto list = [&out](const std::vector<std::string>& l) {
      out.push_back(std::to_string(l.size()));
      out.insert(out.end(), l.begin(), l.end());
    };
    list(dashboard);
    list(live);
    list(freeze);
    list(dtcRead);
    out.push_back(std::to_string(dtcClear.size()));
    out.push_back(std::to_string(resetCount));
    out.insert(out.end(), dtcClear.begin(), dtcClear.end());
    list(info);
    return out;
  }
};

// Runs each test in a fresh temporary working directory with the
// configuration globals at their start-up values.
class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_ = std::make_unique<ScratchDir>("kestrel-config");
    dir_ = scratch_->Path().string();
    ResetConfigGlobals();
    LinkSettings = LinkSettingsRecord{};
    LogEnabled = 0;
    std::memset(static_cast<void*>(RequestTables), 0, sizeof RequestTables);
    DtcTexts.Count = 0;
  }
  void TearDown() override { scratch_.reset(); }

  // A minimal VORTA.ini in ECU/TEST.
  void WriteDefinitions(const std::vector<std::string>& lines) {
    WriteCp1251("ECU/TEST/VORTA.ini", lines);
  }

  std::unique_ptr<ScratchDir> scratch_;
  std::string dir_;
};

}  // namespace kestrel::testing
