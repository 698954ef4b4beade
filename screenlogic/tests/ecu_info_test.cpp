// The ECU information window's decoding and its file.
#include "screenlogic/ecu_info.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "common/cp1251.h"
#include "module/response_store.h"

namespace kestrel {
namespace {

using namespace cp1251_literals;

class EcuInfoTest : public ::testing::Test {
 protected:
  void Fill(vorta::StoreArea area, std::size_t slot, std::vector<std::uint8_t> bytes) {
    vorta::FileSlotBytes(vorta::Slot(memory_->Store, area, slot), bytes.data(), bytes.size());
  }
  const std::uint8_t* Store() const { return memory_->Store; }

  std::unique_ptr<vorta::ResponseMemory> memory_ = std::make_unique<vorta::ResponseMemory>();
  SupportTicks ticks_;
};

TEST_F(EcuInfoTest, NothingAnsweredShowsUnknownAndLeavesTheListsAsTheyWere) {
  ticks_.Items[2][0x40] = true;  // from an earlier read
  const InfoView v = DecodeInfo(Store(), ticks_);
  EXPECT_EQ(v.ObdType, "Неизвестно"_cp);
  EXPECT_EQ(v.Ident, "");
  EXPECT_TRUE(v.Sensors.empty());
  EXPECT_EQ(ticks_.Ticked(2), std::vector<int>{0x40});
  EXPECT_TRUE(ticks_.Ticked(0).empty());
}

TEST_F(EcuInfoTest, SupportMasksTypeSensorsAndIdent) {
  Fill(vorta::kAreaMode01, 0x00, {0xBE, 0x1F, 0xA8, 0x13});
  Fill(vorta::kAreaLocal21, 0x1C, {11});  // used when Mode 01 has no 1C
  memory_->Store[vorta::SlotOffset(vorta::kAreaMode01, 0x13)] = 0x11;  // read without data
  Fill(vorta::kAreaLocal21, 0xD3, {'8', '9', '6', '6', '1', '0'});
  Fill(vorta::kAreaLocal21, 0xA0, {0x00, 0x00, 0x00, 0x01});  // four bytes: B0 not decoded
  Fill(vorta::kAreaLocal21, 0xB0, {0xFF});
  Fill(vorta::kAreaControl30, 0xA0, {0x00, 0x00});  // two bytes: B0 decoded
  Fill(vorta::kAreaControl30, 0xB0, {0x80});
  Fill(vorta::kAreaMode02, vorta::Mode02Slot(0x00, 0), {0x40, 0, 0, 0});
  Fill(vorta::kAreaMode02, vorta::Mode02Slot(0x00, 1), {0xFF, 0, 0, 0});  // another frame
  // SID09 holds items 0..32 only: bits past item 32 are ignored.
  Fill(vorta::kAreaMode09, vorta::Mode09Slot(0, 1), {0x40, 0, 0, 0x01, 0xFF, 0xFF});

  const InfoView v = DecodeInfo(Store(), ticks_);
  EXPECT_EQ(ticks_.Ticked(0),
            (std::vector<int>{0, 1, 3, 4, 5, 6, 7, 12, 13, 14, 15, 16, 17, 19, 21, 28, 31, 32}));
  EXPECT_EQ(v.ObdType, "JOBD и OBDII"_cp);
  ASSERT_EQ(v.Sensors.size(), 2u);
  EXPECT_EQ(v.Sensors[1], "№5 После двигателя (Головка 2)"_cp);
  EXPECT_EQ(v.SensorText(), std::string("№1 После двигателя (Головка 1)\r\n"_cp) +
                                "№5 После двигателя (Головка 2)\r\n"_cp);
  EXPECT_EQ(v.Ident, "89661");
  EXPECT_EQ(ticks_.Ticked(1), (std::vector<int>{0, 2}));
  EXPECT_EQ(ticks_.Ticked(2), (std::vector<int>{0xA0, 0xC0}));
  EXPECT_EQ(ticks_.Ticked(3), (std::vector<int>{0xA0, 0xB0, 0xB1}));
  EXPECT_EQ(ticks_.Ticked(4), (std::vector<int>{0, 2, 32}));
}

TEST_F(EcuInfoTest, ExportBreaksTheLineAfterEvery16thIdentifierOverTheWholeFile) {
  for (int id = 0; id < 20; ++id) ticks_.Items[0][id] = true;  // 16 + 4 on the first list
  for (int id = 0; id < 12; ++id) ticks_.Items[1][id] = true;  // completes the second 16
  ticks_.Items[4][0x20] = true;
  InfoView v;
  v.Ident = "89661";
  v.ObdType = "JOBD"_cp;
  v.Sensors = {"№1"_cp};
  // The identifiers come from the item texts; those no load has named read
  // "PID=<hex> " like an item without a definition.
  auto names = std::make_unique<PidNameLists>();
  names->Sid01[0x0C] = "PID=0C Обороты двигателя"_cp;
  const SupportItems items = SupportItemsFrom(*names);
  EXPECT_EQ(items.Texts[0][0x0C], names->Sid01[0x0C]);
  EXPECT_EQ(items.Texts[0][0x1F], "PID=1F ");
  EXPECT_EQ(items.Texts[4].size(), 33u);
  EXPECT_EQ(items.Texts[4][0x20], "PID=20 ");
  const std::vector<std::string> lines = InfoExportLines("Car", "ECU", v, ticks_, items);
  const std::vector<std::string> expected = {
      "Автомобиль: Car"_cp,
      "Тип ECU: ECU"_cp,
      "ID ECU:89661",
      "Тип OBD:JOBD"_cp,
      "Датчики кислорода и их расположение:"_cp,
      "№1"_cp,
      "",
      "",
      "Список PID у Mode01:"_cp,
      " 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F",
      " 10 11 12 13",
      "",
      "Список PID у Mode02:"_cp,
      " 00 01 02 03 04 05 06 07 08 09 0A 0B",
      "",
      "",
      "Список PID у Mode21:"_cp,
      "",
      "",
      "Список PID у Mode30:"_cp,
      "",
      "",
      "Список PID у Mode09:"_cp,
      " 20",
  };
  EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace kestrel
