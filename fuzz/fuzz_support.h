// Helpers of the fuzz targets: the stop that reports a broken property, a
// response store that costs only the pages an input touches, a private
// working folder, and inputs made of several files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "module/vorta.h"

namespace kestrel::fuzz {

// Ends the run: libFuzzer keeps the input that broke the property as a crash.
[[noreturn]] void Fail(const char* property, const std::string& detail = {});

#define FUZZ_CHECK(condition, ...)                                                  \
  do {                                                                              \
    if (!(condition)) ::kestrel::fuzz::Fail(#condition __VA_OPT__(, ) __VA_ARGS__); \
  } while (0)

// A response store with the ValueQuery behind it (vorta::ResponseMemory) in
// an anonymous mapping of its own. Untouched pages cost nothing, Reset()
// gives the written ones back, and comparisons look only at the pages that
// either store has touched, so one input costs what it files, not 34 MB.
class SparseStore {
 public:
  SparseStore();
  ~SparseStore();
  SparseStore(const SparseStore&) = delete;
  SparseStore& operator=(const SparseStore&) = delete;

  vorta::ResponseMemory& Memory() { return *memory_; }
  std::uint8_t* Store() { return memory_->Store; }

  // Every byte zero again.
  void Reset();
  // The pages (kPage bytes each, from the start) that have been touched.
  std::vector<std::size_t> TouchedPages() const;
  // Whether both hold the same bytes; otherwise `where` names the first
  // differing byte.
  bool SameAs(const SparseStore& other, std::string& where) const;

  static std::size_t PageSize();

 private:
  vorta::ResponseMemory* memory_ = nullptr;
  std::size_t bytes_ = 0;
};

// Makes a fresh folder under TMPDIR (or /tmp) the working folder for the
// rest of the run; it is removed when the process ends normally. Called from
// LLVMFuzzerInitialize: the corpus folders, files and artifact paths among
// the arguments are made absolute first, since libFuzzer reads the corpus
// after the working folder has changed.
void EnterScratchFolder(const char* name, int* argc, char*** argv);

// Writes bytes exactly, creating the parent folders; false when it cannot.
bool WriteFile(const std::string& path, std::string_view bytes);
// The whole file ("" when it cannot be read).
std::string ReadFile(const std::string& path);
// Removes a file or a folder with everything in it, if it exists.
void RemoveAll(const std::string& path);
// Removes everything in the working folder (the scratch folder).
void ClearWorkingFolder();

// The marker line between the files of one input ("\n~~~~\n"): seeds stay
// readable, and libFuzzer keeps it among the bytes it splices.
inline constexpr std::string_view kPartMarker = "\n~~~~\n";
// The input cut at the markers into at most maxParts parts (the last one
// keeps any further markers).
std::vector<std::string_view> SplitParts(std::string_view data, std::size_t maxParts);

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace kestrel::fuzz

// The target's libFuzzer set-up: it runs in a scratch folder of its own.
#define KESTREL_FUZZ_IN_SCRATCH_FOLDER(name)                     \
  extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) { \
    ::kestrel::fuzz::EnterScratchFolder(name, argc, argv);       \
    return 0;                                                    \
  }
