// The command line and the lines kestrel-cli prints.
#include <gtest/gtest.h>

#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_report.h"
#include "common/cp1251.h"

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

  r = Parse({"freeze", "--frame", "255", "--export"});
  ASSERT_TRUE(r.Ok);
  EXPECT_EQ(r.Opts.Frame, 255u);
  EXPECT_TRUE(r.Opts.Export);
  EXPECT_TRUE(Parse({"info", "--export"}).Opts.Export);
  EXPECT_FALSE(Parse({"info"}).Opts.Export);
  EXPECT_EQ(r.Opts.Config, "ecu.ini");
  r = Parse({"clear", "--reset"});
  ASSERT_TRUE(r.Ok);
  EXPECT_TRUE(r.Opts.Reset);
  EXPECT_TRUE(Parse({"dtc", "--export"}).Opts.Export);
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
  EXPECT_FALSE(Parse({"clear", "--export"}).Ok);
  EXPECT_FALSE(Parse({"live", "--export"}).Ok);  // no export file for this command
  EXPECT_FALSE(Parse({"info", "extra"}).Ok);
  EXPECT_FALSE(Parse({"doctor", "--port"}).Ok);
  EXPECT_FALSE(Parse({"live", "--port", "COM2"}).Ok);  // --port after a command: doctor only
  EXPECT_FALSE(Parse({"record"}).Ok);                  // no file
  EXPECT_FALSE(Parse({"record", "a.rtd", "b.rtd"}).Ok);
  EXPECT_FALSE(Parse({"record", "a.rtd", "--channels"}).Ok);
  EXPECT_FALSE(Parse({"live", "--seconds", "5"}).Ok);
}

TEST(CliOptions, RecordTakesAFileChannelsAndSeconds) {
  ParseResult r =
      Parse({"record", "--channels", "210C,-,2101/08", "Kadr/a.rtd", "--seconds", "60"});
  ASSERT_TRUE(r.Ok) << r.Error;
  EXPECT_EQ(r.Opts.Cmd, Command::Record);
  EXPECT_EQ(r.Opts.File, "Kadr/a.rtd");
  EXPECT_EQ(r.Opts.Channels, "210C,-,2101/08");
  EXPECT_EQ(r.Opts.Seconds, 60u);
  EXPECT_EQ(Parse({"record", "a.rtd"}).Opts.Seconds, 0u);  // until interrupted
}

TEST(CliOptions, ExportTakesOneRecordingAndCsv) {
  ParseResult r = Parse({"--config", "ECU/CAMRY_2AZ.ini", "export", "Kadr/a b.rtd", "--csv"});
  ASSERT_TRUE(r.Ok) << r.Error;
  EXPECT_EQ(r.Opts.Cmd, Command::Export);
  EXPECT_EQ(r.Opts.Recording, "Kadr/a b.rtd");
  EXPECT_TRUE(r.Opts.Csv);
  EXPECT_FALSE(Parse({"export", "a.rtd"}).Opts.Csv);
  EXPECT_FALSE(Parse({"export"}).Ok);                       // no recording
  EXPECT_FALSE(Parse({"export", "a.rtd", "b.rtd"}).Ok);     // one at a time
  EXPECT_FALSE(Parse({"export", "a.rtd", "--export"}).Ok);  // another command's option
  EXPECT_FALSE(Parse({"live", "--csv"}).Ok);
}

TEST(CliReport, RowLineIsUtf8WithoutTheLeadingSpace) {
  ParameterRow row;
  row.Cells[kColCode] = " 010C";
  row.Cells[kColName] = cp1251::FromUtf8("Обороты");
  row.Cells[kColUnit] = cp1251::FromUtf8("об/мин");
  EXPECT_EQ(RowLine(row, "750"), "010C\tОбороты\t750\tоб/мин");
}

TEST(CliReport, FiguresUseAPointWhateverTheLocale) {
  EXPECT_EQ(Fixed(2.345, 1), "2.3");
}

}  // namespace
}  // namespace kestrel::cli
