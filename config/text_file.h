// Reading of the configuration layer's text files: whole into memory, then
// line by line with LineReader (common/text_lines.h: CR LF, LF and CR line
// ends, a UTF-8 byte-order mark skipped).
//
// Paths are the program's (code page 1251, '\' or '/'); they reach the file
// system through ToDiskPath (common/disk_path.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/text_lines.h"

namespace kestrel {

// Reads a whole file. Returns false when it cannot be opened (missing file).
bool ReadWholeFile(const std::string& path, std::string& content);

bool FileExists(const std::string& path);

// Reads a whole regular file; false when it does not exist or cannot be read.
inline bool ReadExistingFile(const std::string& path, std::string& content) {
  return FileExists(path) && ReadWholeFile(path, content);
}

}  // namespace kestrel
