// Helpers of the shell's tests: the Qt application (offscreen), a scratch
// working directory with a small catalogue, and a runner for modal windows.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kestrel::testing {

// The working directory of one test: a fresh folder, entered on construction
// and left (and removed) on destruction.
class WorkDir {
 public:
  WorkDir();
  ~WorkDir();
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

// Writes `lines` (UTF-8 in the source, stored as code page 1251) with CR LF ends.
void WriteCp1251(const std::filesystem::path& file, const std::vector<std::string>& lines);
// Reads a file whole (bytes as stored).
std::string ReadBytes(const std::filesystem::path& file);
// Reads a code page 1251 file as UTF-8 lines (CR LF removed).
std::vector<std::string> ReadLinesUtf8(const std::filesystem::path& file);

// The lists of a test configuration, each a set of request lines.
struct TestLists {
  std::vector<std::string> Dashboard{"82 10 F1 21 01"};
  std::vector<std::string> Live{"82 10 F1 21 01", "82 10 F1 01 0C", "82 10 F1 01 0D"};
  std::vector<std::string> Freeze{"83 10 F1 02 0C 00", "83 10 F1 02 0D 00"};
  std::vector<std::string> DtcRead{"81 10 F1 03"};
  std::vector<std::string> DtcClear{"81 10 F1 04"};
  std::vector<std::string> Info{"82 10 F1 01 00"};
};

// The lines of a configuration file (UTF-8). Line 17 (autostart) from `autostart`.
std::vector<std::string> ConfigLines(const std::string& car, const std::string& ecu,
                                     const std::string& folder, const TestLists& lists = {},
                                     bool autostart = false);

// An ECU folder with VORTA.ini (010C, 010D, 2101 rows), dtc.ini and the
// built VORTA.so; `withDtc` false leaves dtc.ini out.
void MakeEcuFolder(const std::filesystem::path& folder, bool withDtc = true);

// A catalogue "ECU/" with A.ini (folder ECU\ONE) and B.ini (folder ECU\TWO).
void MakeCatalogue();

// Runs the event loop until `done` returns true or `timeoutMs` passes; false
// on time-out.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000);

// Watches for a modal window of type T (a 10 ms poll) and calls `act` with
// it once it is shown. Watching ends with the first window, after
// `timeoutMs`, or when the watch is destroyed.
class ModalWatch {
 public:
  ModalWatch(std::function<QWidget*()> find, std::function<void(QWidget*)> act, int timeoutMs);
  ~ModalWatch();
  bool Seen() const { return seen_; }
  bool operator*() const { return seen_; }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  bool seen_ = false;
};

template <typename T>
std::unique_ptr<ModalWatch> OnModal(std::function<void(T*)> act, int timeoutMs = 15000) {
  return std::make_unique<ModalWatch>(
      [] { return qobject_cast<T*>(QApplication::activeModalWidget()); },
      [act](QWidget* w) { act(static_cast<T*>(w)); }, timeoutMs);
}

// Resets the program's globals between tests.
void ResetProgramState();

}  // namespace kestrel::testing
