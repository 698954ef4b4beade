// The exchange log, the recording records and the status texts.
#include <sys/stat.h>

#include <filesystem>

#include "common/cp1251.h"
#include "link/exchange_log.h"
#include "link/link_error_hint.h"
#include "link/port_map.h"
#include "link/recording.h"
#include "link_test_support.h"

namespace kestrel {
namespace {

using namespace testing;
using namespace cp1251_literals;

class LogTest : public TempDirTest {};

TEST_F(LogTest, FileNameIsBuiltFromTheDateAndTimeValues) {
  std::tm t{};
  t.tm_year = 2012 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 5;
  t.tm_hour = 9;
  t.tm_min = 7;
  t.tm_sec = 2;
  EXPECT_EQ(ExchangeLog::FileNameFor(t), "Kadr/050312_090702.log");
  t.tm_year = 2000 - 1900;  // two-digit year keeps its leading zero
  t.tm_mon = 11;
  t.tm_mday = 31;
  t.tm_hour = 23;
  t.tm_min = 59;
  t.tm_sec = 59;
  EXPECT_EQ(ExchangeLog::FileNameFor(t), "Kadr/311200_235959.log");
}

TEST_F(LogTest, LinesAreExactAndInCodePage1251) {
  ExchangeLog log("Kadr/x.log", nullptr);
  const Bytes echo{0x82, 0x13, 0xF1, 0x21, 0x01, 0xA8};
  const Bytes response{0x83, 0xF1, 0x13, 0x61, 0x01, 0x0A, 0xEB};
  log.Echo(echo.data(), echo.size());
  log.Response(response.data(), response.size());
  log.ChecksumError(echo.data(), 2);
  const std::string expected = std::string(" TxD(Эхо):"_cpsv) + "82 13 F1 21 01 A8 \r\n" +
                               "      RxD:83 F1 13 61 01 0A EB \r\n\r\n" +
                               "          82 13  Packet CRC Error!!!\r\n";
  EXPECT_EQ(ReadRaw("Kadr/x.log"), expected);
  EXPECT_EQ(std::string(" TxD(Эхо):"_cp).substr(5, 3), "\xDD\xF5\xEE");
}

TEST_F(LogTest, FolderIsCreatedWhenMissingAndFlagIsLookedAtPerLine) {
  std::atomic<std::uint8_t> enabled{0};
  ExchangeLog log(ExchangeLog::FileNameNow(), &enabled);
  const Bytes b{0x01};
  log.Echo(b.data(), 1);
  EXPECT_FALSE(std::filesystem::exists("Kadr"));
  enabled = 1;
  log.Echo(b.data(), 1);
  EXPECT_TRUE(std::filesystem::exists(log.FileName()));
  EXPECT_EQ(log.FileName().rfind("Kadr/", 0), 0u);
}

TEST_F(LogTest, UnwritableLogIsSkippedQuietly) {
  // "Kadr" is a plain file: the folder cannot be made; nothing breaks.
  { std::ofstream("Kadr") << "x"; }
  ExchangeLog log("Kadr/y.log", nullptr);
  const Bytes b{0x01};
  log.Response(b.data(), 1);
  EXPECT_EQ(ReadRaw("Kadr"), "x");
}

TEST_F(LogTest, RecordsAre38BytesAndOnlyExtendAnExistingFile) {
  const Bytes frame = Kwp(0xF1, 0x13, {0x61, 0x01, 0x11, 0x22});
  EXPECT_FALSE(AppendRtdRecord("rec.rtd", frame.data(), frame.size()));
  EXPECT_FALSE(std::filesystem::exists("rec.rtd"));

  { std::ofstream("rec.rtd", std::ios::binary) << "HDR"; }
  Bytes longFrame(50);
  for (std::size_t i = 0; i < longFrame.size(); ++i)
    longFrame[i] = static_cast<std::uint8_t>(i + 1);
  ASSERT_TRUE(AppendRtdRecord("rec.rtd", frame.data(), frame.size()));
  ASSERT_TRUE(AppendRtdRecord("rec.rtd", longFrame.data(), longFrame.size()));
  const std::string file = ReadRaw("rec.rtd");
  ASSERT_EQ(file.size(), 3 + 2 * kRtdRecordSize);
  std::string first(kRtdRecordSize, '\0');
  std::copy(frame.begin(), frame.end(), first.begin());
  EXPECT_EQ(file.substr(3, kRtdRecordSize), first);
  EXPECT_EQ(static_cast<std::uint8_t>(file[3 + kRtdRecordSize + 37]), 38);  // cut at 38
}

TEST(StatusText, ErrorShowsTheWholeWordAsFourUpperCaseHexDigits) {
  EXPECT_EQ(LinkStatusText(lsError, 0x0A00), std::string("Ошибка 0A00"_cp));
  EXPECT_EQ(LinkStatusText(lsError, 0x8001, true), "Error 8001");
  EXPECT_EQ(LinkStatusText(lsError, 0x00ab), std::string("Ошибка 00AB"_cp));
  EXPECT_EQ(LinkStatusText(lsIdle, 0x0A00), std::string("Простой"_cp));
  EXPECT_EQ(LinkStatusText(lsExchange, 0, true), "Recive ISO-14230/9141");
}

TEST(StatusText, HintExplainsEverySetBitAndAPortThatDidNotOpen) {
  EXPECT_EQ(LinkErrorHint(0, "COM1", ""), "");
  const std::string both = LinkErrorHint(0x0A00, "COM1", "");
  EXPECT_EQ(both.rfind("0x0200: адаптер не возвращает эхо"_cp, 0), 0u) << cp1251::ToUtf8(both);
  EXPECT_NE(both.find("\n0x0800: ЭБУ не отвечает"_cp), std::string::npos);
  EXPECT_EQ(both.find("0x0001"), std::string::npos);

  SetPortDeviceOverride("COM4", "/dev/kestrel-no-such-adapter");
  const std::string open =
      LinkErrorHint(0x0001, "COM4", "/dev/kestrel-no-such-adapter: No such file");
  ClearPortDeviceOverrides();
  EXPECT_NE(open.find("COM4 = /dev/kestrel-no-such-adapter"), std::string::npos);
  EXPECT_NE(open.find("No such file"), std::string::npos);
  EXPECT_NE(open.find("устройство не найдено"_cp), std::string::npos) << cp1251::ToUtf8(open);
}

}  // namespace
}  // namespace kestrel
