#include "screenlogic/export.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/cp1251.h"
#include "tests/support/support.h"

namespace kestrel {
namespace {

using namespace cp1251_literals;
namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(KadrLineTest, ColumnsArePaddedCutAndAligned) {
  const std::string line = KadrLine(" 001", " 210C", "Обороты"_cp, "1234", "об/мин"_cp);
  const std::string expected = std::string(" 001  210C ") + "Обороты"_cp +
                               std::string(63 - 7, ' ') + " " + std::string(16, ' ') + "1234 " +
                               "об/мин"_cp;
  EXPECT_EQ(line, expected);

  // Name longer than 63 characters is cut; value longer than 20 keeps its last 20.
  const std::string longName(70, 'N');
  const std::string longValue = "ABCDEFGHIJ0123456789abcde";
  const std::string cut = KadrLine("0", "1", longName, longValue, "U");
  EXPECT_EQ(cut, "0 1 " + std::string(63, 'N') + " " + longValue.substr(5) + " U");

  // Empty cells still keep the fixed widths.
  EXPECT_EQ(KadrLine("", "", "", "", ""),
            "  " + std::string(63, ' ') + " " + std::string(20, ' ') + " ");
}

TEST(ExportHeaderTest, ShortTimeLeavesOutTheSeconds) {
  for (const auto& [pattern, expected] :
       std::vector<std::pair<std::string, std::string>>{{"%T", "%H:%M"},
                                                        {"%r", "%I:%M %p"},
                                                        {"%H.%M.%S", "%H.%M"},
                                                        {"%H:%M", "%H:%M"},
                                                        {"%%S %OH:%OM:%OS %Z", "%%S %OH:%OM %Z"}}) {
    EXPECT_EQ(ShortTimePattern(pattern), expected) << pattern;
  }
  std::tm when{};
  when.tm_min = 7;
  when.tm_sec = 2;
  EXPECT_EQ(ExportShortTimeText(when).find("02"), std::string::npos);
}

TEST(ExportHeaderTest, SixLinesInCodePage1251) {
  const auto lines = ExportHeader("01.02.2024", "13:14:15", "Toyota Camry", "3S-FE",
                                  "Кадр параметров реального времени"_cp);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], std::string("Дата: 01.02.2024 Время: 13:14:15"_cp));
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], std::string("Автомобиль: Toyota Camry"_cp));
  EXPECT_EQ(lines[3], std::string("Тип ECU: 3S-FE"_cp));
  EXPECT_EQ(lines[4], std::string("Кадр параметров реального времени"_cp));
  EXPECT_EQ(lines[5], "");

  // The form with the current time fills date and time, never empty.
  const auto now = ExportHeader("a", "b", "t");
  ASSERT_EQ(now.size(), 6u);
  EXPECT_GT(now[0].size(), std::string("Дата:  Время: "_cp).size());
}

class WriteExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_ = std::make_unique<testing::ScratchDir>("kestrel-export");
    dir_ = scratch_->Path() / "out";
    ResetExportCounters();
  }
  void TearDown() override { scratch_.reset(); }

  std::string Folder() const { return (dir_ / "Kadr").string(); }
  std::unique_ptr<testing::ScratchDir> scratch_;
  fs::path dir_;
};

TEST_F(WriteExportTest, CreatesFolderAndWritesCrLfLines) {
  const auto r = WriteExport(kExportLive, {"one", "", "три"_cp}, Folder());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.path, Folder() + "/kadrM1_1.txt");
  EXPECT_EQ(ReadAll(r.path), std::string("one\r\n\r\n") + "три"_cp + "\r\n");
  EXPECT_EQ(ExportCounter[kExportLive], 1);
}

TEST_F(WriteExportTest, NumbersSkipExistingFilesAndContinueUpwards) {
  fs::create_directories(Folder());
  std::ofstream(Folder() + "/kadrM1_1.txt") << "keep me";
  std::ofstream(Folder() + "/kadrM1_2.txt") << "keep me too";
  fs::create_directories(Folder() + "/kadrM1_4.txt");  // a folder of that name counts as taken

  auto r = WriteExport(kExportLive, {"x"}, Folder());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(fs::path(r.path).filename(), "kadrM1_3.txt");
  r = WriteExport(kExportLive, {"y"}, Folder());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(fs::path(r.path).filename(), "kadrM1_5.txt");

  // A freed lower number is not reused within the run.
  fs::remove(Folder() + "/kadrM1_1.txt");
  r = WriteExport(kExportLive, {"z"}, Folder());
  EXPECT_EQ(fs::path(r.path).filename(), "kadrM1_6.txt");

  // Existing files are untouched.
  EXPECT_EQ(ReadAll(Folder() + "/kadrM1_2.txt"), "keep me too");

  // Each kind counts on its own.
  r = WriteExport(kExportFreeze, {"f"}, Folder());
  EXPECT_EQ(fs::path(r.path).filename(), "kadrM2_1.txt");
  r = WriteExport(kExportDtc, {"d"}, Folder());
  EXPECT_EQ(fs::path(r.path).filename(), "ErrECU_1.txt");
  EXPECT_EQ(ExportCounter[kExportLive], 6);

  // A new run starts again from the lowest free number.
  ResetExportCounters();
  r = WriteExport(kExportLive, {"again"}, Folder());
  EXPECT_EQ(fs::path(r.path).filename(), "kadrM1_1.txt");
}

TEST_F(WriteExportTest, FailureReportsErrorAndKeepsAdvancedCounter) {
  fs::create_directories(dir_);
  std::ofstream(Folder()) << "a file where the folder should be";
  const auto r = WriteExport(kExportLive, {"x"}, Folder());
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error.rfind("Не удается создать файл"_cp, 0), 0u) << cp1251::ToUtf8(r.error);
  EXPECT_EQ(ExportCounter[kExportLive], 1);
  EXPECT_EQ(ReadAll(Folder()), "a file where the folder should be");

  EXPECT_FALSE(WriteExport(static_cast<ExportKind>(7), {"x"}, Folder()).ok);
}

}  // namespace
}  // namespace kestrel
