#include "common/disk_path.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "common/cp1251.h"
#include "tests/support/support.h"

namespace {

namespace fs = std::filesystem;
using kestrel::FromDiskPath;
using kestrel::ToDiskPath;
namespace cp = kestrel::cp1251;

// A folder tree as a catalogue copied from Windows may hold, entered as the
// working folder for the test.
class DiskPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_ = std::make_unique<kestrel::testing::ScratchDir>("kestrel-paths");
    dir_ = scratch_->Path();
    for (const char* f : {"ECU/TOYOTA/dtc.ini", "ECU/Королла/VORTA.ini", "ECU/ЁЛКА.ini",
                          "ECU/Иж.ini", "ECU/Toyota/other", "ECU/\xCA\xE0\xEC\xF0\xE8.ini"}) {
      fs::create_directories(fs::path(f).parent_path());
      std::ofstream(f) << "x";
    }
  }
  void TearDown() override { scratch_.reset(); }
  std::unique_ptr<kestrel::testing::ScratchDir> scratch_;
  fs::path dir_;
};

TEST_F(DiskPathTest, ProgramPathsFindTheirFilesOnDisk) {
  struct Case {
    std::string utf8;  // the program's path, written here in UTF-8
    std::string disk;  // what the file system knows
  };
  const Case cases[] = {
      {"ECU\\TOYOTA\\dtc.ini", "ECU/TOYOTA/dtc.ini"},  // backslashes of Windows paths
      {"ecu\\toyota\\DTC.INI", "ECU/TOYOTA/dtc.ini"},  // letter case of every part
      {"ECU/Toyota/other", "ECU/Toyota/other"},        // an exact name wins
      {"ECU/toyota", "ECU/TOYOTA"},                    // of two matches the first in byte order
      {"ecu/королла/vorta.ini", "ECU/Королла/VORTA.ini"},
      {"ECU/ёлка.INI", "ECU/ЁЛКА.ini"},
      {"ECU/Иж.ini", "ECU/Иж.ini"},  // И is D0 98 in UTF-8; 98 is no code page 1251 letter
      {"ECU/КАМРИ.ini", "ECU/\xCA\xE0\xEC\xF0\xE8.ini"},  // a name still in code page 1251
      {"ecu/toyota/new.ini", "ECU/TOYOTA/new.ini"},       // to be created: its folder resolved
      {"ECU/Новая/dtc.ini", "ECU/Новая/dtc.ini"},         // nothing to resolve
      {"./ecu/../ECU/toyota", "./ECU/../ECU/TOYOTA"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToDiskPath(cp::FromUtf8(c.utf8)), c.disk) << c.utf8;
  }
  // Absolute paths resolve the same way below the folder named exactly.
  EXPECT_EQ(ToDiskPath(dir_.string() + "/ecu/TOYOTA/dtc.ini"),
            dir_.string() + "/ECU/TOYOTA/dtc.ini");
}

TEST_F(DiskPathTest, ListedNamesInTheProgramsCodePage) {
  EXPECT_EQ(FromDiskPath("Королла.ini"), cp::FromUtf8("Королла.ini"));
  EXPECT_EQ(FromDiskPath("Иж.ini"), "\xC8\xE6.ini");
  EXPECT_EQ(FromDiskPath("\xCA\xE0\xEC\xF0\xE8.ini"), "\xCA\xE0\xEC\xF0\xE8.ini");
  EXPECT_EQ(FromDiskPath("日本.ini"), "??.ini");
  // Every listed name leads back to its file.
  for (const auto& e : fs::recursive_directory_iterator("ECU")) {
    const std::string disk = e.path().string();
    EXPECT_EQ(ToDiskPath(FromDiskPath(disk)), disk);
  }
}

TEST(SameNameIgnoringCase, LatinAndCyrillicLettersOnly) {
  using kestrel::SameNameIgnoringCase;
  EXPECT_TRUE(SameNameIgnoringCase(cp::FromUtf8("Тойота ЁЖ ґўі"), cp::FromUtf8("тОЙОТА ёж ҐЎІ")));
  EXPECT_TRUE(SameNameIgnoringCase("Carina.INI", "CARINA.ini"));
  EXPECT_FALSE(SameNameIgnoringCase("Carina1", "Carina2"));
  EXPECT_FALSE(SameNameIgnoringCase("ab", "abc"));
  EXPECT_FALSE(SameNameIgnoringCase(cp::FromUtf8("Е"), cp::FromUtf8("Ё")));
  EXPECT_FALSE(SameNameIgnoringCase("[", "{"));  // not letters, though 0x20 apart
}

}  // namespace
