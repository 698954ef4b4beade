#include "config/module_binding.h"

#include "test_support.h"

namespace kestrel::testing {
namespace {

class ModuleBindingTest : public ConfigTest {
 protected:
  void TearDown() override {
    Unbind();
    ConfigTest::TearDown();
  }
  static void Install(const char* library) {
    std::filesystem::create_directories("ECU/TEST");
    std::filesystem::copy_file(library, "ECU/TEST/VORTA.so",
                               std::filesystem::copy_options::overwrite_existing);
  }
};

TEST_F(ModuleBindingTest, BindsTheFourExportsFromTheEcuFolder) {
  Install(FAKE_MODULE_FULL);
  EcuFolder = "ECU\\TEST";
  EXPECT_EQ(ModulePath(), "ECU/TEST/VORTA.so");
  const BindOutcome out = Bind();
  ASSERT_TRUE(out.Ok) << out.StderrLine;
  ASSERT_TRUE(VehicleModule.Bound());
  ASSERT_NE(VehicleModule.PIDVAL, nullptr);
  ASSERT_NE(VehicleModule.DTCError, nullptr);
  ASSERT_NE(VehicleModule.Panel, nullptr);
  VehicleModule.PIDVAL(ResponseStore);
  EXPECT_STREQ(ValueQuery.Text, "fake");
  vorta::TestRequest request{};
  VehicleModule.ACTTESTProc(&request);
  EXPECT_EQ(request.Max, 1.0);

  // Choosing the same entry again frees and reloads the same module.
  const BindOutcome again = Rebind();
  ASSERT_TRUE(again.Ok);
  ValueQuery.Value = 0;
  VehicleModule.PIDVAL(ResponseStore);
  EXPECT_EQ(ValueQuery.Value, 42.0);
}

TEST_F(ModuleBindingTest, MissingExportOrFileFailsNamingIt) {
  Install(FAKE_MODULE_PARTIAL);
  EcuFolder = "ECU/TEST";
  const BindOutcome out = Bind();
  EXPECT_FALSE(out.Ok);
  EXPECT_EQ(out.Missing, "ACTTESTProc");
  EXPECT_NE(out.StderrLine.find("ACTTESTProc"), std::string::npos);
  EXPECT_EQ(out.StderrLine.find('\n'), std::string::npos);
  EXPECT_FALSE(VehicleModule.Bound());
  EXPECT_EQ(VehicleModule.ACTTESTProc, nullptr);

  EcuFolder = "ECU/NONE";
  const BindOutcome none = Rebind();
  EXPECT_FALSE(none.Ok);
  EXPECT_EQ(none.Missing, "ECU/NONE/VORTA.so");
  EXPECT_NE(none.StderrLine.find("ECU/NONE/VORTA.so"), std::string::npos);
  EXPECT_EQ(VehicleModule.ModuleHandle, nullptr);
  EXPECT_EQ(VehicleModule.PIDVAL, nullptr);
}

TEST_F(ModuleBindingTest, EmptyFolderMeansTheRoot) {
  EcuFolder.clear();
  EXPECT_EQ(ModulePath(), "/VORTA.so");
}

}  // namespace
}  // namespace kestrel::testing
