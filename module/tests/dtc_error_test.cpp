// DTCError: codes of the current (Mode 07) and stored (DTC) lists.

#include <gtest/gtest.h>

#include <string>

#include "module/module_internal.h"
#include "module/tests/response_memory.h"

namespace vorta {
namespace {

using testing::FillSlot;
using testing::PokeSlot;

class DtcErrorTest : public ::testing::Test {
 protected:
  std::string Read(std::uint8_t list) {
    query_ = DtcQuery{mem_->Store, list, "stale", 99};
    DTCError(&query_);
    return query_.Text;
  }

  std::unique_ptr<ResponseMemory, testing::FreeDeleter> mem_ = testing::NewResponseMemory();
  DtcQuery query_{};
};

TEST_F(DtcErrorTest, CodesOfBothLists) {
  FillSlot(*mem_, kMode07Offset, 0, {0x01, 0x33, 0x00, 0x00, 0x00, 0x00});
  EXPECT_EQ(Read(1), "0133");
  EXPECT_EQ(query_.Count, 1);

  FillSlot(*mem_, kDtcOffset, 0, {0x01, 0x71, 0x01, 0x72, 0x03, 0x00});
  FillSlot(*mem_, kDtcOffset, 1, {0x04, 0x20, 0x00, 0x00, 0x00, 0x00});
  EXPECT_EQ(Read(2), "0171017203000420");
  EXPECT_EQ(query_.Count, 4);
  EXPECT_EQ(Read(1), "0133");  // the lists do not mix
}

TEST_F(DtcErrorTest, ZeroPairsAreSkippedAndDigitsAreUpperCase) {
  // The count byte only marks the slot as filled; all three pairs are read.
  FillSlot(*mem_, kMode07Offset, 0, {0x00, 0x00});
  PokeSlot(*mem_, kMode07Offset, 0, {0x00, 0x00, 0xAB, 0xCD, 0x00, 0x0F});
  EXPECT_EQ(Read(1), "ABCD000F");
  EXPECT_EQ(query_.Count, 2);
}

TEST_F(DtcErrorTest, TheFirstEmptySlotEndsTheList) {
  FillSlot(*mem_, kDtcOffset, 1, {0x01, 0x00, 0x00, 0x00, 0x00, 0x00});
  EXPECT_EQ(Read(2), "");
  EXPECT_EQ(query_.Count, 0);

  FillSlot(*mem_, kDtcOffset, 0, {0x02, 0x00});
  FillSlot(*mem_, kDtcOffset, 3, {0x03, 0x00});  // after the gap at slot 2
  EXPECT_EQ(Read(2), "02000100");
  EXPECT_EQ(query_.Count, 2);
}

TEST_F(DtcErrorTest, AFullAreaGivesAllCodes) {
  for (unsigned k = 0; k < 256; ++k) {
    const auto b = static_cast<std::uint8_t>(k);
    FillSlot(*mem_, kMode07Offset, k, {0x10, b, 0x20, b, 0x30, b});
  }
  // The area behind it is filled too: the list must stop at 256 slots.
  FillSlot(*mem_, kMode07Offset + kMode07Size, 0, {0x99, 0x99});
  const std::string text = Read(1);
  EXPECT_EQ(query_.Count, 768);
  ASSERT_EQ(text.size(), 3072u);
  EXPECT_EQ(text.substr(0, 12), "100020003000");
  EXPECT_EQ(text.substr(3060), "10FF20FF30FF");
}

TEST_F(DtcErrorTest, OtherListsAndNoStoreGiveNothing) {
  FillSlot(*mem_, kMode07Offset, 0, {0x01, 0x33});
  FillSlot(*mem_, kDtcOffset, 0, {0x01, 0x33});
  for (std::uint8_t list : {0, 3, 255}) {
    EXPECT_EQ(Read(list), "");
    EXPECT_EQ(query_.Count, 0);
  }
  query_ = DtcQuery{nullptr, 1, nullptr, 5};
  DTCError(&query_);
  ASSERT_NE(query_.Text, nullptr);
  EXPECT_EQ(std::string(query_.Text), "");
  EXPECT_EQ(query_.Count, 0);
}

TEST_F(DtcErrorTest, TextStaysUntilTheNextDtcErrorCall) {
  FillSlot(*mem_, kMode07Offset, 0, {0x01, 0x33});
  Read(1);
  const char* text = query_.Text;
  mem_->Query.Service = 0x01;
  FillSlot(*mem_, kMode01Offset, 0xC0, {0x55});
  PIDVAL(mem_->Store);  // another export's call leaves it alone
  EXPECT_EQ(std::string(text), "0133");
}

}  // namespace
}  // namespace vorta
