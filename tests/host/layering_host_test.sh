#!/bin/sh
# The layering check fails on an upward include and passes on the real tree.
set -u
source_root=${1:?usage: layering_host_test.sh <source root>}
check="$source_root/tools/check-layering.sh"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir -p "$tree/sys/libutils/win32" "$tree/tk/libgui" "$tree/app/setup"
printf '#include "sys/libutils/logger.h"\n' > "$tree/tk/libgui/ok.cpp"
printf '#include "tk/libgui/ok.h"\n#include "sys/libutils/logger.h"\n' > "$tree/app/setup/ok.cpp"
"$check" "$tree" >/dev/null || fail "a downward-only tree was refused"

printf '#include <windows.h>\n  #  include "tk/libgui/resourcefunctions.h"\n' > "$tree/sys/libutils/win32/bad.cpp"
out=$("$check" "$tree" 2>&1) && fail "sys including tk passed"
echo "$out" | grep -q 'sys/libutils/win32/bad.cpp:2:' || fail "the offending line is not named: $out"
rm "$tree/sys/libutils/win32/bad.cpp"

printf '#include "app/setup/payload.h"\n' > "$tree/tk/libgui/bad.h"
"$check" "$tree" >/dev/null 2>&1 && fail "tk including app passed"
rm "$tree/tk/libgui/bad.h"

"$check" "$source_root" || fail "the source tree has upward includes"
echo "layering check: ok"
