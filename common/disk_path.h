// The file-system boundary for paths.
//
// The program holds paths the way its files and windows hold text: code
// page 1251, with '\' or '/' between the parts ("ECU\TOYOTA\dtc.ini", a
// catalogue file name shown in a grid). The file system names files in
// UTF-8. ToDiskPath turns the one into the other right before a file is
// opened, listed, renamed or removed, and FromDiskPath turns a name the file
// system lists (or a path typed in a UTF-8 terminal) into the program's form.
//
// Catalogues made on Windows name files and folders without regard to
// letter case ("ECU\toyota" for the folder TOYOTA), as the file system they
// were made on ignores it. So a part of a path that does not exist under its
// exact name is looked up in its folder regardless of letter case, Latin and
// Cyrillic alike; an entry whose name is still in code page 1251 bytes
// (copied from Windows without conversion) is found the same way.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// The path the file system knows for a code page 1251 path: '\' read as '/',
// each part converted to UTF-8 and, where that name does not exist, the
// entry of its folder with the same name regardless of letter case (the
// first in byte order when several match). Parts that match nothing stay as
// converted, so a file about to be created gets its converted name inside
// the resolved folder. Relative paths stay relative to the working folder.
std::string ToDiskPath(std::string_view path);

// The code page 1251 form of a name or path as the file system gives it:
// UTF-8 converted (characters the code page lacks become '?'); bytes that
// are not UTF-8 are taken as code page 1251 already.
std::string FromDiskPath(std::string_view name);

// Whether two code page 1251 names are the same regardless of letter case.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

// A code page 1251 character in upper case (Latin and Cyrillic letters).
char UpperCp1251(char c);

}  // namespace kestrel
