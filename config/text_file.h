// Line-oriented reading of the configuration layer's text files.
//
// Paths are the program's (code page 1251, '\' or '/'); they reach the file
// system through ToDiskPath (common/disk_path.h).
//
// Files are read whole into memory and split at LF; a CR before the LF is not
// part of the line. Reading past the end gives empty lines, as the original
// text-file reads did, so a file cut short fails where a number is expected.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel {

// Reads a whole file. Returns false when it cannot be opened (missing file).
bool ReadWholeFile(const std::string& path, std::string& content);

bool FileExists(const std::string& path);

// Reads a whole regular file; false when it does not exist or cannot be read.
inline bool ReadExistingFile(const std::string& path, std::string& content) {
  return FileExists(path) && ReadWholeFile(path, content);
}

class LineReader {
 public:
  explicit LineReader(std::string_view content) : content_(content) {}

  // True when every line has been read.
  bool Eof() const { return pos_ >= content_.size(); }

  // The next line without its line end; empty past the end of the text.
  std::string_view Next();

  // The 1-based number of the line Next() returned last (it keeps counting
  // past the end).
  int LineNumber() const { return line_; }

  // Offset of the first byte not yet read.
  std::size_t Offset() const { return pos_; }

  // The raw bytes of the next line including its line end (empty past the
  // end), for copying a line unchanged.
  std::string_view NextRaw();

 private:
  std::string_view content_;
  std::size_t pos_ = 0;
  int line_ = 0;
};

}  // namespace kestrel
