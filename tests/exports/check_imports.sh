#!/usr/bin/env bash
# Checks that a Windows DLL imports only DLLs that every Windows system has: no compiler
# runtime (libstdc++, libgcc, libwinpthread) may have to be shipped beside it.
# Usage: check_imports.sh DLL   (tool: $OBJDUMP, default x86_64-w64-mingw32-objdump)
set -u
if [ $# -ne 1 ]; then
    echo "usage: $0 DLL" >&2
    exit 2
fi
dll=$1
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
system='^(kernel32|kernelbase|ntdll|msvcrt|ucrtbase|advapi32|user32|bcrypt|ws2_32|shell32|ole32|oleaut32|winhttp|crypt32|api-ms-win-[a-z0-9-]+)\.dll$'

imports=$("$objdump" -p "$dll" | sed -nE 's/^[[:space:]]*DLL Name: +//p' | sort -u)
if [ -z "$imports" ]; then
    echo "no imports found in $dll"
    exit 1
fi
foreign=$(printf '%s\n' "$imports" | grep -viE "$system")
if [ -n "$foreign" ]; then
    printf '%s imports DLLs that are not part of Windows:\n%s\n' "$(basename "$dll")" "$foreign"
    exit 1
fi
echo "$(basename "$dll") imports only system DLLs:" $imports
