// Helpers of every test program: a scratch working folder, files written and
// read as the program stores them (code page 1251, CR LF), a wait for a
// condition, and link settings for sessions that take milliseconds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace kestrel::testing {

// A fresh folder under the temporary directory, made the working directory on
// construction; the previous one is restored and the folder removed on
// destruction.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& prefix = "kestrel-test");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

// Writes bytes exactly (creating the parent folders).
void WriteRaw(const std::filesystem::path& file, const std::string& bytes);
// Reads a file whole, bytes as stored ("" when it cannot be read).
std::string ReadRaw(const std::filesystem::path& file);
// Writes UTF-8 lines as code page 1251, each ended by CR LF.
void WriteCp1251(const std::filesystem::path& file, const std::vector<std::string>& lines);
// Reads a code page 1251 file as UTF-8 lines (line ends removed).
std::vector<std::string> ReadLinesUtf8(const std::filesystem::path& file);
// Reads a file's lines as stored (code page 1251) where every line must end
// with CR LF; a line without one fails the test.
std::vector<std::string> ReadCrLfLines(const std::filesystem::path& file);

// Looks at `done` every 2 ms until it holds (true) or `timeoutMs` pass (false).
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// Idle link globals and quick ISO 14230 fast-init settings on the given COM
// name, so that a session against a simulated ECU takes milliseconds.
void ResetLinkForTest(const char* portName = "COM1", std::uint8_t ecu = 0x10,
                      std::uint8_t tester = 0xF1);

}  // namespace kestrel::testing
