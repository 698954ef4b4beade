// The command line and the decoding kestrel-cli prints.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_report.h"
#include "common/cp1251.h"
#include "link/link_globals.h"

namespace kestrel::cli {
namespace {

ParseResult Parse(std::vector<std::string> args) {
  return ParseOptions(args);
}

TEST(CliOptions, GlobalOptionsCommandsAndTheirArguments) {
  ParseResult r = Parse({"--workdir", "run", "--config", "ECU/CAMRY_2AZ.ini", "--port",
                         "/dev/pts/3", "--log", "live", "--passes", "0"});
  ASSERT_TRUE(r.Ok) << r.Error;
  EXPECT_EQ(r.Opts.Workdir, "run");
  EXPECT_EQ(r.Opts.Config, "ECU/CAMRY_2AZ.ini");
  EXPECT_EQ(r.Opts.Port, "/dev/pts/3");
  EXPECT_TRUE(r.Opts.Log);
  EXPECT_EQ(r.Opts.Cmd, Command::Live);
  EXPECT_EQ(r.Opts.Passes, 0u);

  r = Parse({"freeze", "--frame", "255"});
  ASSERT_TRUE(r.Ok);
  EXPECT_EQ(r.Opts.Frame, 255u);
  EXPECT_EQ(r.Opts.Config, "ecu.ini");
  r = Parse({"clear", "--reset"});
  ASSERT_TRUE(r.Ok);
  EXPECT_TRUE(r.Opts.Reset);
  EXPECT_EQ(Parse({"dashboard"}).Opts.Passes, 1u);
  EXPECT_TRUE(Parse({"--help"}).Help);
}

TEST(CliOptions, UsageErrors) {
  EXPECT_FALSE(Parse({}).Ok);
  EXPECT_FALSE(Parse({"--log"}).Ok);     // no command
  EXPECT_FALSE(Parse({"scan"}).Ok);      // unknown command
  EXPECT_FALSE(Parse({"--config"}).Ok);  // missing value
  EXPECT_FALSE(Parse({"freeze", "--frame", "256"}).Ok);
  EXPECT_FALSE(Parse({"live", "--passes", "-1"}).Ok);
  EXPECT_FALSE(Parse({"live", "--frame", "1"}).Ok);  // option of another command
  EXPECT_FALSE(Parse({"dtc", "--reset"}).Ok);
  EXPECT_FALSE(Parse({"info", "extra"}).Ok);
}

TEST(CliReport, TroubleCodeTexts) {
  EXPECT_EQ(DtcCodeText(0x0301), "P0301");
  EXPECT_EQ(DtcCodeText(0x4123), "C0123");
  EXPECT_EQ(DtcCodeText(0x8001), "B0001");
  EXPECT_EQ(DtcCodeText(0xC100), "U0100");
  EXPECT_EQ(SplitCodes("01710300C123", 3), (std::vector<std::uint16_t>{0x0171, 0x0300, 0xC123}));
  EXPECT_EQ(SplitCodes("0171", 3).size(), 1u);  // the text is shorter than the count
  EXPECT_TRUE(SplitCodes(nullptr, 2).empty());
}

TEST(CliReport, RowLineIsUtf8WithoutTheLeadingSpace) {
  ParameterRow row;
  row.Cells[kColCode] = " 010C";
  row.Cells[kColName] = cp1251::FromUtf8("Обороты");
  row.Cells[kColUnit] = cp1251::FromUtf8("об/мин");
  EXPECT_EQ(RowLine(row, "750"), "010C\tОбороты\t750\tоб/мин");
}

class CliInfoTest : public ::testing::Test {
 protected:
  void SetUp() override { std::memset(ResponseStore, 0, vorta::kLocal21Offset + 0x10000); }
  static void Fill(std::size_t area, std::size_t slot, std::vector<std::uint8_t> bytes) {
    std::uint8_t* s = ResponseStore + area + slot * vorta::kSlotSize;
    std::memcpy(s, bytes.data(), bytes.size());
    s[vorta::kSlotCountByte] = static_cast<std::uint8_t>(bytes.size());
  }
};

TEST_F(CliInfoTest, NothingAnsweredShowsUnknownAndEmptyLists) {
  const InfoReport r = DecodeInfo(ResponseStore);
  EXPECT_EQ(r.ObdType, "Неизвестно");
  EXPECT_EQ(r.Ident, "");
  EXPECT_TRUE(r.Sensors.empty());
  for (const auto& list : r.Supported) EXPECT_TRUE(list.empty());
}

TEST_F(CliInfoTest, SupportMasksTypeSensorsAndIdent) {
  Fill(vorta::kMode01Offset, 0x00, {0xBE, 0x1F, 0xA8, 0x13});
  Fill(vorta::kLocal21Offset, 0x1C, {11});  // used when Mode 01 has no 1C
  ResponseStore[vorta::kMode01Offset + 0x13 * vorta::kSlotSize] = 0x11;  // read without data
  Fill(vorta::kLocal21Offset, 0xD3, {'8', '9', '6', '6', '1', '0'});
  Fill(vorta::kLocal21Offset, 0xA0, {0x00, 0x00, 0x00, 0x01});  // four bytes: B0 not decoded
  Fill(vorta::kLocal21Offset, 0xB0, {0xFF});
  Fill(vorta::kMode02Offset, 0x00 * 256, {0x40, 0, 0, 0});  // frame 0 of PID 00
  Fill(vorta::kMode09Offset, 0 * 16 + 1, {0x40, 0, 0, 0});

  const InfoReport r = DecodeInfo(ResponseStore);
  EXPECT_EQ(r.Supported[0],
            (std::vector<int>{0, 1, 3, 4, 5, 6, 7, 12, 13, 14, 15, 16, 17, 19, 21, 28, 31, 32}));
  EXPECT_EQ(r.ObdType, "JOBD и OBDII");
  ASSERT_EQ(r.Sensors.size(), 2u);
  EXPECT_EQ(r.Sensors[1], "№5 После двигателя (Головка 2)");
  EXPECT_EQ(r.Ident, "89661");
  EXPECT_EQ(r.Supported[2], (std::vector<int>{0xA0, 0xC0}));
  EXPECT_EQ(r.Supported[1], (std::vector<int>{0, 2}));
  EXPECT_EQ(r.Supported[4], (std::vector<int>{0, 2}));
}

TEST(CliReport, DashboardTexts) {
  EXPECT_EQ(GearText(0xFF), "нет данных");
  EXPECT_EQ(GearText(0x1B), "3+LockUp+O/D OFF");
  EXPECT_EQ(GearText(0x02), "2");
  EXPECT_EQ(SelectorText(0xFFFF), "нет данных");
  EXPECT_EQ(SelectorText(0x0008), "D");
  EXPECT_EQ(SelectorText(0x0000), "-");
  EXPECT_EQ(Fixed(2.345, 1), "2.3");
}

}  // namespace
}  // namespace kestrel::cli
