// What each window's session sends and clears before it starts.
#include "screenlogic/sessions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "config/load_init.h"
#include "module/response_store.h"
#include "screenlogic/freeze.h"

namespace kestrel {
namespace {

struct Tables : ::testing::Test {
  void Add(const char* line) {
    ASSERT_TRUE(ParseRequestLine(line, table->Entries[table->Count++]));
  }
  std::uint8_t Skip(int e) const { return table->Entries[e].Skip; }

  std::unique_ptr<vorta::RequestTable> table = std::make_unique<vorta::RequestTable>();
  std::unique_ptr<ParameterTable> rows = std::make_unique<ParameterTable>();
  std::unique_ptr<vorta::ResponseMemory> memory = std::make_unique<vorta::ResponseMemory>();
};

TEST_F(Tables, FreezeFrameNumberGoesIntoEveryRequestButTheFirst) {
  Add("83 10 F1 02 0C 05");
  Add("83 10 F1 02 0D 00");
  Add("83 10 F1 02 05 00");
  SetFreezeFrameNumber(*table, 3);
  EXPECT_EQ(table->Entries[0].Data[5], 5);  // the configuration's own frame number
  EXPECT_EQ(table->Entries[1].Data[5], 3);
  EXPECT_EQ(table->Entries[2].Data[5], 3);
  EXPECT_EQ(table->Entries[3].Data[5], 0);  // past Count: untouched

  table->Count = 1;  // a single request keeps its frame number
  SetFreezeFrameNumber(*table, 9);
  EXPECT_EQ(table->Entries[0].Data[5], 5);
  table->Count = 0;
  SetFreezeFrameNumber(*table, 9);
  EXPECT_EQ(table->Entries[0].Data[5], 5);
  EXPECT_EQ(table->Entries[1].Data[5], 3);

  // Entries 2 to Count exactly, also past 256 requests (Count 256 is not "none").
  for (int count : {256, 257, 1001}) {
    table->Count = static_cast<std::uint16_t>(count);
    SetFreezeFrameNumber(*table, static_cast<std::uint8_t>(count % 200));
    EXPECT_EQ(table->Entries[0].Data[5], 5) << count;
    EXPECT_EQ(table->Entries[1].Data[5], count % 200) << count;
    EXPECT_EQ(table->Entries[count - 1].Data[5], count % 200) << count;
    if (count < vorta::kMaxRequests) {
      EXPECT_EQ(table->Entries[count].Data[5], 0) << count;
    }
  }
}

TEST_F(Tables, FreezeReadClearsOnlyItsFrameAndLeavesOutInactiveRows) {
  Add("83 10 F1 02 0C 00");
  Add("83 10 F1 02 0D 00");
  rows->RowCount = 2;
  rows->Rows[0].Cells[kColCode] = " 020C";
  rows->Rows[1].Cells[kColCode] = " 020D";
  rows->RowInactive[1] = 1;
  table->Entries[0].Skip = 1;
  const std::uint8_t b[1] = {7};
  std::uint8_t* store = memory->Store;
  vorta::FileSlotBytes(vorta::Slot(store, vorta::kAreaMode02, vorta::Mode02Slot(0x0C, 3)), b, 1);
  vorta::FileSlotBytes(vorta::Slot(store, vorta::kAreaMode02, vorta::Mode02Slot(0xFF, 3)), b, 1);
  vorta::FileSlotBytes(vorta::Slot(store, vorta::kAreaMode02, vorta::Mode02Slot(0x0C, 0)), b, 1);

  PrepareFreezeRead(*table, *rows, store, 3);
  EXPECT_EQ(Skip(0), 0);
  EXPECT_EQ(Skip(1), 1);
  EXPECT_FALSE(vorta::HasData(vorta::Slot(store, vorta::kAreaMode02, vorta::Mode02Slot(0x0C, 3))));
  EXPECT_FALSE(vorta::HasData(vorta::Slot(store, vorta::kAreaMode02, vorta::Mode02Slot(0xFF, 3))));
  EXPECT_TRUE(vorta::HasData(vorta::Slot(store, vorta::kAreaMode02, vorta::Mode02Slot(0x0C, 0))));
}

TEST_F(Tables, GraphChannelsSendExactlyTheirRequests) {
  Add("82 10 F1 21 0C");     // 0: channel 1
  Add("82 10 F1 21 05");     // 1: no channel
  Add("83 10 F1 22 01 A2");  // 2: channel 3 (service 22 compares the second byte)
  Add("83 10 F1 22 01 B3");  // 3: same first byte, other second byte
  Add("82 10 F1 21 0C");     // 4: a second request for channel 1
  GraphChannelKeys channels;
  channels[0] = ParameterKey{0x21, 0x0C, 0x00, 0x00};
  channels[2] = ParameterKey{0x22, 0x01, 0xA2, 0x13};
  channels[5] = ParameterKey{0x21, 0x0C, 0x07, 0x08};  // second byte ignored for service 21
  UpdateChannelRequests(*table, channels);
  EXPECT_EQ((std::vector<int>{Skip(0), Skip(1), Skip(2), Skip(3), Skip(4)}),
            (std::vector<int>{0, 1, 0, 1, 0}));
}

}  // namespace
}  // namespace kestrel
