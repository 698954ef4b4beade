# Cross-build for 32-bit Windows with Debian's mingw-w64 (g++-mingw-w64-i686).
# Used for VORTA.dll only (KESTREL_MODULE_ONLY=ON, KESTREL_TESTS=OFF).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

# The win32 thread model: nothing pulls in the winpthread DLL.
set(_mingw i686-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${_mingw}-gcc-win32 ${_mingw}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${_mingw}-g++-win32 ${_mingw}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
