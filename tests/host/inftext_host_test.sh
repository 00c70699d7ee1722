#!/bin/sh
# The INF line rules build with the host's compiler (a fuzzing target links them there)
# and read arbitrary bytes without failing.
set -u
source_root=${1:?usage: inftext_host_test.sh <source root>}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cat > "$work/main.cpp" <<'CPP'
#include "tk/libcleaner/inftext.h"
#include <fstream>
#include <iostream>
using namespace ts::tk::cleaner;
int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::ifstream a(argv[i], std::ios::binary), b(argv[i], std::ios::binary), c(argv[i], std::ios::binary);
        bool mentions = textMentionsAny(a, {L"tsusbvid"});
        InfProviderText provider = findProviderText(b);
        std::cout << mentions << " " << provider.unresolved << " " << provider.text.size() << " "
                  << ts::sys::toNarrowString(findDriverVersionText(c)) << "\n";
    }
}
CPP
g++ -std=c++17 -Wall -Wextra -Werror -I"$source_root" -o "$work/inftext" "$work/main.cpp" \
    "$source_root/tk/libcleaner/inftext.cpp" "$source_root/sys/libutils/version.cpp" \
    || fail "the INF line rules do not build for the host"

printf '[Version]\r\nProvider=%%Mfg%%\r\nDriverVer = 10/15/2014, 7.4.50415.0 \r\nAddService=tsusbvid\r\n[Strings]\r\nMfg="Tessaline"\r\n' > "$work/good.inf"
head -c 65536 /dev/urandom > "$work/random.inf"
out=$("$work/inftext" "$work/good.inf" "$work/random.inf") || fail "reading failed: $out"
[ "$(echo "$out" | head -n 1)" = "1 0 12 7.4.50415.0" ] || fail "unexpected reading of good.inf: $out"
echo "INF line rules on the host: ok"
