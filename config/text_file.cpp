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

std::string_view LineReader::NextRaw() {
  ++line_;
  if (Eof()) return {};
  const std::size_t start = pos_;
  const std::size_t lf = content_.find('\n', pos_);
  pos_ = lf == std::string_view::npos ? content_.size() : lf + 1;
  return content_.substr(start, pos_ - start);
}

std::string_view LineReader::Next() {
  std::string_view raw = NextRaw();
  if (!raw.empty() && raw.back() == '\n') raw.remove_suffix(1);
  if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
  return raw;
}

}  // namespace kestrel
