// The recording file: header layout, reading with seeks, a partial tail, and
// filing played-back records into the response store.
#include "link/recording.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "link/tests/link_test_support.h"
#include "module/response_store.h"

namespace kestrel {
namespace {

using testing::Bytes;

TEST(RtdHeaderTest, BytesOnDisk) {
  RtdHeader h;
  h.IntervalMs = PlaybackInterval(80, 65500);  // the 16-bit sum wraps
  h.Channels[0] = {0x21, 0x0C, 0x00, 0x00};
  h.Channels[7] = {0x22, 0x01, 0xA2, 0x13};
  const RtdRecord r = h.Encode();
  EXPECT_EQ(Bytes(r.begin(), r.begin() + 10), (Bytes{'R', 'T', 'D', 'A', 44, 0, 0x21, 0x0C, 0, 0}));
  EXPECT_EQ(Bytes(r.begin() + 34, r.end()), (Bytes{0x22, 0x01, 0xA2, 0x13}));
  EXPECT_EQ(Bytes(r.begin() + 10, r.begin() + 34), Bytes(24, 0));  // channels on "Нет"
  const RtdHeader back = RtdHeader::Decode(r);
  EXPECT_TRUE(back.MagicOk());
  EXPECT_EQ(back.IntervalMs, 44);
  EXPECT_EQ(back.Channels, h.Channels);
}

class RtdFileTest : public testing::TempDirTest {};

TEST_F(RtdFileTest, WrittenRecordsReadBackWithSeeksAndThePartialTailIgnored) {
  RtdHeader h;
  h.IntervalMs = 140;
  std::string error;
  ASSERT_TRUE(CreateRecording("a.rtd", h, error)) << error;
  for (std::uint8_t i = 0; i < 5; ++i) {
    const Bytes frame = testing::Kwp(0xF1, 0x10, {0x61, i, static_cast<std::uint8_t>(i * 2)});
    ASSERT_TRUE(AppendRtdRecord("a.rtd", frame.data(), frame.size()));
  }
  { std::ofstream("a.rtd", std::ios::binary | std::ios::app) << "tail"; }

  RtdReader reader;
  ASSERT_TRUE(reader.Open("a.rtd", error)) << error;
  EXPECT_EQ(reader.RecordCount(), 6u);
  EXPECT_EQ(reader.Header().IntervalMs, 140);
  EXPECT_EQ(reader.Position(), 1u);  // the header is read
  RtdRecord r{};
  ASSERT_TRUE(reader.Seek(4));
  ASSERT_TRUE(reader.Read(r));
  EXPECT_EQ(r[4], 3);  // record 4 is the fourth frame
  ASSERT_TRUE(reader.Read(r));
  EXPECT_FALSE(reader.Read(r));  // the tail is not a record
  EXPECT_FALSE(reader.Seek(7));
  ASSERT_TRUE(reader.Seek(0));
  ASSERT_TRUE(reader.Read(r));
  EXPECT_EQ(r[0], 'R');

  EXPECT_FALSE(reader.Open("missing.rtd", error));
  EXPECT_NE(error.find("missing.rtd"), std::string::npos);
  EXPECT_FALSE(CreateRecording("no/such/folder.rtd", h, error));
}

TEST(RtdFilingTest, PlaybackFillsSlotsWithTheirCounts) {
  auto memory = std::make_unique<vorta::ResponseMemory>();
  std::uint8_t* store = memory->Store;
  RtdRecord r{};
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<std::uint8_t>(i);
  struct Case {
    std::uint8_t service;
    vorta::StoreArea area;
    std::size_t slot;
    std::uint8_t first, count;
  };
  for (const Case& c :
       {Case{0x41, vorta::kAreaMode01, 4, 5, 32}, Case{0x61, vorta::kAreaLocal21, 4, 5, 32},
        Case{0x62, vorta::kAreaCommon22, vorta::Common22Slot(4, 5), 6, 31}}) {
    r[3] = c.service;
    ASSERT_TRUE(FileRtdRecord(r, store));
    const std::uint8_t* slot = vorta::Slot(store, c.area, c.slot);
    EXPECT_EQ(vorta::SlotCount(slot), c.count);
    EXPECT_EQ(slot[0], c.first);
    EXPECT_EQ(slot[c.count], 37);  // every byte up to the record's end
  }
  r[3] = 0x7F;
  EXPECT_FALSE(FileRtdRecord(r, store));
}

}  // namespace
}  // namespace kestrel
