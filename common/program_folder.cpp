#include "common/program_folder.h"

#include <cstdlib>
#include <filesystem>

namespace kestrel {

std::string ProgramFolder() {
  const char* set = std::getenv(kProgramDirVariable);
  if (set != nullptr && *set != '\0') {
    std::string folder = set;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
  }
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || !exe.has_parent_path()) return ".";
  return exe.parent_path().string();
}

}  // namespace kestrel
