// The folder the program treats as "beside the program file": where
// "Сохранить как..." opens its dialog (its ECU folder), and where recordings
// and the spreadsheet template are looked for.
//
// It is the folder of the running executable, unless the environment
// variable KESTREL_PROGRAM_DIR names another. The launcher of an installed
// Kestrel sets it to the user's working folder ($XDG_DATA_HOME/kestrel), so
// that the program, installed under /usr, writes nothing there. In the build
// tree the program lies in its working folder, so both are the same.
#pragma once

#include <string>

namespace kestrel {

inline constexpr const char* kProgramDirVariable = "KESTREL_PROGRAM_DIR";

// The folder as a path on disk (UTF-8), without a trailing '/'; "." when
// neither the variable nor the executable's path can be had.
std::string ProgramFolder();

}  // namespace kestrel
