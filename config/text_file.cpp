#include "config/text_file.h"

#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "common/disk_path.h"

namespace kestrel {

bool ReadWholeFile(const std::string& path, std::string& content) {
  std::ifstream in(ToDiskPath(path), std::ios::binary);
  if (!in) return false;
  content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(ToDiskPath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace kestrel
