#include "tests/support/window_test.h"

#include "config/module_binding.h"
#include "link/link_globals.h"
#include "link/session.h"
#include "screenlogic/export.h"

namespace kestrel::testing {

void FrameLog::Add(const std::string& line) {
  const auto at = line.find("] RX ");
  if (at == std::string::npos) return;
  std::lock_guard lock(mutex_);
  frames_.push_back(line.substr(at + 5));
}

int FrameLog::Count(const std::string& prefix) const {
  std::lock_guard lock(mutex_);
  int n = 0;
  for (const std::string& f : frames_) n += f.rfind(prefix, 0) == 0 ? 1 : 0;
  return n;
}

void FrameLog::Clear() {
  std::lock_guard lock(mutex_);
  frames_.clear();
}

void WindowTest::SetUpTestSuite() {
  EnsureApp();
  const BindOutcome bound = BindFrom(KESTREL_TEST_MODULE);
  ASSERT_TRUE(bound.Ok) << bound.StderrLine;
}

void WindowTest::TearDownTestSuite() {
  Unbind();
}

void WindowTest::SetUp() {
  dir_ = std::make_unique<ScratchDir>("kestrel-window");
  ResetLinkForTest("COM1", 0x10, 0xF1);
  // The simulated ECU wants a quiet bus before the wake-up and answers
  // within its P2.
  LinkSettings.W5 = 300;
  LinkSettings.W1to4 = 120;
  LinkSettings.W4 = 50;
  LinkSettings.P2 = 45;
  ClearResponseStore();
  ResetExportCounters();
  errors_.clear();
  previousHandler_ = ui::SetErrorBoxHandler([this](const QString& t) { errors_.push_back(t); });
}

void WindowTest::TearDown() {
  window_.reset();
  StopSession();
  if (previousFactory_) SetPortFactory(previousFactory_);
  previousFactory_ = {};
  ui::SetErrorBoxHandler(previousHandler_);
  ecu_.reset();
  dir_.reset();
}

void WindowTest::UseSimulator(ecusim::Faults faults) {
  UseSimulator(ecusim::DefaultScenario(), faults);
}

void WindowTest::UseSimulator(ecusim::Scenario scenario, ecusim::Faults faults) {
  ecusim::EngineOptions options;
  options.faults = faults;
  options.log = [this](const std::string& line) { frames_.Add(line); };
  ecu_ = std::make_shared<ecusim::SimEcu>(std::move(scenario), options);
  PortFactory previous = SetPortFactory(ecusim::SimPort::Factory(ecu_));
  if (!previousFactory_) previousFactory_ = previous;
}

}  // namespace kestrel::testing
