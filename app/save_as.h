// "Сохранить как...": writes the configuration in use, with the names and
// settings as they are now, over another configuration file.
//
// The new file is the old one with lines 1-2 from the main window's name
// boxes, lines 4-27 from the settings window's fields, the dashboard list
// copied, the live-data and freeze-frame lists without the requests that an
// inactive row of their window maps to, and everything after them copied. It
// is written to "$.$$$" beside the chosen file and renamed over it in one
// step, so the chosen file is either the old or the complete new one.
//
// Plain C++: the main window runs the dialog and passes in what it shows.
#pragma once

#include <array>
#include <string>

#include "config/parameter_lists.h"
#include "module/vorta.h"

namespace kestrel {

// Paths in the program's form (code page 1251); they reach the file system
// through ToDiskPath (common/disk_path.h).
struct SaveAsInput {
  std::string ConfigFile;  // the configuration in use (ConfigFileName)
  std::string TargetFile;  // the chosen file; it must exist
  std::string CarName;     // the main window's boxes, code page 1251
  std::string EcuType;
  std::array<std::string, 24> SettingsLines;  // lines 4..27 as the settings writer writes them
};

enum class SaveAsResult {
  Saved,
  NothingDone,  // the configuration in use does not exist (any more)
  Failed,       // nothing replaced; Error says why
};

struct SaveAsOutcome {
  SaveAsResult Result = SaveAsResult::Saved;
  std::string Error;  // code page 1251, for the error box
};

// Sets Skip of every entry of `table` to 0, then to 1 for each entry that an
// inactive row of `rows` maps to (FindPID over `table` with the row's
// service, identifier and second identifier). Returns the number of entries
// 1..Count left with Skip 0.
int MarkInactiveRequests(vorta::RequestTable& table, const ParameterTable& rows);

// Saves as described above. As a side effect the Skip flags of the live-data
// and freeze-frame tables equal what was written (even when writing fails
// afterwards). The count lines of both lists in the file must equal the counts
// in memory; a file that changed since it was loaded is refused rather than
// saved with requests and flags out of step.
SaveAsOutcome SaveConfigurationAs(const SaveAsInput& input, vorta::RequestTable& live,
                                  const ParameterTable& liveRows, vorta::RequestTable& freeze,
                                  const ParameterTable& freezeRows);

}  // namespace kestrel
