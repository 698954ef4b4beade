// Framing, recognition and filing of the receiver, driven without threads.
#include <cstring>
#include <filesystem>
#include <memory>

#include "common/cp1251.h"
#include "link/rx_parser.h"
#include "link_test_support.h"

namespace kestrel {
namespace {

using namespace testing;
using namespace cp1251_literals;

constexpr std::uint8_t kEcu = 0x13;
constexpr std::uint8_t kTester = 0xF1;
constexpr std::uint8_t kRequestAddr = 0x33;

// A parser with its own table, counters and log, filing into the global store.
class ParserTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    table_ = std::make_unique<vorta::RequestTable>();
    std::memset(table_.get(), 0, sizeof(vorta::RequestTable));
    ClearResponseStore();
  }

  RxParser& Make(std::uint8_t protocol = kProtoFast, std::uint8_t addressing = kPhysical) {
    RxSettings s;
    s.EcuAddress = kEcu;
    s.Protocol = protocol;
    s.Addressing = addressing;
    s.TesterAddress = kTester;
    s.RequestAddress = kRequestAddr;
    RxTargets t;
    t.Table = table_.get();
    t.Store = ResponseStore;
    t.UnechoedWrites = &unechoed_;
    t.Error = &error_;
    t.LogFlag = &log_;
    parser_ = std::make_unique<RxParser>(s, t, "Kadr/test.log");
    return *parser_;
  }

  void Feed(const Bytes& b) {
    parser_->Push(b.data(), b.size());
    parser_->Parse();
  }
  // A response from the ECU to the tester.
  void Respond(const Bytes& payload) { Feed(Kwp(kTester, kEcu, payload)); }

  std::unique_ptr<vorta::RequestTable> table_;
  std::unique_ptr<RxParser> parser_;
  std::atomic<std::uint16_t> unechoed_{0};
  std::atomic<std::uint16_t> error_{0};
  std::atomic<std::uint8_t> log_{1};
};

// ------------------------------------------------------------ ISO 14230 framing

TEST_F(ParserTest, EchoAndResponseAreToldApartByTheirAddresses) {
  RxParser& p = Make();
  unechoed_ = 7;
  Feed(Kwp(kEcu, kTester, {0x21, 0x01}));
  EXPECT_TRUE(p.EchoSeen());
  EXPECT_FALSE(p.ResponseSeen());
  EXPECT_EQ(unechoed_.load(), 0);
  EXPECT_EQ(p.EchoRun(), 1);
  Respond({0x61, 0x01, 0xAA, 0xBB});
  EXPECT_TRUE(p.ResponseSeen());
  EXPECT_EQ(p.EchoRun(), 0);
  EXPECT_EQ(SlotData(vorta::kLocal21Offset, 0x01), (Bytes{0xAA, 0xBB}));
  EXPECT_EQ(p.Unparsed(), 0u);
}

TEST_F(ParserTest, NoiseBeforeAFrameIsSkippedByteByByte) {
  Make();
  // Noise that even contains the address pair behind a format byte below 0x80.
  Feed(Concat(
      {{0x00, 0x55, 0x13, 0xF1, 0x7F, kTester, kEcu}, Kwp(kTester, kEcu, {0x61, 0x05, 0x42})}));
  EXPECT_EQ(SlotData(vorta::kLocal21Offset, 0x05), (Bytes{0x42}));
}

TEST_F(ParserTest, AFrameSplitOverTwoReadsIsParsedWhenItsLastByteArrives) {
  RxParser& p = Make();
  const Bytes frame = Kwp(kTester, kEcu, {0x61, 0x07, 1, 2, 3});
  Feed(Bytes(frame.begin(), frame.begin() + 5));
  EXPECT_FALSE(p.ResponseSeen());
  EXPECT_EQ(p.Unparsed(), 5u);
  Feed(Bytes(frame.begin() + 5, frame.end()));
  EXPECT_TRUE(p.ResponseSeen());
  EXPECT_EQ(SlotData(vorta::kLocal21Offset, 0x07), (Bytes{1, 2, 3}));
}

TEST_F(ParserTest, FunctionalEchoUsesRequestAddressButResponsesComeFromTheEcu) {
  RxParser& p = Make(kProtoFast, kFunctional);
  // A physical-style echo is not ours under functional addressing.
  Feed(Kwp(kEcu, kTester, {0x01, 0x0C}));
  EXPECT_FALSE(p.EchoSeen());
  Feed(Kwp(kRequestAddr, kTester, {0x01, 0x0C}, true));
  EXPECT_TRUE(p.EchoSeen());
  // A frame from the functional address is no response.
  Feed(Kwp(kTester, kRequestAddr, {0x41, 0x0C, 0x10}));
  EXPECT_FALSE(p.ResponseSeen());
  Respond({0x41, 0x0C, 0x1A, 0xF8});
  EXPECT_TRUE(p.ResponseSeen());
  EXPECT_EQ(SlotData(vorta::kMode01Offset, 0x0C), (Bytes{0x1A, 0xF8}));
}

TEST_F(ParserTest, ChecksumErrorIsLoggedAndNothingElseHappens) {
  RxParser& p = Make();
  Bytes bad = Kwp(kTester, kEcu, {0x61, 0x01, 0x10});
  bad.back() ^= 0xFF;
  // The good frame right behind it is still parsed.
  Feed(Concat({bad, Kwp(kTester, kEcu, {0x61, 0x02, 0x20})}));
  EXPECT_EQ(Slot(vorta::kLocal21Offset, 0x01)[255], 0);
  EXPECT_EQ(SlotData(vorta::kLocal21Offset, 0x02), (Bytes{0x20}));
  const std::string expected = "          83 F1 13 61 01 10 " + ExchangeLog::Hex(&bad.back(), 1) +
                               " Packet CRC Error!!!\r\n" + "      RxD:83 F1 13 61 02 20 " +
                               ExchangeLog::Hex(&Kwp(kTester, kEcu, {0x61, 0x02, 0x20}).back(), 1) +
                               "\r\n\r\n";
  EXPECT_EQ(ReadRaw(p.Log().FileName()), expected);
}

TEST_F(ParserTest, TooManyEchoesWithoutAResponseSetNoResponse) {
  RxParser& p = Make();
  const Bytes echo = Kwp(kEcu, kTester, {0x21, 0x01});
  for (int i = 0; i < 254; ++i) Feed(echo);
  EXPECT_EQ(error_.load(), 0);
  Feed(echo);
  EXPECT_EQ(p.EchoRun(), 255);
  EXPECT_EQ(error_.load(), kErrNoResponse);
}

// ------------------------------------------------------------ filing

struct FilingCase {
  Bytes payload;     // service identifier and data
  std::size_t area;  // expected area
  std::size_t slot;  // expected slot
  Bytes data;        // expected slot contents
};

TEST_F(ParserTest, EveryServiceIsFiledInItsAreaAndSlot) {
  Make();
  const FilingCase cases[] = {
      {{0x41, 0x0D, 0x40}, vorta::kMode01Offset, 0x0D, {0x40}},
      {{0x42, 0x0C, 0x01, 0x1A, 0x2B}, vorta::kMode02Offset, 0x0C * 256 + 1, {0x1A, 0x2B}},
      {{0x47, 0x01, 0x33}, vorta::kMode07Offset, 0, {0x01, 0x33}},
      {{0x49, 0x02, 0x03, 'V', 'I', 'N'}, vorta::kMode09Offset, 2 * 16 + 3, {'V', 'I', 'N'}},
      {{0x43, 0x01, 0x43}, vorta::kDtcOffset, 0, {0x01, 0x43}},
      {{0x53, 0x03, 0x00}, vorta::kDtcOffset, 1, {0x03, 0x00}},
      {{0x58, 0x01, 0x01, 0x71, 0xE0}, vorta::kDtcStatusOffset, 0, {0x01, 0x01, 0x71, 0xE0}},
      {{0xE3, 0x09}, vorta::kDtcStatusOffset, 1, {0x09}},
      {{0x61, 0x80, 5, 6, 7}, vorta::kLocal21Offset, 0x80, {5, 6, 7}},
      {{0x62, 0xF1, 0x90, 'J', 'T'}, vorta::kCommon22Offset, 0xF190, {'J', 'T'}},
      {{0x70, 0x15, 0x01}, vorta::kControl30Offset, 0x15, {0x01}},
  };
  for (const FilingCase& c : cases) {
    Respond(c.payload);
    EXPECT_EQ(SlotData(c.area, c.slot), c.data) << "service " << int(c.payload[0]);
  }
}

TEST_F(ParserTest, RunningCountersFillSuccessiveSlotsAndWrapWithinTheirArea) {
  RxParser& p = Make();
  for (int i = 0; i < 3; ++i) Respond({0x43, static_cast<std::uint8_t>(i), 0x11});
  EXPECT_EQ(SlotData(vorta::kDtcOffset, 0), (Bytes{0, 0x11}));
  EXPECT_EQ(SlotData(vorta::kDtcOffset, 1), (Bytes{1, 0x11}));
  EXPECT_EQ(SlotData(vorta::kDtcOffset, 2), (Bytes{2, 0x11}));
  EXPECT_EQ(p.DtcCounter(), 3);
  for (int i = 3; i < 256; ++i) Respond({0x43, 0xEE});
  Respond({0x43, 0x77});  // the 257th lands in slot 0 again, not in the next area
  EXPECT_EQ(SlotData(vorta::kDtcOffset, 0), (Bytes{0x77}));
  EXPECT_EQ(Slot(vorta::kDtcStatusOffset, 0)[255], 0);
  // Each counter is its own.
  Respond({0x47, 0x01});
  Respond({0x58, 0x02});
  EXPECT_EQ(p.Mode07Counter(), 1);
  EXPECT_EQ(p.DtcStatusCounter(), 1);
  p.Reset();
  EXPECT_EQ(p.DtcCounter(), 0);
}

TEST_F(ParserTest, ShortResponsesFileNoDataAndNeverANegativeCount) {
  Make();
  // Identifier present, no data: count 0.
  std::uint8_t* pid05 = ResponseStore + vorta::kMode01Offset + 5 * vorta::kSlotSize;
  pid05[0] = 0x99;
  pid05[255] = 1;
  Respond({0x41, 0x05});
  EXPECT_EQ(pid05[255], 0);

  // Identifier bytes missing: the slot cannot be chosen, nothing is touched.
  auto store = std::make_unique<std::uint8_t[]>(vorta::kResponseStoreSize);
  std::memcpy(store.get(), ResponseStore, vorta::kResponseStoreSize);
  Respond({0x41});
  Respond({0x42, 0x0C});
  Respond({0x49, 0x02});
  Respond({0x61});
  Respond({0x62, 0xF1});
  Respond({0x70});
  Feed(WithChecksum({0x80, kTester, kEcu}));  // no service byte at all
  EXPECT_EQ(std::memcmp(store.get(), ResponseStore, vorta::kResponseStoreSize), 0);
  EXPECT_TRUE(parser_->ResponseSeen());
}

TEST_F(ParserTest, Mode09OutsideItsAreaIsLoggedButNotFiled) {
  RxParser& p = Make();
  auto store = std::make_unique<std::uint8_t[]>(vorta::kResponseStoreSize);
  std::memcpy(store.get(), ResponseStore, vorta::kResponseStoreSize);
  Respond({0x49, 0x10, 0x00, 0xAA});  // type above 0x0F
  Respond({0x49, 0x0F, 0x10, 0xAA});  // message above 15
  Respond({0x7F, 0x21, 0x12});        // negative response
  EXPECT_EQ(std::memcmp(store.get(), ResponseStore, vorta::kResponseStoreSize), 0);
  const std::string log = ReadRaw(p.Log().FileName());
  EXPECT_NE(log.find("      RxD:84 F1 13 49 10 00 AA "), std::string::npos);
  EXPECT_NE(log.find("      RxD:83 F1 13 7F 21 12 "), std::string::npos);
  Respond({0x49, 0x0F, 0x0F, 0xBB});  // the last slot of the area is fine
  EXPECT_EQ(SlotData(vorta::kMode09Offset, 255), (Bytes{0xBB}));
}

TEST_F(ParserTest, StartDiagnosticSessionAcknowledgedSkipsEvery10Request) {
  AddRequest(*table_, KwpRequest(kEcu, kTester, {0x10, 0x81}));
  AddRequest(*table_, KwpRequest(kEcu, kTester, {0x21, 0x01}));
  AddRequest(*table_, KwpRequest(kEcu, kTester, {0x10, 0x85}));
  Make();
  Respond({0x50, 0x81});
  EXPECT_EQ(GetSkip(table_->Entries[0]), 1);
  EXPECT_EQ(GetSkip(table_->Entries[1]), 0);
  EXPECT_EQ(GetSkip(table_->Entries[2]), 1);
}

TEST_F(ParserTest, ControlAcknowledgedSkipsOnlyItsLocalIdentifier) {
  AddRequest(*table_, KwpRequest(kEcu, kTester, {0x30, 0x05, 0x07, 0x01}));
  AddRequest(*table_, KwpRequest(kEcu, kTester, {0x30, 0x06, 0x07, 0x01}));
  AddRequest(*table_, KwpRequest(kEcu, kTester, {0x21, 0x05}));
  // Entries past Count are not looked at.
  table_->Entries[3] = table_->Entries[0];
  Make();
  Respond({0x70, 0x05, 0x01});
  EXPECT_EQ(GetSkip(table_->Entries[0]), 1);
  EXPECT_EQ(GetSkip(table_->Entries[1]), 0);
  EXPECT_EQ(GetSkip(table_->Entries[2]), 0);
  EXPECT_EQ(GetSkip(table_->Entries[3]), 0);
  EXPECT_EQ(SlotData(vorta::kControl30Offset, 0x05), (Bytes{0x01}));
}

// ------------------------------------------------------------ ISO 9141

TEST_F(ParserTest, Iso9141ResponseIsFiledOnlyWhenTheNextHeaderArrives) {
  RxParser& p = Make(kProto9141);
  const Bytes echo = Iso9141Request(kTester, {0x01, 0x0C});
  const Bytes response = Iso9141Response(0x10, {0x41, 0x0C, 0x1A, 0xF8});
  Feed(Concat({echo, response}));
  EXPECT_TRUE(p.EchoSeen());
  EXPECT_FALSE(p.ResponseSeen());
  EXPECT_EQ(p.Unparsed(), response.size());
  Feed(Iso9141Request(kTester, {0x01, 0x0D}));  // the next request's echo ends it
  EXPECT_TRUE(p.ResponseSeen());
  // The ECU's own address (0x10) is not EcuAddress (0x13): seen, not filed.
  EXPECT_EQ(Slot(vorta::kMode01Offset, 0x0C)[255], 0);
  Feed(Concat({Iso9141Response(kEcu, {0x41, 0x0D, 0x32}), Iso9141Request(kTester, {0x01, 0x05})}));
  EXPECT_EQ(SlotData(vorta::kMode01Offset, 0x0D), (Bytes{0x32}));
}

TEST_F(ParserTest, Iso9141HeaderWithoutAnEndIsDroppedAndParsingGoesOn) {
  RxParser& p = Make(kProto9141);
  // A response header followed by 300 bytes that hold no header at all.
  Bytes stream{0x48, 0x6B, kEcu, 0x41, 0x0C};
  stream.resize(305, 0x00);
  Feed(stream);
  EXPECT_LT(p.Unparsed(), RxParser::kMax9141Frame + 8);
  Feed(Concat({Iso9141Response(kEcu, {0x41, 0x0C, 0x55}), Iso9141Request(kTester, {0x01, 0x00})}));
  EXPECT_EQ(SlotData(vorta::kMode01Offset, 0x0C), (Bytes{0x55}));
}

// A frame ends where the next header starts, so noise in front of it lands
// in the frame; the checksum tells where the frame really ended.
TEST_F(ParserTest, Iso9141NoiseBehindAFrameIsCutOffWhereItsChecksumEnds) {
  const Bytes next = Iso9141Request(kTester, {0x01, 0x00});
  Bytes bad = Iso9141Response(kEcu, {0x41, 0x05, 0x22});
  bad.back() ^= 0xFF;
  struct Case {
    const char* what;
    Bytes stream;
    bool echo, response, crcError;
    std::uint8_t pid;
    Bytes filed;
  };
  const Case cases[] = {
      {"noise behind the echo",
       Concat({Iso9141Request(kTester, {0x01, 0x0C}),
               {0x01, 0x3F, 0x20},
               Iso9141Response(kEcu, {0x41, 0x0C, 0x1A, 0xF8}),
               next}),
       true,
       true,
       false,
       0x0C,
       {0x1A, 0xF8}},
      {"noise behind an answer",
       Concat({Iso9141Response(kEcu, {0x41, 0x0D, 0x32}), {0x07}, next}),
       false,
       true,
       false,
       0x0D,
       {0x32}},
      // 48 6B 13 41 07 ends in its own checksum as well: noise behind such an
      // answer still leaves its data.
      {"noise behind an answer whose start sums to itself",
       Concat({Iso9141Response(kEcu, {0x41, 0x07, 0x10}), {0x5A, 0x01}, next}),
       false,
       true,
       false,
       0x07,
       {0x10}},
      // 48 6B 13 41 07 already ends in its own checksum: a good frame is whole.
      {"good frame with a summing prefix",
       Concat({Iso9141Response(kEcu, {0x41, 0x07, 0x10}), next}),
       false,
       true,
       false,
       0x07,
       {0x10}},
      {"no prefix ends in its checksum", Concat({bad, next}), false, false, true, 0x05, {}},
      // 48 6B 13 C6 sums to itself, but four bytes are no frame.
      {"four bytes are too short",
       Concat({{0x48, 0x6B, kEcu, 0xC6, 0x00, 0x00}, next}),
       false,
       false,
       true,
       0xC6,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearResponseStore();
    std::filesystem::remove_all("Kadr");
    unechoed_ = 5;
    RxParser& p = Make(kProto9141);
    Feed(c.stream);
    // The next request's echo is not parsed yet: it waits for its own end.
    EXPECT_EQ(p.EchoSeen(), c.echo);
    EXPECT_EQ(unechoed_.load() == 0, c.echo);
    EXPECT_EQ(p.ResponseSeen(), c.response);
    EXPECT_EQ(SlotData(vorta::kMode01Offset, c.pid), c.filed);
    const std::string log = ReadRaw("Kadr/test.log");
    EXPECT_EQ(log.find("Packet CRC Error") != std::string::npos, c.crcError) << log;
    EXPECT_EQ(p.Unparsed(), next.size());
  }
}

TEST_F(ParserTest, Iso9141LongestFrameFilesAtMost255Bytes) {
  Make(kProto9141);
  Bytes payload{0x43};
  for (int i = 0; i < 255; ++i)
    payload.push_back(static_cast<std::uint8_t>(i == 254 ? 0xAB : 0x01));
  const Bytes frame = Iso9141Response(kEcu, payload);  // 260 bytes
  ASSERT_EQ(frame.size(), RxParser::kMax9141Frame);
  Feed(Concat({frame, Iso9141Request(kTester, {0x03})}));
  const std::uint8_t* slot0 = Slot(vorta::kDtcOffset, 0);
  EXPECT_EQ(slot0[255], 255);
  EXPECT_EQ(slot0[254], 0xAB);
  EXPECT_EQ(Slot(vorta::kDtcOffset, 1)[255], 0);  // the next slot is untouched
}

// ------------------------------------------------------------ ring

TEST_F(ParserTest, RingNeverHoldsMoreThanItsSizeAndKeepsTheNewestBytes) {
  RxParser& p = Make();
  Bytes flood(70000, 0x00);
  p.Push(flood.data(), flood.size());
  EXPECT_EQ(p.Unparsed(), RxParser::kRingSize - 1);
  Feed(Kwp(kTester, kEcu, {0x61, 0x09, 0x99}));
  EXPECT_EQ(SlotData(vorta::kLocal21Offset, 0x09), (Bytes{0x99}));
  EXPECT_LT(p.Unparsed(), 3u);
}

}  // namespace
}  // namespace kestrel
