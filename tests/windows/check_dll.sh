#!/bin/sh
# The DLL exports exactly the header's functions, undecorated, through the .def file, and
# imports from the system DLLs and the C runtime only.
set -eu
objdump=$1 dll=$2 header=$3 def=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sed -n 's/^DSP_API[^(]*[ *]\([A-Za-z_][A-Za-z0-9_]*\)(.*/\1/p' "$header" | sort >"$tmp/declared"
sed -n '/^EXPORTS/,$ s/^ \{1,\}\([A-Za-z_][A-Za-z0-9_]*\) *$/\1/p' "$def" | sort >"$tmp/def"
"$objdump" -p "$dll" >"$tmp/dump"
# The name table's rows: "[index] name".
sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/ s/^\s*\[ *[0-9]*\] \([^ ]*\)$/\1/p' "$tmp/dump" | sort >"$tmp/exported"
sed -n 's/^\s*DLL Name: //p' "$tmp/dump" | tr 'a-z' 'A-Z' | sort -u >"$tmp/imports"
status=0
diff -u "$tmp/declared" "$tmp/def" || { echo "the .def file differs from the header" >&2; status=1; }
diff -u "$tmp/declared" "$tmp/exported" || { echo "the DLL's exports differ from the header" >&2; status=1; }
if grep -vxE 'KERNEL32\.DLL|WINMM\.DLL|MSVCRT\.DLL' "$tmp/imports"; then
  echo "unexpected imports (above)" >&2
  status=1
fi
echo "$(wc -l <"$tmp/exported") exports; imports: $(tr '\n' ' ' <"$tmp/imports")"
exit $status
