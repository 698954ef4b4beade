#include "screenlogic/export.h"

#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <locale>
#include <sstream>
#include <system_error>

#include "common/cp1251.h"
#include "common/system_error.h"

namespace kestrel {

using namespace cp1251_literals;

int ExportCounter[kExportKindCount] = {};

void ResetExportCounters() {
  for (int& c : ExportCounter) c = 0;
}

std::string_view ExportPrefix(ExportKind kind) {
  switch (kind) {
    case kExportLive:
      return "kadrM1_";
    case kExportFreeze:
      return "kadrM2_";
    case kExportDtc:
      return "ErrECU_";
    default:
      return {};
  }
}

std::string ExportFileName(std::string_view folder, std::string_view prefix, int number) {
  std::string name(folder);
  if (!name.empty() && name.back() != '/') name += '/';
  name += prefix;
  name += std::to_string(number);
  name += ".txt";
  return name;
}

namespace {

// The environment's locale for formatting, and the code set its LC_TIME writes.
const std::locale& UserLocale() {
  static const std::locale loc = [] {
    try {
      return std::locale("");
    } catch (const std::exception&) {
      return std::locale::classic();
    }
  }();
  return loc;
}

bool TimeLocaleIsUtf8() {
  static const bool utf8 = [] {
    locale_t l = newlocale(LC_TIME_MASK, "", locale_t{});
    if (l == locale_t{}) return false;
    const char* codeset = nl_langinfo_l(CODESET, l);
    const bool result = codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0;
    freelocale(l);
    return result;
  }();
  return utf8;
}

// `when` written with a strftime pattern in the user's locale, in code page 1251.
std::string FormatTime(const std::tm& when, const char* pattern) {
  std::ostringstream out;
  out.imbue(UserLocale());
  out << std::put_time(&when, pattern);
  // Locales of this system write UTF-8; the exports are code page 1251.
  return TimeLocaleIsUtf8() ? cp1251::FromUtf8(out.str()) : out.str();
}

// The time format ("%X") of the user's LC_TIME.
std::string LocaleTimePattern() {
  static const std::string pattern = [] {
    std::string p = "%H:%M:%S";
    locale_t l = newlocale(LC_TIME_MASK, "", locale_t{});
    if (l == locale_t{}) return p;
    const char* fmt = nl_langinfo_l(T_FMT, l);
    if (fmt != nullptr && *fmt != '\0') p = fmt;
    freelocale(l);
    return p;
  }();
  return pattern;
}

// Writes every line and a CR LF, then closes the file. Returns 0 or the
// system's error number.
int WriteLines(std::FILE* file, const std::vector<std::string>& lines) {
  errno = 0;
  int err = 0;
  for (const std::string& line : lines) {
    if (std::fwrite(line.data(), 1, line.size(), file) != line.size() ||
        std::fwrite("\r\n", 1, 2, file) != 2) {
      err = errno != 0 ? errno : EIO;
      break;
    }
  }
  if (std::fclose(file) != 0 && err == 0) err = errno != 0 ? errno : EIO;
  return err;
}

}  // namespace

std::string ExportDateText(const std::tm& when) {
  return FormatTime(when, "%x");
}
std::string ExportTimeText(const std::tm& when) {
  return FormatTime(when, "%X");
}

std::string ExportShortTimeText(const std::tm& when) {
  return FormatTime(when, ShortTimePattern(LocaleTimePattern()).c_str());
}

std::string ShortTimePattern(std::string_view pattern) {
  // The combined fields first, so that their seconds can be seen.
  std::string expanded;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size()) {
      const char field = pattern[i + 1];
      if (field == 'T') {
        expanded += "%H:%M:%S";
      } else if (field == 'r') {
        expanded += "%I:%M:%S %p";
      } else {
        expanded += pattern.substr(i, 2);
      }
      ++i;
    } else {
      expanded += pattern[i];
    }
  }
  std::string out;
  for (std::size_t i = 0; i < expanded.size(); ++i) {
    if (expanded[i] == '%' && i + 1 < expanded.size()) {
      // "%S", also with the alternative-digits modifier ("%OS").
      const bool modified = expanded[i + 1] == 'O' && i + 2 < expanded.size();
      const char field = expanded[i + (modified ? 2 : 1)];
      if (field == 'S') {
        // The separator written just before the seconds goes too.
        if (!out.empty() && out.back() != ' ' && (out.size() < 2 || out[out.size() - 2] != '%')) {
          out.pop_back();
        }
        i += modified ? 2 : 1;
        continue;
      }
      out += expanded.substr(i, modified ? 3 : 2);
      i += modified ? 2 : 1;
    } else {
      out += expanded[i];
    }
  }
  return out;
}

std::vector<std::string> ExportHeader(std::string_view date, std::string_view time,
                                      std::string_view car, std::string_view ecuType,
                                      std::string_view title) {
  std::vector<std::string> lines;
  lines.reserve(6);
  // Appended to an empty string rather than constructed from the literal:
  // clang 14 (the fuzzing build's compiler) crashes on the latter.
  std::string first;
  first += "Дата: "_cpsv;
  first += date;
  first += " Время: "_cpsv;
  first += time;
  lines.push_back(std::move(first));
  lines.emplace_back();
  lines.push_back(std::string("Автомобиль: "_cpsv) + std::string(car));
  lines.push_back(std::string("Тип ECU: "_cpsv) + std::string(ecuType));
  lines.emplace_back(title);
  lines.emplace_back();
  return lines;
}

std::vector<std::string> ExportHeader(std::string_view car, std::string_view ecuType,
                                      std::string_view title) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return ExportHeader(ExportDateText(local), ExportTimeText(local), car, ecuType, title);
}

std::string KadrLine(std::string_view col0, std::string_view col1, std::string_view col2,
                     std::string_view col3, std::string_view col4) {
  constexpr std::size_t kNameWidth = 63;
  constexpr std::size_t kValueWidth = 20;
  std::string line;
  line.reserve(col0.size() + col1.size() + kNameWidth + kValueWidth + col4.size() + 4);
  line += col0;
  line += ' ';
  line += col1;
  line += ' ';
  const std::string_view name = col2.substr(0, kNameWidth);
  line += name;
  line.append(kNameWidth - name.size(), ' ');
  line += ' ';
  if (col3.size() >= kValueWidth) {
    line += col3.substr(col3.size() - kValueWidth);
  } else {
    line.append(kValueWidth - col3.size(), ' ');
    line += col3;
  }
  line += ' ';
  line += col4;
  return line;
}

ExportResult WriteExport(ExportKind kind, const std::vector<std::string>& lines,
                         std::string_view folder) {
  ExportResult result;
  if (kind < 0 || kind >= kExportKindCount) {
    result.error = "Неизвестный вид выгрузки"_cp;
    return result;
  }
  const std::string dir(folder);
  if (!dir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);  // an existing folder is no error
  }

  int& counter = ExportCounter[kind];
  std::FILE* file = nullptr;
  for (;;) {
    if (counter == INT_MAX) {
      result.error = std::string("Нет свободного номера файла в папке \""_cpsv) + dir + "\"";
      return result;
    }
    ++counter;
    result.path = ExportFileName(dir, ExportPrefix(kind), counter);
    // "x": create exclusively, so a file that appeared meanwhile is never overwritten.
    file = std::fopen(result.path.c_str(), "wbx");
    if (file != nullptr) break;
    if (errno != EEXIST) {
      result.error = FileErrorText("Не удается создать файл"_cpsv, result.path, errno);
      return result;
    }
  }

  if (const int err = WriteLines(file, lines); err != 0) {
    result.error = FileErrorText("Не удается записать файл"_cpsv, result.path, err);
    std::remove(result.path.c_str());
    return result;
  }
  result.ok = true;
  return result;
}

ExportResult WriteTextFile(const std::vector<std::string>& lines, std::string_view name,
                           std::string_view folder) {
  ExportResult result;
  const std::string dir(folder);
  if (!dir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
  }
  result.path = dir.empty() ? std::string(name) : dir + "/" + std::string(name);
  const std::string temp = result.path + ".$$$";
  std::FILE* file = std::fopen(temp.c_str(), "wb");
  if (file == nullptr) {
    result.error = std::string("Не удается создать файл \""_cpsv) + result.path +
                   "\": " + SystemErrorText(errno);
    return result;
  }
  int err = WriteLines(file, lines);
  if (err == 0 && std::rename(temp.c_str(), result.path.c_str()) != 0) err = errno;
  if (err != 0) {
    result.error = std::string("Не удается записать файл \""_cpsv) + result.path +
                   "\": " + SystemErrorText(err);
    std::remove(temp.c_str());
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace kestrel
