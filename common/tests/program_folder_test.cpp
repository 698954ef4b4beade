#include "common/program_folder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace {

// The executable's folder, unless the launcher of an installed program names
// the user's working folder.
TEST(ProgramFolder, ExecutablesFolderOrTheLaunchersChoice) {
  ::unsetenv(kestrel::kProgramDirVariable);
  EXPECT_EQ(kestrel::ProgramFolder(),
            std::filesystem::read_symlink("/proc/self/exe").parent_path().string());
  ::setenv(kestrel::kProgramDirVariable, "/home/u/.local/share/kestrel/", 1);
  EXPECT_EQ(kestrel::ProgramFolder(), "/home/u/.local/share/kestrel");
  ::setenv(kestrel::kProgramDirVariable, "", 1);
  EXPECT_EQ(kestrel::ProgramFolder(),
            std::filesystem::read_symlink("/proc/self/exe").parent_path().string());
  ::unsetenv(kestrel::kProgramDirVariable);
}

}  // namespace
