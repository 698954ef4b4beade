#include "app/save_as.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/cp1251.h"
#include "common/disk_path.h"
#include "common/system_error.h"
#include "config/config_globals.h"
#include "config/load_init.h"
#include "config/text_file.h"
#include "link/link_globals.h"

namespace kestrel {

using namespace kestrel::cp1251_literals;

namespace {

constexpr std::string_view kTempName = "$.$$$";

// The folder part of a path, with its trailing '/', or "" for a bare name.
std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

SaveAsOutcome Fail(std::string error) {
  return SaveAsOutcome{SaveAsResult::Failed, std::move(error)};
}

SaveAsOutcome Changed(const std::string& config, int line) {
  return Fail(std::string("Файл конфигурации "_cpsv) + config +
              std::string(" изменился после загрузки (строка "_cpsv) + std::to_string(line) +
              std::string("); выберите его заново в каталоге. Ничего не сохранено."_cpsv));
}

SaveAsOutcome WriteFailed(const std::string& path, int err) {
  return Fail(std::string("Ошибка записи файла "_cpsv) + path + ": " + SystemErrorText(err));
}

// Copies the configuration line by line into `out`.
class Copier {
 public:
  // A byte-order mark before the first line is kept.
  Copier(std::string_view content, std::string& out) : content_(content), in_(content), out_(out) {
    out_.append(content_.substr(0, in_.Offset()));
  }

  // Reads the next line (without its end); false past the end of the file.
  bool Drop() {
    if (in_.Eof()) return false;
    in_.Next();
    return true;
  }

  // Copies the next line with its own line end (CR LF added to a last line
  // that has none, so that lines written after it start on their own line).
  bool Copy(bool keep = true) {
    if (in_.Eof()) return false;
    const std::string_view raw = in_.NextRaw();
    if (keep) {
      out_ += raw;
      if (!HasLineEnd(raw)) out_ += "\r\n";
    }
    return true;
  }

  void Write(std::string_view text) {
    out_ += text;
    out_ += "\r\n";
  }

  // Reads a count line, copying it when `copy` is set.
  bool Count(int& count, bool copy) {
    if (in_.Eof()) return false;
    const std::size_t start = in_.Offset();
    const std::string_view text = in_.Next();
    std::int32_t value = 0;
    if (!ParseInteger(text, value) || value < 0 || value > vorta::kMaxRequests) return false;
    count = value;
    if (copy) {
      const std::string_view raw = content_.substr(start, in_.Offset() - start);
      out_ += raw;
      if (!HasLineEnd(raw)) out_ += "\r\n";
    }
    return true;
  }

  // Copies everything not read yet.
  void Rest() { out_.append(content_.substr(in_.Offset())); }

  int Line() const { return in_.LineNumber() + 1; }  // the line about to be read

 private:
  std::string_view content_;
  LineReader in_;
  std::string& out_;
};

// Writes one filtered request list: the count of kept entries, then the
// file's request lines whose entry is kept.
bool FilterList(Copier& copy, const vorta::RequestTable& table) {
  int count = 0;
  if (!copy.Count(count, false) || count != table.Count) return false;
  int kept = 0;
  for (int i = 0; i < count; ++i) kept += GetSkip(table.Entries[i]) == 0 ? 1 : 0;
  copy.Write(std::to_string(kept));
  for (int i = 0; i < count; ++i) {
    if (!copy.Copy(GetSkip(table.Entries[i]) == 0)) return false;
  }
  return true;
}

}  // namespace

int MarkInactiveRequests(vorta::RequestTable& table, const ParameterTable& rows) {
  for (vorta::RequestEntry& entry : table.Entries) SetSkip(entry, 0);
  const int rowCount = std::clamp(rows.RowCount, 0, kMaxRows);
  for (int r = 0; r < rowCount; ++r) {
    if (rows.RowInactive[r] == 0) continue;
    const RowIds ids = RowIdsOf(rows.Rows[r]);
    const int index = FindPID(table, ids.Service, ids.Id1, ids.Id2);
    if (index >= 0 && index < vorta::kMaxRequests) SetSkip(table.Entries[index], 1);
  }
  const int count = std::min<int>(table.Count, vorta::kMaxRequests);
  int kept = 0;
  for (int i = 0; i < count; ++i) kept += GetSkip(table.Entries[i]) == 0 ? 1 : 0;
  return kept;
}

SaveAsOutcome SaveConfigurationAs(const SaveAsInput& input, vorta::RequestTable& live,
                                  const ParameterTable& liveRows, vorta::RequestTable& freeze,
                                  const ParameterTable& freezeRows) {
  const std::string config = NativePath(input.ConfigFile);
  std::string content;
  if (!FileExists(config) || !ReadWholeFile(config, content))
    return {SaveAsResult::NothingDone, {}};
  if (input.TargetFile.empty()) return {SaveAsResult::NothingDone, {}};
  if (!FileExists(input.TargetFile)) {
    return Fail(std::string("Файл не найден: "_cpsv) + input.TargetFile);
  }

  // The Skip flags follow the rows whether or not the file can be written.
  MarkInactiveRequests(live, liveRows);
  MarkInactiveRequests(freeze, freezeRows);

  std::string text;
  text.reserve(content.size() + 256);
  Copier copy(content, text);

  // Lines 1-2: the names as the main window shows them; line 3 unchanged.
  if (!copy.Drop()) return Changed(config, copy.Line());
  copy.Write(input.CarName);
  if (!copy.Drop()) return Changed(config, copy.Line());
  copy.Write(input.EcuType);
  if (!copy.Copy()) return Changed(config, copy.Line());
  // Lines 4-27: the settings window's fields.
  for (const std::string& line : input.SettingsLines) {
    if (!copy.Drop()) return Changed(config, copy.Line());
    copy.Write(line);
  }
  // The dashboard list unchanged.
  int dashboard = 0;
  if (!copy.Count(dashboard, true)) return Changed(config, copy.Line());
  for (int i = 0; i < dashboard; ++i) {
    if (!copy.Copy()) return Changed(config, copy.Line());
  }
  // Live-data and freeze-frame lists without the requests of inactive rows.
  if (!FilterList(copy, live)) return Changed(config, copy.Line());
  if (!FilterList(copy, freeze)) return Changed(config, copy.Line());
  // Trouble-code and information lists, and anything after them, unchanged.
  copy.Rest();

  const std::string temp = FolderOf(NativePath(input.TargetFile)) + std::string(kTempName);
  const std::string diskTemp = ToDiskPath(temp);
  const std::string diskTarget = ToDiskPath(input.TargetFile);
  std::FILE* f = std::fopen(diskTemp.c_str(), "wb");
  if (f == nullptr) return WriteFailed(temp, errno);
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fflush(f) == 0 && ok;
  ok = ::fsync(::fileno(f)) == 0 && ok;
  int err = errno;
  struct stat st {};
  if (::stat(diskTarget.c_str(), &st) == 0) ::fchmod(::fileno(f), st.st_mode & 07777);
  if (std::fclose(f) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    std::remove(diskTemp.c_str());
    return WriteFailed(temp, err);
  }
  if (std::rename(diskTemp.c_str(), diskTarget.c_str()) != 0) {
    err = errno;
    std::remove(diskTemp.c_str());
    return WriteFailed(input.TargetFile, err);
  }
  return {};
}

}  // namespace kestrel
