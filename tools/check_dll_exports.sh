#!/usr/bin/env bash
# Checks the export and import tables of the Windows build of the vehicle
# module: the exported names must be exactly PIDVAL, DTCError, Panel and
# ACTTESTProc, undecorated (no stdcall "@4", no leading underscore), and the
# DLL may import only system libraries (no C++ runtime DLLs beside it).
#   tools/check_dll_exports.sh build-mingw/module/VORTA.dll
set -euo pipefail

dll=${1:?usage: check_dll_exports.sh VORTA.dll}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
[ -f "$dll" ] || { echo "check_dll_exports: no file $dll" >&2; exit 1; }

dump=$("$objdump" -p "$dll")

# Names of the export name pointer table: the lines "[   n] NAME" after its heading.
exports=$(printf '%s\n' "$dump" | awk '
  /^\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
  inside && /^[[:space:]]*\[ *[0-9]+\]/ { sub(/^[[:space:]]*\[ *[0-9]+\][[:space:]]*/, ""); print; next }
  inside && NF == 0 { inside = 0 }
' | sort)
expected=$(printf '%s\n' ACTTESTProc DTCError PIDVAL Panel | sort)

imports=$(printf '%s\n' "$dump" | awk '/DLL Name:/ { print $3 }')

status=0
if [ "$exports" != "$expected" ]; then
  echo "check_dll_exports: $dll exports" >&2
  printf '  %s\n' ${exports:-"(nothing)"} >&2
  echo "but must export exactly: $(echo $expected)" >&2
  status=1
fi

# System libraries a plain DLL may import; everything else (libstdc++-6.dll,
# libgcc_s_*.dll, libwinpthread-1.dll, ...) would have to be shipped beside it.
for lib in $imports; do
  case "${lib,,}" in
    kernel32.dll | user32.dll | gdi32.dll | advapi32.dll | shell32.dll | ole32.dll | \
      oleaut32.dll | ws2_32.dll | ntdll.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll) ;;
    *)
      echo "check_dll_exports: $dll imports $lib, which is not a system library" >&2
      status=1
      ;;
  esac
done

if [ "$status" -eq 0 ]; then
  echo "check_dll_exports: $dll exports $(echo $exports); imports $(echo $imports)"
fi
exit "$status"
