#include "common/cp1251.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "common/system_error.h"

using namespace kestrel::cp1251_literals;
namespace cp = kestrel::cp1251;

TEST(Cp1251, LiteralsConvertAtCompileTime) {
  static_assert("A"_cpsv.size() == 1);
  static_assert("Простой"_cpsv.size() == 7);
  EXPECT_EQ(std::string("Ошибка "_cp), std::string("\xCE\xF8\xE8\xE1\xEA\xE0 "));
  EXPECT_EQ(std::string("Ёё№"_cp), std::string("\xA8\xB8\xB9"));
}

TEST(Cp1251, EveryByteRoundTripsThroughUtf8) {
  for (int b = 1; b < 256; ++b) {
    if (b == 0x98) continue;  // unassigned in the code page
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(cp::FromUtf8(cp::ToUtf8(one)), one) << "byte " << b;
  }
}

TEST(Cp1251, UnmappableAndMalformedInputBecomesQuestionMark) {
  EXPECT_EQ(cp::FromUtf8("\xE2\x82"), "??");  // cut-short sequence: one '?' per byte
  EXPECT_EQ(cp::FromUtf8("日"), "?");
  EXPECT_EQ(cp::FromUtf8("\xFF"
                         "a"),
            "?a");
}

TEST(SystemErrorText, TheReasonsUsersMeetReadRussianWhateverTheSystemLanguage) {
  EXPECT_EQ(cp::ToUtf8(kestrel::SystemErrorText(ENOTDIR)), "часть пути не является папкой");
  EXPECT_EQ(cp::ToUtf8(kestrel::SystemErrorText(EACCES)), "нет прав доступа");
  EXPECT_FALSE(kestrel::SystemErrorText(EXDEV).empty());  // the system's own text
}
