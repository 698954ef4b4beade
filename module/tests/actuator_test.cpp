// ACTTESTProc: value ranges, control bytes and arming of test requests.

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <memory>

#include "module/module_internal.h"

namespace vorta {
namespace {

class ActuatorTest : public ::testing::Test {
 protected:
  ActuatorTest() { request_.Table = table_.get(); }

  // Appends a request (header 80 13 F1, then `body` from byte 3) with Skip set.
  RequestEntry& Add(std::initializer_list<std::uint8_t> body) {
    RequestEntry& e = table_->Entries[table_->Count++];
    e.Data[0] = 0x80;
    e.Data[1] = 0x13;
    e.Data[2] = 0xF1;
    std::size_t i = 3;
    for (std::uint8_t b : body) e.Data[i++] = b;
    e.Length = static_cast<std::uint16_t>(i);
    e.Skip = 1;
    return e;
  }

  // Issues test `id` with `value`; numeric when `numeric`, else on/off bit `bit`.
  void Issue(std::uint8_t id, double value, bool numeric, std::uint16_t bit = 0) {
    request_.Service = 0x30;
    request_.Id1 = id;
    request_.Flags = static_cast<std::uint16_t>((numeric ? 0x80 : 0x00) | bit);
    request_.Command = 1;
    request_.Value = value;
    ACTTESTProc(&request_);
  }

  std::unique_ptr<RequestTable> table_ = std::make_unique<RequestTable>();
  TestRequest request_{};
};

TEST_F(ActuatorTest, NumericTestsWriteTheirControlBytes) {
  struct Case {
    std::uint8_t id;
    double value;
    std::uint8_t byte5;
    std::uint8_t byte6;
    double min;
    double max;
  };
  const Case cases[] = {
      {0x01, 0.0, 128, 0xEE, -12.5, 24.72},  // T(25·5.12) = 128, byte 6 untouched
      {0x01, -25.0, 0, 0xEE, -12.5, 24.72},
      {0x02, 99.9, 99, 0xEE, 0, 125},
      {0x03, 300.0, 44, 0xEE, 0, 125},  // outside the range: low 8 bits
      {0x08, 5.7, 7, 5, 0, 7},
      {0x0C, -25.0, 0xFF, 0, -25, 25},
      {0x0C, 25.0, 0xFF, 0, -25, 25},  // T(256) = 256, low byte 0
      {0x0C, 24.9, 0xFF, 255, -25, 25},
      {0x18, -100.0, 0, 0xEE, -100, 100},
      {0x18, 100.0, 200, 0xEE, -100, 100},
      {0x18, -101.5, 255, 0xEE, -100, 100},  // T(−1.5) = −1
  };
  for (const Case& c : cases) {
    table_->Count = 0;
    RequestEntry& e = Add({0x30, c.id, 0x11, 0xEE});
    Issue(c.id, c.value, true);
    SCOPED_TRACE(::testing::Message() << "id " << int{c.id} << " value " << c.value);
    EXPECT_EQ(e.Data[5], c.byte5);
    EXPECT_EQ(e.Data[6], c.byte6);
    EXPECT_EQ(e.Skip, 0);
    EXPECT_EQ(request_.Min, c.min);
    EXPECT_EQ(request_.Max, c.max);
    EXPECT_EQ(e.Length, 7);
  }
}

TEST_F(ActuatorTest, OnOffTestsSetTheirBit) {
  RequestEntry& e = Add({0x30, 0x05, 0x00, 0x00});
  Issue(0x05, 1.0, false, 3);
  EXPECT_EQ(e.Data[5], 0x04);
  EXPECT_EQ(e.Data[6], 0x04);
  EXPECT_EQ(e.Skip, 0);
  EXPECT_EQ(request_.Min, 0.0);
  EXPECT_EQ(request_.Max, 1.0);

  e.Skip = 1;
  Issue(0x05, 0.0, false, 3);
  EXPECT_EQ(e.Data[5], 0x04);
  EXPECT_EQ(e.Data[6], 0x00);
  EXPECT_EQ(e.Skip, 0);

  Issue(0x05, 1.0, false, 8);
  EXPECT_EQ(e.Data[5], 0x80);
  // Bit numbers 0 and 9..15 name no bit: the mask is 0.
  for (std::uint16_t bit : {0, 9, 15}) {
    Issue(0x05, 1.0, false, bit);
    EXPECT_EQ(e.Data[5], 0x00) << bit;
    EXPECT_EQ(e.Data[6], 0x00) << bit;
  }
}

TEST_F(ActuatorTest, DescribingUnknownTestsAndOtherServicesArmNothing) {
  RequestEntry& e = Add({0x30, 0x02, 0x33, 0x44});
  request_.Service = 0x30;
  request_.Id1 = 0x02;
  request_.Flags = 0x80;
  request_.Command = 0;  // describe only: the range, no request change
  ACTTESTProc(&request_);
  EXPECT_EQ(request_.Min, 0.0);
  EXPECT_EQ(request_.Max, 125.0);

  RequestEntry& unknown = Add({0x30, 0x04, 0x33, 0x44});
  request_.Min = -7;
  request_.Max = 7;
  Issue(0x04, 10.0, true);  // numeric test without a range: no change at all
  request_.Service = 0x31;  // another service: no change at all
  request_.Id1 = 0x02;
  ACTTESTProc(&request_);
  EXPECT_EQ(request_.Min, -7.0);
  EXPECT_EQ(request_.Max, 7.0);
  for (const RequestEntry* entry : {&e, &unknown}) {
    EXPECT_EQ(entry->Data[5], 0x33);
    EXPECT_EQ(entry->Data[6], 0x44);
    EXPECT_EQ(entry->Skip, 1);
  }
}

TEST_F(ActuatorTest, TheFirstMatchingEntryUpToCountIsArmed) {
  RequestEntry& wrongService = Add({0x21, 0x02});
  RequestEntry& first = Add({0x30, 0x02, 0x00});
  RequestEntry& second = Add({0x30, 0x02, 0x00});
  RequestEntry& beyond = table_->Entries[3];  // past Count
  beyond.Data[3] = 0x30;
  beyond.Data[4] = 0x03;
  beyond.Skip = 1;
  Issue(0x02, 10.0, true);
  EXPECT_EQ(wrongService.Skip, 1);
  EXPECT_EQ(first.Skip, 0);
  EXPECT_EQ(first.Data[5], 10);
  EXPECT_EQ(second.Skip, 1);
  Issue(0x03, 10.0, true);
  EXPECT_EQ(beyond.Skip, 1);

  // A count beyond the table's 1001 entries stops at the last one.
  table_->Count = 0xFFFF;
  RequestEntry& last = table_->Entries[kMaxRequests - 1];
  last.Data[3] = 0x30;
  last.Data[4] = 0x18;
  last.Skip = 1;
  Issue(0x18, 20.0, true);
  EXPECT_EQ(last.Skip, 0);
  EXPECT_EQ(last.Data[5], 120);
  Issue(0x08, 2.0, true);  // no such entry anywhere: nothing past the table is touched
}

TEST_F(ActuatorTest, ValuesThatAreNoNumberArmNothing) {
  RequestEntry& e = Add({0x30, 0x0C, 0x33, 0x44});
  Issue(0x0C, std::nan(""), true);
  EXPECT_EQ(e.Skip, 1);
  EXPECT_EQ(e.Data[5], 0x33);
  EXPECT_EQ(e.Data[6], 0x44);
  EXPECT_EQ(request_.Min, -25.0);  // the range is still reported
  Issue(0x0C, INFINITY, true);
  EXPECT_EQ(e.Skip, 1);
}

TEST_F(ActuatorTest, TestModeRequests) {
  RequestEntry& other = Add({0x10, 0x01, 0x01});
  RequestEntry& enter = Add({0x10, 0x01, 0x00});
  RequestEntry& leave = Add({0x10, 0x00});
  RequestEntry& enter2 = Add({0x10, 0x01, 0x00});

  request_.ModeOn = 1;
  request_.ModeOff = 1;
  ACTTESTProc(&request_);
  EXPECT_EQ(other.Skip, 1);
  EXPECT_EQ(enter.Skip, 0);
  EXPECT_EQ(enter2.Skip, 1);
  EXPECT_EQ(leave.Skip, 1);
  EXPECT_EQ(request_.ModeOn, 0);
  EXPECT_EQ(request_.ModeOff, 1);  // handled on the next call

  ACTTESTProc(&request_);
  EXPECT_EQ(leave.Skip, 0);
  EXPECT_EQ(request_.ModeOff, 0);

  // Without a matching entry, or without a table, the flag is still cleared.
  table_->Count = 1;
  request_.ModeOff = 1;
  ACTTESTProc(&request_);
  EXPECT_EQ(request_.ModeOff, 0);
  request_.Table = nullptr;
  request_.ModeOn = 1;
  ACTTESTProc(&request_);
  EXPECT_EQ(request_.ModeOn, 0);
}

}  // namespace
}  // namespace vorta
