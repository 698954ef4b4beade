// A recording as the ECU's data.
#include "ecusim/replay.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>

#include "line_rig.h"

namespace kestrel::ecusim::test {
namespace {

// Header (interval little-endian) and one 38-byte record per frame.
Bytes Recording(std::uint16_t interval, const std::vector<Bytes>& frames) {
  Bytes file(kRtdRecordSize, 0);
  file[0] = 'R', file[1] = 'T', file[2] = 'D', file[3] = 'A';
  file[4] = static_cast<std::uint8_t>(interval & 0xFF);
  file[5] = static_cast<std::uint8_t>(interval >> 8);
  for (const Bytes& f : frames) {
    Bytes rec(f.begin(),
              f.begin() + static_cast<std::ptrdiff_t>(std::min(f.size(), kRtdRecordSize)));
    rec.resize(kRtdRecordSize, 0);
    file.insert(file.end(), rec.begin(), rec.end());
  }
  return file;
}

Bytes Rpm(double rpm) {
  const int v = static_cast<int>(rpm * 4);
  return Frame14230(
      0xF1, 0x10,
      {0x41, 0x0C, static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v & 0xFF)});
}

TEST(Replay, LatestRecordPerIdentifierAtTheHeadersInterval) {
  std::string error;
  const auto r = Replay::FromBytes(
      Recording(140, {Rpm(800), Frame14230(0xF1, 0x10, {0x61, 0xE4, 0x20}), Rpm(900),
                      Frame14230(0xF1, 0x10, {0x7F, 0x21, 0x12}), Rpm(1000),
                      Frame14230(0xF1, 0x10, {0x62, 0x01, 0x02, 0xAA, 0xBB})}),
      "rec", error);
  ASSERT_TRUE(r) << error;
  EXPECT_EQ(r->Records(), 6u);
  EXPECT_EQ(r->IntervalMs(), 140);
  EXPECT_EQ(r->At(0x01, 0x0C, 0.0), (Bytes{0x0C, 0x80}));   // record 0
  EXPECT_EQ(r->At(0x01, 0x0C, 0.27), (Bytes{0x0C, 0x80}));  // record 1: still record 0
  EXPECT_EQ(r->At(0x01, 0x0C, 0.30), (Bytes{0x0E, 0x10}));  // record 2: 900 rpm
  EXPECT_EQ(r->At(0x01, 0x0C, 0.60), (Bytes{0x0F, 0xA0}));  // record 4: 1000 rpm
  EXPECT_EQ(r->At(0x01, 0x0C, 0.85), (Bytes{0x0C, 0x80}));  // looped to record 0
  EXPECT_EQ(r->At(0x21, 0xE4, 0.0), (Bytes{0x20}));         // before its record: the first
  EXPECT_EQ(r->At(0x22, 0x0102, 5.0), (Bytes{0xAA, 0xBB}));
  EXPECT_FALSE(r->At(0x21, 0x12, 1.0));  // negative answers are no data
  EXPECT_EQ(r->Ids(0x01), (std::vector<std::uint16_t>{0x0C}));
}

TEST(Replay, Iso9141RecordsAreCutAtTheirChecksum) {
  const Bytes frame = Frame9141(0x10, {0x41, 0x05, 0x7B});
  Bytes rec(frame);
  rec.resize(kRtdRecordSize, 0);
  EXPECT_EQ(Replay::FrameOf(rec.data()), frame);
  std::string error;
  const auto r = Replay::FromBytes(Recording(100, {frame}), "rec", error);
  ASSERT_TRUE(r) << error;
  EXPECT_EQ(r->At(0x01, 0x05, 0), (Bytes{0x7B}));
}

TEST(Replay, LongFramesAreKeptToTheRecord) {
  Bytes payload{0x61, 0x81};
  for (int i = 0; i < 40; ++i) payload.push_back(static_cast<std::uint8_t>(i));
  std::string error;
  const auto r = Replay::FromBytes(Recording(100, {Frame14230(0xF1, 0x10, payload)}), "rec", error);
  ASSERT_TRUE(r) << error;
  EXPECT_EQ(r->At(0x21, 0x81, 0)->size(), kRtdRecordSize - 5);
}

TEST(Replay, UnusableFiles) {
  std::string error;
  EXPECT_FALSE(Replay::FromBytes(Bytes(10, 0), "short.rtd", error));
  EXPECT_EQ(error, "short.rtd: too short for a recording header (10 bytes)");
  EXPECT_FALSE(Replay::FromBytes(Recording(100, {Frame14230(0xF1, 0x10, {0x43, 1, 2, 3})}),
                                 "codes.rtd", error));
  EXPECT_EQ(error, "codes.rtd: holds no 0x41, 0x61 or 0x62 response to replay");
  EXPECT_FALSE(Replay::Load("/nonexistent/x.rtd", error));
  EXPECT_NE(error.find("/nonexistent/x.rtd: cannot open"), std::string::npos);
  // A zero interval still advances, and a partial last record is ignored.
  Bytes file = Recording(0, {Rpm(800), Rpm(900)});
  file.resize(file.size() + 7, 0xEE);
  const auto r = Replay::FromBytes(file, "rec", error);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Records(), 2u);
  EXPECT_EQ(r->At(0x01, 0x0C, 0.15), (Bytes{0x0E, 0x10}));
}

TEST(Replay, EcuAnswersFromTheRecording) {
  const std::string path = ::testing::TempDir() + "ecusim_replay.rtd";
  {
    const Bytes file = Recording(100, {Rpm(2500), Frame14230(0xF1, 0x10, {0x41, 0x5C, 0x77})});
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
  }
  std::string error;
  auto replay = Replay::Load(path, error);
  std::remove(path.c_str());
  ASSERT_TRUE(replay) << error;
  EngineOptions o;
  o.replay = std::make_shared<const Replay>(std::move(*replay));
  Engine e(DefaultScenario(), o, 0);
  EXPECT_EQ(e.Services({0x01, 0x0C}, 0), (std::vector<Bytes>{{0x41, 0x0C, 0x27, 0x10}}));
  // PID 5C is not in the scenario, but the recording has it: supported and answered.
  EXPECT_EQ(e.Services({0x01, 0x5C}, 0), (std::vector<Bytes>{{0x41, 0x5C, 0x77}}));
  const Bytes mask = e.Services({0x01, 0x40}, 0)[0];
  EXPECT_TRUE(mask[2 + (0x5C - 0x41) / 8] & (0x80 >> ((0x5C - 0x41) % 8)));
  // What the recording lacks comes from the scenario.
  EXPECT_EQ(e.Services({0x01, 0x0D}, 0)[0][0], 0x41);
}

}  // namespace
}  // namespace kestrel::ecusim::test
