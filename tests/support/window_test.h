// The fixture of a window test: the window against the simulated ECU in
// this process (ecusim's SimPort behind the port factory) and the built
// vehicle module, in a scratch working folder, with the error box recorded
// instead of shown. Offscreen.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QString>
#include <QWidget>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ecusim/engine.h"
#include "ecusim/sim_port.h"
#include "link/serial_port.h"
#include "tests/support/qt_support.h"
#include "tests/support/support.h"
#include "uikit/ui_support.h"

namespace kestrel::testing {

// The request frames the simulated ECU received, from its log.
class FrameLog {
 public:
  void Add(const std::string& line);
  // Frames that begin with `prefix` ("84 10 F1 30 13").
  int Count(const std::string& prefix) const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> frames_;
};

class WindowTest : public ::testing::Test {
 protected:
  // The application and the module, once per test program.
  static void SetUpTestSuite();
  static void TearDownTestSuite();

  // Link idle with settings the simulated ECU accepts at once (fast init,
  // ECU 10, tester F1, COM1), empty response store, export counters 0.
  void SetUp() override;
  // Destroys the window of OpenWindow, ends any session and restores the
  // port factory and the error box. A derived fixture destroys a window of
  // its own first.
  void TearDown() override;

  // The simulated car of `scenario` behind the port factory.
  void UseSimulator(ecusim::Faults faults = {});
  void UseSimulator(ecusim::Scenario scenario, ecusim::Faults faults = {});

  const std::filesystem::path& Dir() const { return dir_->Path(); }

  // A new window of type W, shown as the program shows it (so it activates)
  // and kept until TearDown, which destroys it before anything else.
  template <typename W>
  W& OpenWindow() {
    auto window = std::make_unique<W>();
    W& shown = *window;
    window_ = std::move(window);
    shown.show();
    QApplication::processEvents();
    return shown;
  }

  std::shared_ptr<ecusim::SimEcu> ecu_;
  FrameLog frames_;
  std::vector<QString> errors_;  // texts of the error boxes shown

 private:
  std::unique_ptr<QWidget> window_;
  std::unique_ptr<ScratchDir> dir_;
  PortFactory previousFactory_;
  ui::ErrorBoxHandler previousHandler_;
};

}  // namespace kestrel::testing
