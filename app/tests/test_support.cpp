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
#include "screens/dashboard.h"
#include "screens/export.h"
#include "screens/ui_support.h"

namespace kestrel::testing {

namespace fs = std::filesystem;

namespace {

// One QApplication for the whole test program, on the offscreen platform
// unless the environment chose another.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = new QApplication(argc_, argv_);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  int argc_ = 1;
  char name_[10] = "ui_tests";
  char* argv_[2] = {name_, nullptr};
  QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

WorkDir::WorkDir() {
  previous_ = fs::current_path();
  std::string pattern = (fs::temp_directory_path() / "kestrel-ui-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  path_ = pattern;
  fs::current_path(path_);
}

WorkDir::~WorkDir() {
  std::error_code ec;
  fs::current_path(previous_, ec);
  fs::remove_all(path_, ec);
}

void WriteCp1251(const fs::path& file, const std::vector<std::string>& lines) {
  if (file.has_parent_path()) fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  for (const std::string& line : lines) out << cp1251::FromUtf8(line) << "\r\n";
}

std::string ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> ReadLinesUtf8(const fs::path& file) {
  const std::string text = ReadBytes(file);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(cp1251::ToUtf8(line));
    start = end + 1;
  }
  return lines;
}

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

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

ModalWatch::ModalWatch(std::function<QWidget*()> find, std::function<void(QWidget*)> act,
                       int timeoutMs) {
  clock_.start();
  QObject::connect(&timer_, &QTimer::timeout, [this, find, act, timeoutMs] {
    QWidget* window = find();
    if (window != nullptr && window->isVisible()) {
      seen_ = true;
      timer_.stop();
      act(window);
    } else if (clock_.elapsed() > timeoutMs) {
      timer_.stop();
    }
  });
  timer_.start(10);
}

ModalWatch::~ModalWatch() {
  timer_.stop();
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
