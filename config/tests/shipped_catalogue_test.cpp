// The shipped catalogue (data/ECU) loads completely and holds what the
// windows and the simulated ECU rely on.
#include <filesystem>

#include "config/catalogue.h"
#include "config/load_init.h"
#include "test_support.h"

namespace kestrel::testing {
namespace {

class ShippedCatalogueTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(KESTREL_DATA_DIR);
    ResetConfigGlobals();
  }
  void TearDown() override { std::filesystem::current_path(old_); }
  std::filesystem::path old_;
};

bool HasRequest(const vorta::RequestTable& t, std::initializer_list<std::uint8_t> from3) {
  for (int e = 0; e < t.Count; ++e) {
    int k = 3;
    bool same = true;
    for (std::uint8_t b : from3) same = same && t.Entries[e].Data[k++] == b;
    if (same) return true;
  }
  return false;
}

TEST_P(ShippedCatalogueTest, LoadsWithEveryListAndItsTexts) {
  const ConfigOutcome out = LoadChosenConfiguration(true, GetParam());
  ASSERT_FALSE(out.Quit) << out.StderrLine;
  ASSERT_EQ(out.Error, "") << Utf8(out.Error);
  EXPECT_TRUE(ListsEnabled.Dashboard && ListsEnabled.Live && ListsEnabled.Freeze &&
              ListsEnabled.Dtc && ListsEnabled.Info);
  EXPECT_EQ(LinkSettings.EcuAddress, 0x10);
  // The tester sends the complement of KW2 as its inverted key byte 2, so
  // the ISO 9141 configuration carries its ECU's key byte 08 there.
  EXPECT_EQ(LinkSettings.Kw2, LinkSettings.Protocol == kProto9141 ? 0x08 : 0x8F);
  EXPECT_EQ(LinkSettings.BaudRate, 10400);

  // Every live request has a row or a test; rows carry names.
  const vorta::RequestTable& live = RequestTables[kLiveTable];
  for (int e = 0; e < live.Count; ++e) {
    const std::uint8_t* d = live.Entries[e].Data;
    if (d[3] == 0x10) continue;
    bool used = false;
    for (int r = 0; r < LiveRows.RowCount; ++r) {
      const RowIds ids = RowIdsOf(LiveRows.Rows[r]);
      used = used || (ids.Service == d[3] && ids.Id1 == d[4]);
    }
    for (int t = 1; t < TestSelectorCount; ++t) {
      used = used || (TestList[t].Service == d[3] && TestList[t].Id1 == d[4]);
    }
    EXPECT_TRUE(used) << "live request " << e << " has no definition";
  }
  for (int r = 0; r < LiveRows.RowCount; ++r) {
    EXPECT_FALSE(LiveRows.Rows[r].Cells[kColName].empty()) << r;
  }
  EXPECT_GE(TestSelectorCount, 4);
  EXPECT_TRUE(HasRequest(live, {0x10, 0x01, 0x00}));
  EXPECT_TRUE(HasRequest(live, {0x10, 0x00}));
  EXPECT_FALSE(FreezeRows.Empty());
  EXPECT_EQ(Utf8(FreezeRows.Rows[0].Cells[kColCode]), " 0202");

  // The clearing list ends with its memory-reset requests.
  const vorta::RequestTable& clear = RequestTables[kDtcClearTable];
  EXPECT_LE(clear.ResetCount, clear.Count);

  // The simulated ECU's default codes have descriptions.
  EXPECT_GT(DtcTexts.Count, 200);
  for (std::uint16_t code : {0x0171, 0x0300, 0x0420, 0x0500}) {
    ASSERT_NE(DtcTexts.Find(code), nullptr) << std::hex << code;
  }
  EXPECT_EQ(Utf8(*DtcTexts.Find(0x0171)), "Слишком бедная смесь (Головка 1)");
  EXPECT_EQ(Utf8(PidNames.Sid01[0x0C]), "PID=0C Обороты двигателя");
}

INSTANTIATE_TEST_SUITE_P(Shipped, ShippedCatalogueTest,
                         ::testing::Values("CAMRY_2AZ.ini", "COROLLA_3ZZ.ini", "CARINA_7AFE.ini"));

TEST(ShippedCatalogue, ListsTheThreeConfigurations) {
  const auto rows = ListCatalogue(std::string(KESTREL_DATA_DIR) + "/ECU");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].Cells[kCatFile], "CAMRY_2AZ.ini");
  EXPECT_EQ(rows[1].Cells[kCatShort], "CARINA_7AFE");
  EXPECT_EQ(rows[2].Cells[kCatCar], "Toyota Corolla (ZZE121) 1.6");
}

}  // namespace
}  // namespace kestrel::testing
