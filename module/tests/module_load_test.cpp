// Loads the built VORTA.so the way the program binds it and calls its four
// exports through pointers of the shared record types.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "module/tests/response_memory.h"
#include "module/vorta.h"

namespace vorta {
namespace {

class ModuleLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(VORTA_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
  }
  void TearDown() override {
    if (handle_ != nullptr) {
      EXPECT_EQ(dlclose(handle_), 0);
    }
  }
  template <typename Proc>
  Proc Resolve(const char* name) {
    return reinterpret_cast<Proc>(dlsym(handle_, name));
  }

  void* handle_ = nullptr;
};

TEST_F(ModuleLoadTest, ExportsTheFourNamesAndNothingInternal) {
  EXPECT_NE(Resolve<PidValProc>("PIDVAL"), nullptr);
  EXPECT_NE(Resolve<DtcErrorProc>("DTCError"), nullptr);
  EXPECT_NE(Resolve<PanelProc>("Panel"), nullptr);
  EXPECT_NE(Resolve<ActTestProc>("ACTTESTProc"), nullptr);
  // Names are exact: no other spelling resolves.
  EXPECT_EQ(dlsym(handle_, "pidval"), nullptr);
  EXPECT_EQ(dlsym(handle_, "Dtcerror"), nullptr);
  // Internal functions stay hidden (64- and 32-bit spellings of one of them).
  EXPECT_EQ(dlsym(handle_, "_ZN5vorta6detail11FormatValueEdcPcm"), nullptr);
  EXPECT_EQ(dlsym(handle_, "_ZN5vorta6detail11FormatValueEdcPcj"), nullptr);
}

TEST_F(ModuleLoadTest, UnloadsOnClose) {
  // A rebind must load the module file anew: nothing may pin the old one.
  ASSERT_EQ(dlclose(handle_), 0);
  handle_ = nullptr;
  void* still = dlopen(VORTA_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
  EXPECT_EQ(still, nullptr);
  if (still != nullptr) dlclose(still);
}

TEST_F(ModuleLoadTest, CallsThroughTheBoundary) {
  auto pidval = Resolve<PidValProc>("PIDVAL");
  auto dtcError = Resolve<DtcErrorProc>("DTCError");
  auto panel = Resolve<PanelProc>("Panel");
  auto actTest = Resolve<ActTestProc>("ACTTESTProc");
  ASSERT_TRUE(pidval && dtcError && panel && actTest);

  auto mem = testing::NewResponseMemory();
  testing::FillSlot(*mem, kMode01Offset, 0x0C, {0x1A, 0xF8});
  mem->Query.Service = 0x01;
  mem->Query.Id1 = 0x0C;
  pidval(mem->Store);
  EXPECT_EQ(mem->Query.Kind, vkNumeric);
  EXPECT_EQ(mem->Query.Value, 1726.0);
  ASSERT_NE(mem->Query.Text, nullptr);
  EXPECT_EQ(std::string(mem->Query.Text), "1726");

  testing::FillSlot(*mem, kDtcOffset, 0, {0x01, 0x71, 0x01, 0x72, 0x03, 0x00});
  DtcQuery dtc{mem->Store, 2, nullptr, 0};
  dtcError(&dtc);
  EXPECT_EQ(dtc.Count, 3);
  EXPECT_EQ(std::string(dtc.Text), "017101720300");

  PanelRecord record{};
  record.Store = mem->Store;
  record.Gauges[3].Source = 4;
  record.Gauges[3].High = 8000.0;
  panel(&record);
  EXPECT_EQ(record.Gauges[3].Value, 1726.0);
  EXPECT_EQ(record.Gauges[3].High, 8000.0);
  EXPECT_EQ(record.Gear, 0xFF);

  auto table = std::make_unique<RequestTable>();
  table->Count = 1;
  table->Entries[0].Data[3] = 0x30;
  table->Entries[0].Data[4] = 0x18;
  table->Entries[0].Skip = 1;
  TestRequest test{};
  test.Table = table.get();
  test.Service = 0x30;
  test.Id1 = 0x18;
  test.Flags = 0x80;
  test.Command = 1;
  test.Value = 100.0;
  actTest(&test);
  EXPECT_EQ(test.Min, -100.0);
  EXPECT_EQ(test.Max, 100.0);
  EXPECT_EQ(table->Entries[0].Data[5], 200);
  EXPECT_EQ(table->Entries[0].Skip, 0);

  // The PIDVAL text is still the one of its last call.
  EXPECT_EQ(std::string(mem->Query.Text), "1726");
}

}  // namespace
}  // namespace vorta
