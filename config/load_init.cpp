#include "config/load_init.h"

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>

#include "common/cp1251.h"
#include "config/config_globals.h"
#include "config/parameter_lists.h"
#include "config/settings_model.h"
#include "config/text_file.h"
#include "link/link_globals.h"
#include "link/session.h"

namespace kestrel {

using namespace cp1251_literals;

namespace {

// Position of c in "0123456789ABCDEF", or -1.
int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Russian text "Файл <file>, строка <n>: <what>" for a refused value.
std::string LimitError(const std::string& file, int line, std::string_view what) {
  std::string text = "Файл "_cp;
  text += file;
  text += ", строка "_cp;
  text += std::to_string(line);
  text += ": ";
  text += what;
  return text;
}

// Reads a configuration file line by line, stopping at the first failure.
class Loader {
 public:
  Loader(std::string_view content, std::string file) : reader_(content), file_(std::move(file)) {}

  LoadOutcome& Outcome() { return outcome_; }
  bool Failed() const { return outcome_.Result == LoadResult::Failed; }

  std::string_view Text() { return reader_.Next(); }

  bool Integer(std::int32_t& value) {
    const std::string_view line = reader_.Next();
    if (ParseInteger(line, value)) return true;
    return Fail(ConversionError(kNotInteger, line));
  }

  // An integer that must lie within [lo, hi] to fit its setting.
  bool Ranged(std::int64_t lo, std::int64_t hi, std::int32_t& value) {
    if (!Integer(value)) return false;
    if (value >= lo && value <= hi) return true;
    std::string what = "значение "_cp;
    what += std::to_string(value);
    what += " вне диапазона "_cp;
    what += std::to_string(lo) + ".." + std::to_string(hi);
    return Fail(LimitError(file_, reader_.LineNumber(), what));
  }

  bool Byte(std::uint8_t& value, int hi = 255) {
    std::int32_t v = 0;
    if (!Ranged(0, hi, v)) return false;
    value = static_cast<std::uint8_t>(v);
    return true;
  }

  bool Float(double& value) {
    const std::string_view line = reader_.Next();
    if (ParseFloat(line, value)) return true;
    return Fail(ConversionError(kNotFloat, line));
  }

  bool Flag(bool& value) {
    const std::string_view line = reader_.Next();
    if (ParseBoolean(line, value)) return true;
    return Fail(ConversionError(kNotBoolean, line));
  }

  std::uint8_t Hex() { return HexToByte(reader_.Next()); }

  // A count line: 0..1001 requests.
  bool Count(std::int32_t& n) {
    if (!Integer(n)) return false;
    if (n >= 0 && n <= vorta::kMaxRequests) return true;
    std::string what = "число запросов "_cp;
    what += std::to_string(n);
    what += " вне диапазона 0..1001"_cp;
    return Fail(LimitError(file_, reader_.LineNumber(), what));
  }

  // n request lines into the table's entries 1..n. Count follows the entries
  // read, so a refused line leaves the table holding only whole requests.
  bool Requests(vorta::RequestTable& table, std::int32_t n) {
    table.Count = 0;
    for (std::int32_t i = 0; i < n; ++i) {
      const std::string_view line = reader_.Next();
      vorta::RequestEntry& entry = table.Entries[i];
      std::uint8_t scratch[1];
      const std::size_t bytes = HexToBytes(line, scratch, 0);
      if (bytes > kMaxRequestBytes || bytes < kMinRequestBytes) {
        std::string what = "запрос из "_cp;
        what += std::to_string(bytes);
        what += bytes > kMaxRequestBytes ? " байт длиннее 254 байт"_cp
                                         : " байт короче 4 байт (заголовок и сервис)"_cp;
        return Fail(LimitError(file_, reader_.LineNumber(), what));
      }
      ParseRequestLine(line, entry);
      table.Count = static_cast<std::uint16_t>(i + 1);
    }
    return true;
  }

  bool Pass(const LoadOutcome& pass) {
    if (pass.Ok()) return true;
    outcome_ = pass;
    outcome_.Result = LoadResult::Failed;
    return false;
  }

  bool Fail(std::string error) { return Fail(std::move(error), reader_.LineNumber()); }
  bool Fail(std::string error, int line) {
    outcome_.Result = LoadResult::Failed;
    outcome_.Error = std::move(error);
    outcome_.File = file_;
    outcome_.Line = line;
    return false;
  }

 private:
  LineReader reader_;
  std::string file_;
  LoadOutcome outcome_;
};

// Lines 1..27. Each value is stored as soon as it is read.
bool ReadSettingsLines(Loader& in) {
  CarName = std::string(in.Text());
  EcuType = std::string(in.Text());
  EcuFolder = std::string(in.Text());
  LinkSettings.PortName = std::string(in.Text().substr(0, 5));
  std::int32_t* const ints[] = {
      &LinkSettings.BaudRate, &LinkSettings.W5,       &LinkSettings.W1to4,
      &LinkSettings.W4,       &LinkSettings.P3,       &LinkSettings.P2,
      &LinkSettings.P4,       &LinkSettings.PWakeUpL, &LinkSettings.PWakeUpH};
  for (std::int32_t* target : ints) {
    if (!in.Integer(*target)) return false;
  }
  if (!in.Byte(LinkSettings.Protocol, kProto9141)) return false;
  if (!in.Byte(LinkSettings.Addressing, kFunctional)) return false;
  bool flag = false;
  if (!in.Flag(flag)) return false;
  LogEnabled.store(flag ? 1 : 0);
  if (!in.Flag(flag)) return false;
  StartRequest = flag ? 1 : 0;
  if (!in.Integer(ReconnectTime)) return false;
  LinkSettings.EcuAddress = in.Hex();
  LinkSettings.Kw2 = in.Hex();
  LinkSettings.TesterAddress = in.Hex();
  LinkSettings.RequestAddress = in.Hex();
  if (!in.Float(ValueQuery.InjectorFlow)) return false;
  if (!in.Byte(ValueQuery.Cylinders)) return false;
  if (!in.Integer(ValueQuery.Displacement)) return false;
  if (!in.Integer(ValueQuery.FuelFactor)) return false;
  return in.Integer(ValueQuery.MapCorrection);
}

bool ReadLists(Loader& in) {
  std::int32_t n = 0;
  // Dashboard.
  if (!in.Count(n)) return false;
  ListsEnabled.Dashboard = n != 0;
  if (!in.Requests(RequestTables[kDashboardTable], n)) return false;
  // Live data, then the live rows, tests and graph channels.
  if (!in.Count(n)) return false;
  ListsEnabled.Live = n != 0;
  if (!in.Requests(RequestTables[kLiveTable], n)) return false;
  const std::string vortaIni = EcuFilePath("VORTA.ini");
  if (!in.Pass(LivePass(vortaIni, RequestTables[kLiveTable]))) return false;
  // Freeze frames, then their rows.
  if (!in.Count(n)) return false;
  ListsEnabled.Freeze = n != 0;
  if (!in.Requests(RequestTables[kFreezeTable], n)) return false;
  if (!in.Pass(FreezePass(vortaIni, RequestTables[kFreezeTable]))) return false;
  // Trouble-code reading.
  if (!in.Count(n)) return false;
  ListsEnabled.Dtc = n != 0;
  if (!in.Requests(RequestTables[kDtcReadTable], n)) return false;
  // Trouble-code clearing: the trouble-code window needs both lists.
  if (!in.Count(n)) return false;
  if (n == 0) ListsEnabled.Dtc = false;
  std::int32_t reset = 0;
  if (!in.Ranged(0, 65535, reset)) return false;
  RequestTables[kDtcClearTable].ResetCount = static_cast<std::uint16_t>(reset);
  if (!in.Requests(RequestTables[kDtcClearTable], n)) return false;
  // ECU information.
  if (!in.Count(n)) return false;
  ListsEnabled.Info = n != 0;
  return in.Requests(RequestTables[kInfoTable], n);
}

// Everything LoadInit replaces while it reads, to be put back after a load
// that failed part-way.
struct LoadedConfiguration {
  std::string CarName, EcuType, EcuFolder;
  LinkSettingsRecord Link;
  std::uint8_t Log = 0;
  std::uint8_t StartRequest = 0;
  std::int32_t ReconnectTime = 0;
  vorta::ValueQuery Query{};
  std::array<vorta::RequestTable, kRequestTableCount> Tables;
  ListEnabling Lists;
  ParameterTable LiveRows, FreezeRows;
  std::array<TestEntry, kMaxTestPositions> Tests;
  std::array<std::string, kMaxTestPositions> TestItems;
  int TestCount = 0;
  std::array<GraphChannelList, kGraphChannels> Channels;
  SettingsFields Fields;

  void Take() {
    CarName = kestrel::CarName;
    EcuType = kestrel::EcuType;
    EcuFolder = kestrel::EcuFolder;
    Link = LinkSettings;
    Log = LogEnabled.load();
    StartRequest = kestrel::StartRequest;
    ReconnectTime = kestrel::ReconnectTime;
    Query = ValueQuery;
    std::copy(std::begin(RequestTables), std::end(RequestTables), Tables.begin());
    Lists = ListsEnabled;
    LiveRows = kestrel::LiveRows;
    FreezeRows = kestrel::FreezeRows;
    Tests = TestList;
    TestItems = TestSelectorItems;
    TestCount = TestSelectorCount;
    Channels = GraphChannels;
    Fields = SettingsWindowFields;
  }

  void PutBack() const {
    kestrel::CarName = CarName;
    kestrel::EcuType = EcuType;
    kestrel::EcuFolder = EcuFolder;
    LinkSettings = Link;
    LogEnabled.store(Log);
    kestrel::StartRequest = StartRequest;
    kestrel::ReconnectTime = ReconnectTime;
    ValueQuery = Query;
    std::copy(Tables.begin(), Tables.end(), std::begin(RequestTables));
    ListsEnabled = Lists;
    kestrel::LiveRows = LiveRows;
    kestrel::FreezeRows = FreezeRows;
    TestList = Tests;
    TestSelectorItems = TestItems;
    TestSelectorCount = TestCount;
    GraphChannels = Channels;
    SettingsWindowFields = Fields;
  }
};

}  // namespace

std::uint8_t HexToByte(std::string_view text) {
  if (text.empty()) return 0;
  const int d1 = DigitValue(text[0]);
  if (text.size() == 1) return d1 < 0 ? 255 : static_cast<std::uint8_t>(d1);
  const int v = 16 * d1 + DigitValue(text[1]);
  return static_cast<std::uint8_t>(((v % 256) + 256) % 256);
}

std::size_t HexToBytes(std::string_view line, std::uint8_t* out, std::size_t capacity) {
  std::size_t bytes = 0;
  int high = -1;
  for (char c : line) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    const int d = DigitValue(c);
    if (d < 0) continue;  // separators and anything else are dropped
    if (high < 0) {
      high = d;
      continue;
    }
    if (bytes < capacity) out[bytes] = static_cast<std::uint8_t>(high * 16 + d);
    ++bytes;
    high = -1;
  }
  return bytes;  // a lone last digit is ignored
}

bool ParseRequestLine(std::string_view line, vorta::RequestEntry& entry) {
  std::uint8_t bytes[kMaxRequestBytes];
  const std::size_t n = HexToBytes(line, bytes, sizeof bytes);
  if (n > kMaxRequestBytes) return false;
  std::memset(entry.Data, 0, sizeof entry.Data);
  std::memcpy(entry.Data, bytes, n);
  entry.Length = static_cast<std::uint16_t>(n);
  SetSkip(entry, 0);
  return true;
}

bool ParseInteger(std::string_view text, std::int32_t& value) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (!AllDigits(text)) return false;
  std::int64_t v = 0;
  for (char c : text) {
    v = v * 10 + (c - '0');
    if (v > 2147483648LL) return false;
  }
  if (negative) v = -v;
  if (v > 2147483647LL) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

bool ParseFloat(std::string_view text, double& value) {
  text = TrimBlanks(text);
  const char* sep = std::localeconv()->decimal_point;
  const std::string_view separator = sep && *sep ? sep : ".";
  // [sign] digits [separator digits] [E [sign] digits], at least one digit.
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (text.substr(i, separator.size()) == separator) {
    i += separator.size();
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  }
  if (i != text.size()) return false;
  const std::string copy(text);
  char* end = nullptr;
  const double v = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

bool ParseBoolean(std::string_view text, bool& value) {
  const std::string_view t = TrimBlanks(text);
  auto same = [](std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      char c = a[i];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      if (c != b[i]) return false;
    }
    return true;
  };
  if (same(t, "TRUE")) return value = true, true;
  if (same(t, "FALSE")) return value = false, true;
  double number = 0;
  if (!ParseFloat(t, number)) return false;
  value = number != 0.0;
  return true;
}

std::string ConversionError(const char* format, std::string_view text) {
  std::string out;
  for (const char* p = format; *p; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      out += text;
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

LoadOutcome LoadInit(const std::string& fileName) {
  // A session still running (the dashboard keeps polling after it closes)
  // reads the request tables and fills the response store that this load
  // replaces: end it first, so that no half-written request goes out.
  StopSession();
  LiveRows.RowInactive.fill(0);
  FreezeRows.RowInactive.fill(0);
  ClearResponseStore();

  const std::string path = NativePath(fileName);
  std::string content;
  if (!ReadExistingFile(path, content)) return MissingOutcome(path);
  Loader in(content, path);
  if (ReadSettingsLines(in) && ReadLists(in)) {
    SettingsWindowFields = FieldsFromSettings();
  }
  return in.Outcome();
}

LoadOutcome LoadInitOrKeep(const std::string& fileName) {
  StopSession();  // before the copy: a running session reads the tables
  const auto kept = std::make_unique<LoadedConfiguration>();  // ~25 MB of tables
  kept->Take();
  LoadOutcome outcome = LoadInit(fileName);
  if (outcome.Result == LoadResult::Failed) kept->PutBack();
  return outcome;
}

}  // namespace kestrel
