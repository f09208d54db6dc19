#!/bin/sh
# Compares the dynamic symbols the library defines with the functions its header declares.
set -eu
lib=$1
header=$2
exported=$(mktemp)
declared=$(mktemp)
trap 'rm -f "$exported" "$declared"' EXIT
nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWwiDdBbRr]$/ {print $3}' | sort -u >"$exported"
sed -n 's/^DSP_API[^(]*[ *]\([A-Za-z_][A-Za-z0-9_]*\)(.*/\1/p' "$header" | sort -u >"$declared"
if ! diff -u "$declared" "$exported"; then
  echo "exported symbols differ from the header's declarations ('-' declared only, '+' exported only)" >&2
  exit 1
fi
echo "exports match the header: $(wc -l <"$declared") functions"
