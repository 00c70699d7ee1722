# cmake -DFILE=<exe> -DOBJDUMP=<objdump> -P check-imports.cmake
cmake_policy(SET CMP0057 NEW)
# Fails when the program imports a DLL that Windows would look for beside it: only
# known DLLs of Windows 7 that are still known DLLs in Windows 10 are loaded from the
# system folder whatever the search order. COMCTL32 is not among them although the
# manifest takes it from the side-by-side store: its own imports (uxtheme) would still
# be searched for beside the program. Every other system DLL is loaded at run time from
# the system folder (sys/libutils/win32/library.h).
set(known advapi32 clbcatq comdlg32 difxapi gdi32 imagehlp imm32 kernel32 msctf msvcrt normaliz nsi
    ole32 oleaut32 psapi rpcrt4 sechost setupapi shell32 shlwapi user32 wldap32 ws2_32)
execute_process(COMMAND ${OBJDUMP} -p ${FILE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${FILE} failed")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" names "${dump}")
set(bad)
foreach(line ${names})
    string(REGEX REPLACE "DLL Name: ([^.]+)\\.[dD][lL][lL].*" "\\1" name "${line}")
    string(TOLOWER "${name}" name)
    if(NOT name IN_LIST known)
        list(APPEND bad ${name})
    endif()
endforeach()
if(bad)
    message(FATAL_ERROR "${FILE} imports DLLs that are not known DLLs: ${bad}. "
        "Load them at run time from the system folder instead.")
endif()
