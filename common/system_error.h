// The system's reason for a failed file operation, for the user's error box.
#pragma once

#include <langinfo.h>
#include <locale.h>
#include <string.h>

#include <string>

#include "common/cp1251.h"

namespace kestrel {

// strerror(err) in the language of the user's environment (LC_MESSAGES),
// as code page 1251 text like every text the program keeps.
inline std::string SystemErrorText(int err) {
  locale_t loc = newlocale(LC_MESSAGES_MASK | LC_CTYPE_MASK, "", locale_t{});
  if (loc == locale_t{}) loc = newlocale(LC_MESSAGES_MASK, "C", locale_t{});
  std::string text = loc != locale_t{} ? strerror_l(err, loc) : strerror(err);
  const char* codeset = loc != locale_t{} ? nl_langinfo_l(CODESET, loc) : nullptr;
  const bool utf8 = codeset != nullptr && std::string(codeset) == "UTF-8";
  if (loc != locale_t{}) freelocale(loc);
  return utf8 ? cp1251::FromUtf8(text) : text;
}

}  // namespace kestrel
