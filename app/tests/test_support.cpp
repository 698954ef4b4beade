#include "app/tests/test_support.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/cp1251.h"
#include "config/config_globals.h"
#include "config/module_binding.h"
#include "link/link_globals.h"
#include "link/port_map.h"
#include "screenlogic/export.h"
#include "screens/dashboard.h"
#include "uikit/ui_support.h"

namespace kestrel::testing {

namespace fs = std::filesystem;

namespace {

// One QApplication for the whole test program, on the offscreen platform
// unless the environment chose another.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { EnsureApp(); }
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

std::vector<std::string> ConfigLines(const std::string& car, const std::string& ecu,
                                     const std::string& folder, const TestLists& lists,
                                     bool autostart) {
  std::vector<std::string> l = {car,  ecu,  folder, "COM2", "10400", "300", "120", "50",
                                "60", "80", "0",    "25",   "25",    "1",   "0",   "0"};
  l.push_back(autostart ? "-1" : "0");
  for (const char* v : {"15", "10", "8F", "F1", "33", "210", "4", "2362", "760", "100"}) {
    l.push_back(v);
  }
  auto list = [&l](const std::vector<std::string>& requests) {
    l.push_back(std::to_string(requests.size()));
    l.insert(l.end(), requests.begin(), requests.end());
  };
  list(lists.Dashboard);
  list(lists.Live);
  list(lists.Freeze);
  list(lists.DtcRead);
  l.push_back(std::to_string(lists.DtcClear.size()));
  l.push_back("0");  // ResetCount
  l.insert(l.end(), lists.DtcClear.begin(), lists.DtcClear.end());
  list(lists.Info);
  return l;
}

void MakeEcuFolder(const fs::path& folder, bool withDtc) {
  fs::create_directories(folder);
  WriteCp1251(folder / "VORTA.ini", {"010C", "Обороты двигателя", "об/мин", "00",  //
                                     "010D", "Скорость", "км/ч", "00",             //
                                     "2101", "Состояние", "-", "00"});
  if (withDtc) {
    WriteCp1251(folder / "dtc.ini", {"0171", "Слишком бедная смесь", "0300", "Пропуски зажигания"});
  }
  fs::copy_file(KESTREL_TEST_MODULE, folder / "VORTA.so", fs::copy_options::overwrite_existing);
}

void MakeCatalogue() {
  MakeEcuFolder("ECU/ONE");
  MakeEcuFolder("ECU/TWO");
  WriteCp1251("ECU/A.ini", ConfigLines("Тойота Камри", "2AZ-FE", "ECU\\ONE"));
  WriteCp1251("ECU/B.ini", ConfigLines("Тойота Королла", "3ZZ-FE", "ECU\\TWO"));
}

void ResetProgramState() {
  if (ui::QuitRequested()) {
    // A quit request leaves Qt refusing to start event loops (every modal
    // exec() would return at once) until the application's own loop has run.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
  }
  Unbind();
  ResetConfigGlobals();
  ui::ResetQuit();
  ui::SetErrorBoxHandler({});
  ResetExportCounters();
  ClearPortDeviceOverrides();
  DashboardFirstShow = 0;
}

}  // namespace kestrel::testing
