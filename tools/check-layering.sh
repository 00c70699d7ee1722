#!/bin/sh
# Fails when a source file includes a header of a level above its own: sys/ may
# include only sys/, tk/ only sys/ and tk/. Fails as well when a portable file
# (cmake/portable.cmake), or a project header it includes, includes a Windows header or
# one of a win32/ folder: those files build for the host too. Prints each offending line.
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

# The Windows SDK's headers (case does not matter to Windows): windows.h and the win*.h
# family, the API headers (*api.h, *apiset.h, *api32.h), the others of the SDK that
# Windows code here might reach for, and the Windows C runtime's own (io.h, direct.h).
# The C library's wchar.h and wctype.h are not among them.
windows='(win[a-z0-9_]*|[a-z0-9_]*api(set|32)?|wtypes[a-z]*|ws2[a-z0-9_]*|shlobj[a-z_]*|shobjidl|'\
'objbase|objidl[a-z]*|ole2|oleauto|olectl|unknwn|comdef|commctrl|commdlg|cfgmgr32|devguid|'\
'newdev|msi|msiquery|msidefs|dbghelp|imagehlp|softpub|mscat|tlhelp32|userenv|sddl|accctrl|'\
'lmcons|lmerr|ntstatus|ntdef|bcrypt|ncrypt|tchar|sspi|knownfolders|propkey|uxtheme|'\
'mmsystem|iphlpapi|powrprof|excpt|basetsd|guiddef|rpc[a-z]*|io|direct|conio)\.h'
portable=$(sed -n 's/^[[:space:]]*\(\(sys\|tk\|app\)\/[^[:space:])]*\)[[:space:]]*$/\1/p' cmake/portable.cmake 2>/dev/null)
seen=
for source in $portable; do
    # The file and the project headers it reaches.
    files=$source queue=$source
    while [ -n "$queue" ]; do
        set -- $queue
        file=$1
        shift
        queue=$*
        [ -f "$file" ] || continue
        for header in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file"); do
            case " $files " in *" $header "*) continue ;; esac
            [ -f "$header" ] || continue
            files="$files $header" queue="$queue $header"
        done
    done
    for file in $files; do
        case " $seen " in *" $file "*) continue ;; esac
        seen="$seen $file"
        [ -f "$file" ] || continue
        found=$(grep -inE "^[[:space:]]*#[[:space:]]*include[[:space:]]*([<\"]$windows[>\"]|[<\"]([^>\"]*/)?win32/)" "$file")
        [ -n "$found" ] || continue
        via=
        [ "$file" = "$source" ] || via=", which portable $source includes"
        echo "$found" | sed "s|^|$file:|; s|\$| (a Windows header in a portable file$via)|"
        status=2
    done
done
[ $status -ne 2 ] || echo "check-layering: portable files must build on the host: no Windows header, nothing of a win32/ folder (cmake/portable.cmake)" >&2
[ $status -eq 0 ] || exit 1
