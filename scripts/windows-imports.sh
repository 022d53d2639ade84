#!/usr/bin/env bash
# Checks that Windows programs import no DLL but the system's own, as a fully
# static build must: nothing (libstdc++, libgcc, winpthread, zlib) has to
# travel beside the .exe.
#
#   windows-imports.sh PROGRAM.exe...
#
# Prints each program's imports; exits 1 naming any other DLL.
set -euo pipefail

objdump="${OBJDUMP:-x86_64-w64-mingw32-objdump}"
status=0
for exe in "$@"; do
  dlls="$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u)"
  if [ -z "$dlls" ]; then
    echo "windows-imports: $exe: no import table" >&2
    status=1
    continue
  fi
  for dll in $dlls; do
    case "${dll,,}" in
      kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll | ntdll.dll | \
        advapi32.dll | bcrypt.dll | user32.dll | shell32.dll | ole32.dll | \
        oleaut32.dll | shlwapi.dll | ws2_32.dll) ;;
      *)
        echo "windows-imports: $exe: imports $dll, which Windows does not ship" >&2
        status=1
        ;;
    esac
  done
  echo "$exe imports:" $dlls
done
exit $status
