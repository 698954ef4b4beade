// The system's reason for a failed file or port operation, for the user's
// error box and status line.
#pragma once

#include <langinfo.h>
#include <locale.h>
#include <string.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "common/cp1251.h"

namespace kestrel {

// The reason for `err` in Russian, as code page 1251 text like every text the
// program keeps. The reasons a user meets with files and ports have texts of
// their own, so the box reads Russian whatever language the system's messages
// are in; any other error number gets the system's own text (strerror in the
// user's LC_MESSAGES, converted from UTF-8 where that is the locale's code set).
inline std::string SystemErrorText(int err) {
  using namespace cp1251_literals;
  switch (err) {
    case ENOENT:
      return "нет такого файла или папки"_cp;
    case EACCES:
    case EPERM:
      return "нет прав доступа"_cp;
    case ENOTDIR:
      return "часть пути не является папкой"_cp;
    case EISDIR:
      return "это папка, а не файл"_cp;
    case ENOSPC:
      return "на диске нет места"_cp;
    case EDQUOT:
      return "превышена квота диска"_cp;
    case EFBIG:
      return "файл слишком велик"_cp;
    case EROFS:
      return "файловая система доступна только для чтения"_cp;
    case EEXIST:
      return "файл уже существует"_cp;
    case EBUSY:
      return "устройство или файл заняты другой программой"_cp;
    case EIO:
      return "ошибка ввода-вывода"_cp;
    case ENAMETOOLONG:
      return "слишком длинное имя файла"_cp;
    case EMFILE:
    case ENFILE:
      return "открыто слишком много файлов"_cp;
    case ENODEV:
    case ENXIO:
      return "устройство не найдено"_cp;
    default:
      break;
  }
  locale_t loc = newlocale(LC_MESSAGES_MASK | LC_CTYPE_MASK, "", locale_t{});
  if (loc == locale_t{}) loc = newlocale(LC_MESSAGES_MASK, "C", locale_t{});
  std::string text = loc != locale_t{} ? strerror_l(err, loc) : strerror(err);
  const char* codeset = loc != locale_t{} ? nl_langinfo_l(CODESET, loc) : nullptr;
  const bool utf8 = codeset != nullptr && std::string(codeset) == "UTF-8";
  if (loc != locale_t{}) freelocale(loc);
  return utf8 ? cp1251::FromUtf8(text) : text;
}

// The error box's text for a file: what failed, the file's name in quotes,
// and the reason: Не удается открыть файл "x.rtd": нет такого файла или папки.
inline std::string FileErrorText(std::string_view what, std::string_view file,
                                 std::string_view reason) {
  std::string text(what);
  text += " \"";
  text += file;
  text += "\": ";
  text += reason;
  return text;
}

inline std::string FileErrorText(std::string_view what, std::string_view file, int err) {
  return FileErrorText(what, file, SystemErrorText(err));
}

}  // namespace kestrel
