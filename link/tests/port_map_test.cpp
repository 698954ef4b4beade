// The COM-name port map.
#include "link/port_map.h"

#include <fstream>

#include "link_test_support.h"

namespace kestrel {
namespace {

using namespace testing;

class PortMapTest : public TempDirTest {
 protected:
  void TearDown() override {
    ClearPortDeviceOverrides();
    TempDirTest::TearDown();
  }
};

TEST_F(PortMapTest, WithoutAMapComNIsTtyUsbNMinusOne) {
  EXPECT_EQ(PortDevice("COM1"), "/dev/ttyUSB0");
  EXPECT_EQ(PortDevice("COM15"), "/dev/ttyUSB14");
  EXPECT_EQ(PortDevice("com3"), "/dev/ttyUSB2");
}

TEST_F(PortMapTest, LineNOfPortsIniIsTheDeviceForComN) {
  { std::ofstream("ports.ini", std::ios::binary) << "/dev/ttyS0\r\n\r\n  /dev/ttyACM0  \r\n"; }
  EXPECT_EQ(PortDevice("COM1"), "/dev/ttyS0");
  EXPECT_EQ(PortDevice("COM2"), "/dev/ttyUSB1");  // empty line: default
  EXPECT_EQ(PortDevice("COM3"), "/dev/ttyACM0");
  EXPECT_EQ(PortDevice("COM4"), "/dev/ttyUSB3");  // past the end: default

  // A byte-order mark before the first line and CR line ends.
  { std::ofstream("ports.ini", std::ios::binary) << "\xEF\xBB\xBF/dev/ttyS0\r/dev/pts/7\r"; }
  EXPECT_EQ(PortDevice("COM1"), "/dev/ttyS0");
  EXPECT_EQ(PortDevice("COM2"), "/dev/pts/7");
}

TEST_F(PortMapTest, OverridesComeFirstAndOtherNamesAreDevicePaths) {
  { std::ofstream("ports.ini") << "/dev/ttyS0\n"; }
  SetPortDeviceOverride("COM1", "/dev/pts/7");
  EXPECT_EQ(PortDevice("com1"), "/dev/pts/7");
  SetPortDeviceOverride("COM1", "");
  EXPECT_EQ(PortDevice("COM1"), "/dev/ttyS0");
  EXPECT_EQ(PortDevice("/dev/ttyS3"), "/dev/ttyS3");
  EXPECT_FALSE(PortDeviceExists("COM9"));
  SetPortDeviceOverride("COM9", "/dev/null");
  EXPECT_TRUE(PortDeviceExists("COM9"));
}

TEST(ComNumber, AcceptsOnlyComFollowedByANumber) {
  EXPECT_EQ(ComNumber("COM1"), 1);
  EXPECT_EQ(ComNumber("COM15"), 15);
  EXPECT_EQ(ComNumber("COM0"), 0);
  EXPECT_EQ(ComNumber("COM"), 0);
  EXPECT_EQ(ComNumber("COMX"), 0);
  EXPECT_EQ(ComNumber("COM1a"), 0);
  EXPECT_EQ(ComNumber("LPT1"), 0);
  EXPECT_EQ(ComNumber("COM256"), 0);
}

}  // namespace
}  // namespace kestrel
