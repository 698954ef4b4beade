// Line-by-line reading of the program's text files: configuration files, the
// catalogue, VORTA.ini, dtc.ini, ports.ini.
//
// Lines end with CR LF, LF or a lone CR alike, since the files come from
// Windows, Unix and old Mac editors; a UTF-8 byte-order mark that an editor
// put before the first line is skipped. Reading past the end gives empty
// lines, as the original text-file reads did, so a file cut short fails
// where a number is expected.
#pragma once

#include <cstddef>
#include <string_view>

namespace kestrel {

// The length of a UTF-8 byte-order mark at the start of `text` (3 or 0).
inline std::size_t ByteOrderMarkLength(std::string_view text) {
  return text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
}

// Whether a raw line (as NextRaw gives it) ends with a line end.
inline bool HasLineEnd(std::string_view raw) {
  return !raw.empty() && (raw.back() == '\n' || raw.back() == '\r');
}

class LineReader {
 public:
  explicit LineReader(std::string_view content)
      : content_(content), pos_(ByteOrderMarkLength(content)) {}

  // True when every line has been read.
  bool Eof() const { return pos_ >= content_.size(); }

  // The next line without its line end; empty past the end of the text.
  std::string_view Next() {
    std::string_view raw = NextRaw();
    if (!raw.empty() && raw.back() == '\n') raw.remove_suffix(1);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    return raw;
  }

  // The raw bytes of the next line including its line end (empty past the
  // end), for copying a line unchanged.
  std::string_view NextRaw() {
    ++line_;
    if (Eof()) return {};
    const std::size_t start = pos_;
    const std::size_t end = content_.find_first_of("\r\n", pos_);
    if (end == std::string_view::npos) {
      pos_ = content_.size();
    } else {
      pos_ = end + 1;
      if (content_[end] == '\r' && pos_ < content_.size() && content_[pos_] == '\n') ++pos_;
    }
    return content_.substr(start, pos_ - start);
  }

  // The 1-based number of the line Next() returned last (it keeps counting
  // past the end).
  int LineNumber() const { return line_; }

  // Offset of the first byte not yet read (after a byte-order mark at the
  // start: the bytes before Offset() are what a copy keeps unchanged).
  std::size_t Offset() const { return pos_; }

 private:
  std::string_view content_;
  std::size_t pos_ = 0;
  int line_ = 0;
};

}  // namespace kestrel
