#!/usr/bin/env bash
# Reads what the loader would do with the built programs:
# - no RUNPATH or RPATH entry is empty (the loader reads an empty entry as
#   the current folder, so a library planted in the folder a program is
#   started from would be loaded);
# - sonvira-headless loads no graphical Qt library, through any library.
#   test_links.sh <build folder>
set -euo pipefail
bin=$1/bin
fail() { echo "FAIL: $*" >&2; exit 1; }

checked=0
while IFS= read -r -d '' program; do
  file -b "$program" | grep -q '^ELF' || continue
  checked=$((checked + 1))
  while IFS= read -r paths; do
    case ":$paths:" in
      *::*) fail "$program has an empty entry in its library search path: '$paths'" ;;
    esac
  done < <(readelf -d "$program" | sed -n 's/.*(R\(UN\)\?PATH).*\[\(.*\)\]/\2/p')
done < <(find "$bin" -type f -perm -u+x -print0)
[ "$checked" -gt 0 ] || fail "no program found in $bin"

if ldd "$bin/sonvira-headless" | grep -E 'libQt6(Gui|Widgets)'; then
  fail "sonvira-headless loads a graphical Qt library"
fi
echo "library search paths of $checked programs OK; sonvira-headless loads no graphical library"
