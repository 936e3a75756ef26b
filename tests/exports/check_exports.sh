#!/usr/bin/env bash
# Compares the dynamic exports of the built library with the QUORIN_API functions that the
# public header declares: nothing internal may leak out, nothing declared may be missing.
# Usage: check_exports.sh LIBRARY HEADER
# Tools: $NM (default nm) for an ELF library, $OBJDUMP (default x86_64-w64-mingw32-objdump)
# for a Windows DLL.
set -u
if [ $# -ne 2 ]; then
    echo "usage: $0 LIBRARY HEADER" >&2
    exit 2
fi
library=$1
header=$2
nm=${NM:-nm}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}

declared=$(mktemp)
exported=$(mktemp)
trap 'rm -f "$declared" "$exported"' EXIT

# A declaration starts with QUORIN_API at the beginning of a line and names the function before
# its first '(', possibly on the next line.
api_lines=$(grep -cE '^QUORIN_API( |$)' "$header")
grep -vE '^[[:space:]]*#' "$header" | tr '\n' ' ' |
    grep -oE '(^| )QUORIN_API [^(;]*\(' |
    sed -nE 's/.*[ *]([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*\($/\1/p' | sort >"$declared"
if [ "$api_lines" -eq 0 ] || [ "$(wc -l <"$declared")" -ne "$api_lines" ]; then
    echo "could not read the QUORIN_API declarations of $header" \
        "($api_lines lines, $(wc -l <"$declared") names)"
    exit 1
fi

if [ "$(head -c 2 "$library")" = "MZ" ]; then
    # The export name table of the DLL: lines "[  n] name" below its heading.
    "$objdump" -p "$library" |
        sed -nE '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]+\] +//p' |
        sort >"$exported"
else
    # Markers that some linkers define in every shared object are not the library's symbols.
    "$nm" -D --defined-only "$library" | awk '{ print $NF }' |
        grep -vxE '_init|_fini|__bss_start|_edata|_end' | sort >"$exported"
fi
if [ ! -s "$exported" ]; then
    echo "no exported symbols found in $library"
    exit 1
fi

missing=$(comm -23 "$declared" "$exported")
leaked=$(comm -13 "$declared" "$exported")
if [ -n "$missing" ] || [ -n "$leaked" ]; then
    [ -n "$missing" ] && printf 'declared in %s but not exported:\n%s\n' "$header" "$missing"
    [ -n "$leaked" ] && printf 'exported but not declared in %s:\n%s\n' "$header" "$leaked"
    exit 1
fi
echo "$(wc -l <"$exported") exports, exactly the functions of $(basename "$header")"
