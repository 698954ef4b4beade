#include "common/disk_path.h"

#include <dirent.h>
#include <sys/stat.h>

#include <array>
#include <cstdint>

#include "common/cp1251.h"

namespace kestrel {

namespace {

// The upper-case code point of a lower-case Latin or Cyrillic letter.
constexpr char32_t UpperUnicode(char32_t u) {
  if (u >= U'a' && u <= U'z') return u - 0x20;
  if (u >= 0x0430 && u <= 0x044F) return u - 0x20;  // а..я
  if (u >= 0x0450 && u <= 0x045F) return u - 0x50;  // ѐ..џ (ё, ђ, ў, ...)
  if (u == 0x0491) return 0x0490;                   // ґ
  return u;
}

constexpr std::array<char, 256> MakeUpperTable() {
  std::array<char, 256> table{};
  for (int b = 0; b < 256; ++b) {
    const char32_t u = cp1251::ToUnicode(static_cast<std::uint8_t>(b));
    const char32_t up = UpperUnicode(u);
    table[static_cast<std::size_t>(b)] = up == u ? static_cast<char>(b) : cp1251::FromUnicode(up);
  }
  return table;
}
constexpr std::array<char, 256> kUpper = MakeUpperTable();

bool IsUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<std::uint8_t>(s[i]);
    std::size_t extra = 0;
    if (b < 0x80) {
      extra = 0;
    } else if (b >= 0xC2 && b <= 0xDF) {
      extra = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;  // cut short
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((static_cast<std::uint8_t>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// The entry of `folder` (a disk path, "" for the working folder) whose name
// is `name` (code page 1251) regardless of letter case; "" when none is.
std::string FindIgnoringCase(const std::string& folder, std::string_view name) {
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return {};
  std::string found;
  while (const dirent* e = ::readdir(dir)) {
    const std::string_view entry = e->d_name;
    if (entry == "." || entry == "..") continue;
    if (!SameNameIgnoringCase(FromDiskPath(entry), name)) continue;
    if (found.empty() || entry < found) found = entry;  // the same choice on every listing
  }
  ::closedir(dir);
  return found;
}

}  // namespace

char UpperCp1251(char c) {
  return kUpper[static_cast<std::uint8_t>(c)];
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperCp1251(a[i]) != UpperCp1251(b[i])) return false;
  }
  return true;
}

std::string FromDiskPath(std::string_view name) {
  return IsUtf8(name) ? cp1251::FromUtf8(name) : std::string(name);
}

std::string ToDiskPath(std::string_view path) {
  std::string slashed(path);
  for (char& c : slashed) {
    if (c == '\\') c = '/';
  }
  const std::string exact = cp1251::ToUtf8(slashed);
  if (exact.empty() || Exists(exact)) return exact;

  // Part by part: the exact name where it exists, else the entry that
  // matches regardless of letter case, else the converted name.
  std::string out;
  std::size_t pos = 0;
  if (slashed.front() == '/') {
    out = "/";
    pos = 1;
  }
  bool resolving = true;  // false once a part exists under no name
  while (pos <= slashed.size()) {
    const std::size_t slash = slashed.find('/', pos);
    const std::size_t end = slash == std::string::npos ? slashed.size() : slash;
    const std::string_view part = std::string_view(slashed).substr(pos, end - pos);
    if (!part.empty()) {
      const std::string converted = cp1251::ToUtf8(part);
      std::string name = converted;
      if (resolving && part != "." && part != ".." && !Exists(out + converted)) {
        const std::string match = FindIgnoringCase(out, part);
        if (match.empty()) {
          resolving = false;
        } else {
          name = match;
        }
      }
      out += name;
    }
    if (slash == std::string::npos) break;
    if (!part.empty() && out.back() != '/') out += '/';
    pos = slash + 1;
  }
  return out;
}

}  // namespace kestrel
