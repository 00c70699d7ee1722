#!/bin/sh
# The layering check fails on an upward include and on a Windows header in a portable
# file, and passes on the real tree.
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

# A portable file, or a project header it includes, refuses Windows headers in any case.
mkdir -p "$tree/cmake"
printf 'set(TS_PORTABLE_SYS_SOURCES\n    sys/libutils/plain.cpp\n)\n' > "$tree/cmake/portable.cmake"
printf '#include <wchar.h>\n#include <cwctype>\n#include "sys/libutils/plain.h"\n' > "$tree/sys/libutils/plain.cpp"
: > "$tree/sys/libutils/plain.h"
"$check" "$tree" >/dev/null || fail "a portable file with the C library's wide headers was refused"
for include in '<windows.h>' '<Windows.H>' '"winternl.h"' '<shlwapi.h>' '<wincrypt.h>' '<processthreadsapi.h>' \
    '"sys/libutils/win32/handle.h"'; do
    printf '#include %s\n' "$include" > "$tree/sys/libutils/plain.h"
    out=$("$check" "$tree" 2>&1) && fail "a portable file's header including $include passed"
    echo "$out" | grep -qF "sys/libutils/plain.h:1:#include $include (a Windows header in a portable file, which portable sys/libutils/plain.cpp includes)" ||
        fail "$include: the offending line is not named: $out"
    echo "$out" | grep -q 'portable files must build on the host' || fail "$include: the rule is not said: $out"
done

"$check" "$source_root" || fail "the source tree has upward includes or a portable file with a Windows header"
echo "layering check: ok"
