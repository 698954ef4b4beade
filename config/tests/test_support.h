// Helpers of the configuration tests: a fresh working directory per test,
// files written in code page 1251 with CR LF, and a standard configuration.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/cp1251.h"
#include "config/catalogue.h"
#include "config/config_globals.h"
#include "config/parameter_lists.h"
#include "link/link_globals.h"

namespace kestrel::testing {

// Writes bytes exactly.
inline void WriteRaw(const std::string& path, const std::string& bytes) {
  const std::filesystem::path p(path);
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// Writes UTF-8 lines as code page 1251, each ended by CR LF.
inline void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes += cp1251::FromUtf8(line) + "\r\n";
  WriteRaw(path, bytes);
}

inline std::string ReadRaw(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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
    char pattern[] = "/tmp/kestrel-config-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    ResetConfigGlobals();
    LinkSettings = LinkSettingsRecord{};
    LogEnabled = 0;
    std::memset(static_cast<void*>(RequestTables), 0, sizeof RequestTables);
    DtcTexts.Count = 0;
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // A minimal VORTA.ini in ECU/TEST.
  void WriteDefinitions(const std::vector<std::string>& lines) {
    WriteLines("ECU/TEST/VORTA.ini", lines);
  }

  std::string dir_;
  std::filesystem::path old_;
};

}  // namespace kestrel::testing
