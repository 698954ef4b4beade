#include "common/text_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Lines(std::string_view text) {
  kestrel::LineReader in(text);
  std::vector<std::string> out;
  while (!in.Eof()) out.emplace_back(in.Next());
  return out;
}

TEST(LineReader, EveryLineEndAndAByteOrderMark) {
  using L = std::vector<std::string>;
  struct Case {
    const char* name;
    std::string text;
    L lines;
  };
  const Case cases[] = {
      {"CR LF", "a\r\nb\r\n", L{"a", "b"}},
      {"LF", "a\nb\n", L{"a", "b"}},
      {"CR", "a\rb\r", L{"a", "b"}},
      {"mixed, no end on the last line", "a\r\nb\rc\nd", L{"a", "b", "c", "d"}},
      {"empty lines of each kind", "\r\n\n\r", L{"", "", ""}},
      {"CR before CR LF", "a\r\r\nb", L{"a", "", "b"}},
      {"byte-order mark",
       "\xEF\xBB\xBF"
       "a\rb",
       L{"a", "b"}},
      {"only a byte-order mark", "\xEF\xBB\xBF", L{}},
      {"no mark in the middle",
       "a\n\xEF\xBB\xBF"
       "b",
       L{"a",
         "\xEF\xBB\xBF"
         "b"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Lines(c.text), c.lines) << c.name;

  // Raw lines keep their ends, so a copy is byte for byte; past the end
  // lines are empty and still counted.
  const std::string text =
      "\xEF\xBB\xBF"
      "a\rb\r\nc";
  kestrel::LineReader in(text);
  EXPECT_EQ(in.Offset(), 3u);
  EXPECT_EQ(in.NextRaw(), "a\r");
  EXPECT_EQ(in.NextRaw(), "b\r\n");
  EXPECT_FALSE(kestrel::HasLineEnd(in.NextRaw()));
  EXPECT_EQ(in.Next(), "");
  EXPECT_EQ(in.LineNumber(), 4);
}

}  // namespace
