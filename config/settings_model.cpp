#include "config/settings_model.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/cp1251.h"
#include "common/disk_path.h"
#include "common/system_error.h"
#include "config/config_globals.h"
#include "config/text_file.h"
#include "link/link_globals.h"

namespace kestrel {

using namespace cp1251_literals;

SettingsFields SettingsWindowFields = SettingsFields::Defaults();

namespace {

constexpr const char* kPorts[] = {"COM1",  "COM2",  "COM3",  "COM4",  "COM5",
                                  "COM6",  "COM7",  "COM8",  "COM9",  "COM10",
                                  "COM11", "COM12", "COM13", "COM14", "COM15"};
constexpr const char* kSpeeds[] = {"9600", "10400"};
constexpr const char* kProtocols[] = {"5Baud", "Fast", "9141"};
const char* const kAddressings[] = {"Физич"_cp, "Функц"_cp};

constexpr std::span<const char* const> kNoItems;

FieldInfo Number(FieldId id, const char* caption, const char* hint, int lo, int hi, int def,
                 int line) {
  return {id, FieldKind::Number, caption, hint, lo, hi, def, nullptr, kNoItems, line};
}
FieldInfo List(FieldId id, const char* caption, const char* hint,
               std::span<const char* const> items, int def, int line) {
  return {id,  FieldKind::List, caption, hint, 0, static_cast<int>(items.size()) - 1,
          def, nullptr,         items,   line};
}
FieldInfo Hex(FieldId id, const char* caption, const char* hint, const char* def, int line) {
  return {id, FieldKind::HexText, caption, hint, 0, 0, 0, def, kNoItems, line};
}
FieldInfo Check(FieldId id, const char* caption, const char* hint, int line) {
  return {id, FieldKind::Check, caption, hint, 0, 1, 0, nullptr, kNoItems, line};
}

std::array<FieldInfo, kFieldCount> MakeFieldInfo() {
  return {
      List(kFieldPort, "COM:", "Выбор COM порта, к которому подключен K-Line адаптер"_cp, kPorts, 1,
           4),
      List(kFieldBaud, "Скорость:"_cp, "Стандартные скорости 9600/10400"_cp, kSpeeds, 0, 5),
      Number(kFieldW5, "W5:", "Тайминг W5:  300<=W5<=5000"_cp, 300, 5000, 400, 6),
      Number(kFieldW1to4, "W1..4+Tпер:"_cp, "Тайминг W1+W2+W3+W4+Tпер: 94<=Sum<=394"_cp, 94, 394,
             120, 7),
      Number(kFieldW4, "W4:", "Тайминг W4: 10<=W4<=50"_cp, 10, 50, 50, 8),
      Number(kFieldP3, "P3:", "Тайминг P3: 50<=P3<=5000"_cp, 12, 5000, 60, 9),
      Number(kFieldP2, "P2+Tпрм:"_cp, "Тайминг P2+Tпрм: 50<=Sum<=5000"_cp, 2, 5000, 80, 10),
      Number(kFieldP4, "P4:", "Тайминг P4: 0<=P4<=20"_cp, 0, 20, 5, 11),
      Number(kFieldReconnect, "Tреконн:"_cp,
             "Время реконнекта при ошибке связи в панели приборов (сотни мс)"_cp, 0, 50, 15, 18),
      Number(kFieldFuelFactor, "Коэф. Топл.:"_cp,
             "Зависит от плотности бензина и особенностей конкретного двигателя"_cp, 0, 99999, 760,
             26),
      Number(kFieldMapCorrection, "Коэф. MAP:"_cp, "Поправка датчика MAP (%)"_cp, 0, 200, 100, 27),
      Number(kFieldPWakeUpL, "PWakeUpL:", "Тайминг PWakeUpL: 0<=PWakeUpL<=50"_cp, 0, 50, 35, 12),
      Number(kFieldPWakeUpH, "PWakeUpH:", "Тайминг PWakeUpH: 0<=PWakeUpH<=50"_cp, 0, 50, 15, 13),
      List(kFieldProtocol, "Протокол:"_cp,
           "Выбор протокола: ISO-14230 5Baud init/ ISO-14230 Fast init"_cp, kProtocols, 0, 14),
      List(kFieldAddressing, "Адресация:"_cp, nullptr, kAddressings, 0, 15),
      Hex(kFieldEcuAddress, "Адрес ECU:"_cp, "Адрес ECU"_cp, "13", 19),
      Hex(kFieldTesterAddress, "Адрес Test:"_cp, nullptr, "F1", 21),
      Hex(kFieldRequestAddress, "Адрес Запр:"_cp, "Адрес запроса для протокола ISO-9141"_cp, "33",
          22),
      Hex(kFieldKw2, "KW2:", "Константа протокола ISO-14230: KW2"_cp, "8F", 20),
      Number(kFieldInjectorFlow, "Kf(мл/мин):"_cp,
             "Производительность форсунки (мл/мин) для расчета расходов в панели приборов"_cp, 0,
             2000, 210, 23),
      Number(kFieldCylinders, "Кол-во цил:"_cp, "Количество цилиндров у двигателя (шт.)"_cp, 0, 16,
             4, 24),
      Number(kFieldDisplacement, "Vi (мл):"_cp, "Объем двигателя (мл)"_cp, 0, 99999, 1495, 25),
      Check(
          kFieldAutostart, "Автостарт панели"_cp,
          "При установленной галочке с запуском программы автоматом запускается панель приборов"_cp,
          17),
      Check(kFieldLog, "Лог-файл"_cp, "Включение записи обмена с ECU в лог-файл kestrel.log"_cp,
            16),
  };
}

// The field that a line 4..27 belongs to.
FieldId FieldOfLine(int line) {
  for (const FieldInfo& f : SettingsFieldInfo()) {
    if (f.Line == line) return f.Id;
  }
  return kFieldCount;
}

// The port position of a port text: the number after its first three
// characters, minus 1. False when there is no number.
bool PortPosition(std::string_view port, long long& position) {
  std::int32_t n = 0;
  if (port.size() < 3 || !ParseInteger(port.substr(3), n)) return false;
  position = static_cast<long long>(n) - 1;
  return true;
}

std::string HexText(std::uint8_t b) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(b));
  return text;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string WriteError(const std::string& file) {
  std::string text = "Не удалось записать файл "_cp;
  text += file;
  text += ": ";
  text += SystemErrorText(errno);
  return text;
}

}  // namespace

const std::array<FieldInfo, kFieldCount>& SettingsFieldInfo() {
  static const std::array<FieldInfo, kFieldCount> info = MakeFieldInfo();
  return info;
}

const char* ReadButtonHint() {
  return "Считать настройки из файла"_cp;
}
const char* WriteButtonHint() {
  return "Записать настройки в файл"_cp;
}
const char* CloseButtonHint() {
  return "Выход"_cp;
}
const char* SettingsCaption() {
  return "Настройки"_cp;
}

int ClampField(FieldId id, long long value) {
  const FieldInfo& f = FieldInfoOf(id);
  if (value < f.Min) return f.Min;
  if (value > f.Max) return f.Max;
  return static_cast<int>(value);
}

SettingsFields SettingsFields::Defaults() {
  SettingsFields fields;
  for (const FieldInfo& f : SettingsFieldInfo()) {
    fields.Value[f.Id] = f.Default;
    if (f.DefaultText) fields.Text[f.Id] = f.DefaultText;
  }
  return fields;
}

void SettingsFields::Set(FieldId id, long long value) {
  switch (FieldInfoOf(id).Kind) {
    case FieldKind::Number:
    case FieldKind::List:
      Value[id] = ClampField(id, value);
      break;
    case FieldKind::Check:
      Value[id] = value != 0 ? 1 : 0;
      break;
    case FieldKind::HexText:
      break;
  }
}

void SettingsFields::SetFromText(FieldId id, std::string_view text) {
  std::int32_t n = 0;
  Set(id, ParseInteger(text, n) ? n : FieldInfoOf(id).Min);
}

SettingsFields FieldsFromSettings() {
  SettingsFields f = SettingsFields::Defaults();
  const LinkSettingsRecord& s = LinkSettings;
  long long port = 0;
  f.Set(kFieldPort, PortPosition(s.PortName, port) ? port : 0);
  f.Set(kFieldBaud, s.BaudRate == 9600 ? 0 : 1);
  f.Set(kFieldW5, s.W5);
  f.Set(kFieldW1to4, s.W1to4);
  f.Set(kFieldW4, s.W4);
  f.Set(kFieldP3, s.P3);
  f.Set(kFieldP2, s.P2);
  f.Set(kFieldP4, s.P4);
  f.Set(kFieldReconnect, ReconnectTime);
  f.Set(kFieldFuelFactor, ValueQuery.FuelFactor);
  f.Set(kFieldMapCorrection, ValueQuery.MapCorrection);
  f.Set(kFieldPWakeUpL, s.PWakeUpL);
  f.Set(kFieldPWakeUpH, s.PWakeUpH);
  f.Set(kFieldProtocol, s.Protocol);
  f.Set(kFieldAddressing, s.Addressing);
  f.Text[kFieldEcuAddress] = HexText(s.EcuAddress);
  f.Text[kFieldTesterAddress] = HexText(s.TesterAddress);
  f.Text[kFieldRequestAddress] = HexText(s.RequestAddress);
  f.Text[kFieldKw2] = HexText(s.Kw2);
  // The fraction is cut off; the value is clamped before the conversion so
  // that no double is converted outside the integer range.
  double flow = ValueQuery.InjectorFlow;
  if (!(flow >= 0)) flow = 0;  // also NaN
  if (flow > 1e9) flow = 1e9;
  f.Set(kFieldInjectorFlow, static_cast<long long>(std::trunc(flow)));
  f.Set(kFieldCylinders, ValueQuery.Cylinders);
  f.Set(kFieldDisplacement, ValueQuery.Displacement);
  f.Set(kFieldAutostart, AutostartDashboard);
  f.Set(kFieldLog, LogEnabled.load());
  return f;
}

void StoreFields(const SettingsFields& f) {
  LinkSettingsRecord& s = LinkSettings;
  s.PortName = std::string(kPorts[ClampField(kFieldPort, f.Value[kFieldPort])]).substr(0, 5);
  s.BaudRate = ClampField(kFieldBaud, f.Value[kFieldBaud]) == 0 ? 9600 : 10400;
  s.W5 = ClampField(kFieldW5, f.Value[kFieldW5]);
  s.W1to4 = ClampField(kFieldW1to4, f.Value[kFieldW1to4]);
  s.W4 = ClampField(kFieldW4, f.Value[kFieldW4]);
  s.P3 = ClampField(kFieldP3, f.Value[kFieldP3]);
  s.P2 = ClampField(kFieldP2, f.Value[kFieldP2]);
  s.P4 = ClampField(kFieldP4, f.Value[kFieldP4]);
  s.PWakeUpL = ClampField(kFieldPWakeUpL, f.Value[kFieldPWakeUpL]);
  s.PWakeUpH = ClampField(kFieldPWakeUpH, f.Value[kFieldPWakeUpH]);
  s.Protocol = static_cast<std::uint8_t>(ClampField(kFieldProtocol, f.Value[kFieldProtocol]));
  s.Addressing = static_cast<std::uint8_t>(ClampField(kFieldAddressing, f.Value[kFieldAddressing]));
  s.EcuAddress = HexToByte(f.Text[kFieldEcuAddress]);
  s.TesterAddress = HexToByte(f.Text[kFieldTesterAddress]);
  s.RequestAddress = HexToByte(f.Text[kFieldRequestAddress]);
  s.Kw2 = HexToByte(f.Text[kFieldKw2]);
  ReconnectTime = ClampField(kFieldReconnect, f.Value[kFieldReconnect]);
  ValueQuery.InjectorFlow = ClampField(kFieldInjectorFlow, f.Value[kFieldInjectorFlow]);
  ValueQuery.Cylinders =
      static_cast<std::uint8_t>(ClampField(kFieldCylinders, f.Value[kFieldCylinders]));
  ValueQuery.Displacement = ClampField(kFieldDisplacement, f.Value[kFieldDisplacement]);
  ValueQuery.FuelFactor = ClampField(kFieldFuelFactor, f.Value[kFieldFuelFactor]);
  ValueQuery.MapCorrection = ClampField(kFieldMapCorrection, f.Value[kFieldMapCorrection]);
  AutostartDashboard = f.Value[kFieldAutostart] != 0 ? 1 : 0;
  LogEnabled.store(f.Value[kFieldLog] != 0 ? 1 : 0);
}

std::array<std::string, 24> FieldLines(const SettingsFields& f) {
  std::array<std::string, 24> lines;
  for (const FieldInfo& info : SettingsFieldInfo()) {
    std::string& line = lines[info.Line - 4];
    const int v = f.Value[info.Id];
    switch (info.Kind) {
      case FieldKind::List:
        // Port and speed are written as their item texts, the other lists as
        // their positions.
        if (info.Id == kFieldPort || info.Id == kFieldBaud) {
          line = info.Items[ClampField(info.Id, v)];
        } else {
          line = std::to_string(ClampField(info.Id, v));
        }
        break;
      case FieldKind::Number:
        line = std::to_string(ClampField(info.Id, v));
        break;
      case FieldKind::Check:
        line = v != 0 ? "-1" : "0";
        break;
      case FieldKind::HexText:
        line = f.Text[info.Id];
        break;
    }
  }
  return lines;
}

LoadOutcome ReadFieldsFromFile(const std::string& fileName, SettingsFields& fields) {
  LoadOutcome out;
  const std::string path = NativePath(fileName);
  std::string content;
  if (!ReadExistingFile(path, content)) return MissingOutcome(path);
  LineReader in(content);
  auto fail = [&](const char* format, std::string_view text) {
    out.Result = LoadResult::Failed;
    out.Error = ConversionError(format, text);
    out.File = path;
    out.Line = in.LineNumber();
    return out;
  };
  for (int i = 0; i < 3; ++i) in.Next();
  for (int line = 4; line <= 27; ++line) {
    const std::string_view text = in.Next();
    const FieldId id = FieldOfLine(line);
    const FieldInfo& info = FieldInfoOf(id);
    std::int32_t n = 0;
    bool flag = false;
    if (id == kFieldPort) {
      long long position = 0;
      if (!PortPosition(text, position))
        return fail(kNotInteger, text.size() > 3 ? text.substr(3) : "");
      fields.Set(id, position);
    } else if (id == kFieldBaud) {
      if (!ParseInteger(text, n)) return fail(kNotInteger, text);
      fields.Set(id, n == 9600 ? 0 : 1);
    } else if (info.Kind == FieldKind::HexText) {
      fields.Text[id] = std::string(text);  // unchecked, as typed
    } else if (info.Kind == FieldKind::Check) {
      if (!ParseBoolean(text, flag)) return fail(kNotBoolean, text);
      fields.Set(id, flag ? 1 : 0);
    } else {
      if (!ParseInteger(text, n)) return fail(kNotInteger, text);
      fields.Set(id, n);
    }
  }
  return out;
}

LoadOutcome WriteFieldsToFile(const std::string& fileName, const SettingsFields& fields) {
  LoadOutcome out;
  const std::string path = NativePath(fileName);
  std::string content;
  if (!ReadExistingFile(path, content)) return MissingOutcome(path);
  // Lines 1..3 unchanged (with a byte-order mark before them), 4..27 from
  // the fields, the rest unchanged.
  LineReader in(content);
  std::string text(content, 0, in.Offset());
  text.reserve(content.size() + 256);
  for (int i = 0; i < 3; ++i) {
    const std::string_view raw = in.NextRaw();
    text += raw;
    if (!HasLineEnd(raw)) text += "\r\n";
  }
  for (const std::string& line : FieldLines(fields)) {
    in.Next();
    text += line;
    text += "\r\n";
  }
  text.append(content, in.Offset(), std::string::npos);

  // "$.$$$" beside the file, so that the rename stays on one file system and
  // replaces the file in one step.
  const std::string temp = DirectoryOf(path) + "$.$$$";
  const std::string diskTemp = ToDiskPath(temp);
  const std::string diskPath = ToDiskPath(path);
  std::FILE* f = std::fopen(diskTemp.c_str(), "wb");
  if (!f) {
    out.Result = LoadResult::Failed;
    out.Error = WriteError(temp);
    out.File = temp;
    return out;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fflush(f) == 0 && ok;
  ok = ::fsync(fileno(f)) == 0 && ok;
  struct stat st {};
  if (::stat(diskPath.c_str(), &st) == 0) ::fchmod(fileno(f), st.st_mode & 07777);
  ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(diskTemp.c_str(), diskPath.c_str()) != 0) {
    out.Result = LoadResult::Failed;
    out.Error = WriteError(ok ? path : temp);
    out.File = path;
    std::remove(diskTemp.c_str());
  }
  return out;
}

}  // namespace kestrel
