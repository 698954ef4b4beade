#include "fuzz/fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kestrel::fuzz {

namespace fs = std::filesystem;

void Fail(const char* property, const std::string& detail) {
  std::fprintf(stderr, "\nproperty broken: %s\n%s\n", property, detail.c_str());
  std::abort();
}

std::size_t SparseStore::PageSize() {
  static const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return page;
}

SparseStore::SparseStore() {
  const std::size_t page = PageSize();
  bytes_ = (sizeof(vorta::ResponseMemory) + page - 1) / page * page;
  void* p = ::mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) Fail("mmap of the response store", std::strerror(errno));
  // Small pages only: a huge page would make one filed byte touch 2 MB.
  (void)::madvise(p, bytes_, MADV_NOHUGEPAGE);
  memory_ = static_cast<vorta::ResponseMemory*>(p);
}

SparseStore::~SparseStore() {
  ::munmap(memory_, bytes_);
}

void SparseStore::Reset() {
  if (::madvise(memory_, bytes_, MADV_DONTNEED) != 0) {
    Fail("madvise(MADV_DONTNEED) of the response store", std::strerror(errno));
  }
}

std::vector<std::size_t> SparseStore::TouchedPages() const {
  const std::size_t pages = bytes_ / PageSize();
  std::vector<unsigned char> resident(pages);
  if (::mincore(memory_, bytes_, resident.data()) != 0) {
    Fail("mincore of the response store", std::strerror(errno));
  }
  std::vector<std::size_t> touched;
  for (std::size_t i = 0; i < pages; ++i) {
    if (resident[i] & 1) touched.push_back(i);
  }
  return touched;
}

bool SparseStore::SameAs(const SparseStore& other, std::string& where) const {
  std::vector<std::size_t> pages = TouchedPages();
  const std::vector<std::size_t> theirs = other.TouchedPages();
  pages.insert(pages.end(), theirs.begin(), theirs.end());
  const std::size_t page = PageSize();
  const auto* a = reinterpret_cast<const std::uint8_t*>(memory_);
  const auto* b = reinterpret_cast<const std::uint8_t*>(other.memory_);
  for (std::size_t p : pages) {
    const std::size_t at = p * page;
    if (std::memcmp(a + at, b + at, page) == 0) continue;
    std::size_t i = at;
    while (a[i] == b[i]) ++i;
    where = "byte " + std::to_string(i) + " of the store: " + std::to_string(a[i]) + " vs " +
            std::to_string(b[i]);
    return false;
  }
  return true;
}

namespace {

std::string& ScratchPath() {
  static std::string path;
  return path;
}

void RemoveScratch() {
  std::error_code ec;
  if (!ScratchPath().empty()) fs::remove_all(ScratchPath(), ec);
}

}  // namespace

void EnterScratchFolder(const char* name, int* argc, char*** argv) {
  static std::vector<std::string> args;
  static std::vector<char*> pointers;
  for (int i = 0; i < *argc; ++i) {
    std::string a = (*argv)[i];
    const std::size_t eq = a.find('=');
    const bool pathFlag =
        a.rfind("-artifact_prefix=", 0) == 0 || a.rfind("-exact_artifact_path=", 0) == 0;
    if (i > 0 && !a.empty() && a.front() != '-') {
      a = fs::absolute(a).string();
    } else if (pathFlag) {
      // A prefix may end in '/', which absolute() keeps.
      a = a.substr(0, eq + 1) + fs::absolute(a.substr(eq + 1)).string();
    }
    args.push_back(std::move(a));
  }
  for (std::string& a : args) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  *argv = pointers.data();

  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp && *tmp ? tmp : "/tmp") + "/kestrel-fuzz-" + name + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp", std::strerror(errno));
  if (::chdir(pattern.c_str()) != 0) Fail("chdir", std::strerror(errno));
  ScratchPath() = pattern;
  std::atexit(RemoveScratch);
}

bool WriteFile(const std::string& path, std::string_view bytes) {
  std::error_code ec;
  const fs::path p(path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path(), ec);
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void RemoveAll(const std::string& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
}

void ClearWorkingFolder() {
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(".", ec)) fs::remove_all(e.path(), ec);
}

std::vector<std::string_view> SplitParts(std::string_view data, std::size_t maxParts) {
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < maxParts) {
    const std::size_t at = data.find(kPartMarker);
    if (at == std::string_view::npos) break;
    parts.push_back(data.substr(0, at));
    data.remove_prefix(at + kPartMarker.size());
  }
  parts.push_back(data);
  return parts;
}

}  // namespace kestrel::fuzz
