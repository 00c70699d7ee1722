#!/bin/sh
# Fails when a source file includes a header of a level above its own: sys/ may
# include only sys/, tk/ only sys/ and tk/. Prints each offending line.
root=${1:?usage: check-layering.sh <source root>}
cd "$root" || exit 2
status=0
check() { # folder, pattern of forbidden include paths
    [ -d "$1" ] || return 0
    found=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"<]($2)/" "$1" --include='*.h' --include='*.cpp' --include='*.c' --include='*.rc')
    if [ -n "$found" ]; then
        echo "$found" | sed "s|\$| (includes from above $1/)|"
        status=1
    fi
}
check sys 'tk|app|tools|tests'
check tk 'app|tools|tests'
[ $status -eq 0 ] || echo "check-layering: includes must go downwards (app -> tk -> sys)" >&2
exit $status
