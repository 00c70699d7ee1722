// tslog: turns enciphered log files back into text. Usage: tslog [file...] (none or "-":
// standard input). Exit code 0 when every line decoded, 1 when some did not, 2 when a
// file could not be opened.
#include "sys/libutils/logreader.h"
#include "sys/libutils/win32/library.h"

#include <fcntl.h>
#include <io.h>
#include <cstdio>
#include <iostream>

int wmain(int argc, wchar_t** argv)
{
    // May run elevated from a folder others can write to.
    ts::sys::win32::restrictDllSearch();
    _setmode(_fileno(stdin), _O_BINARY);
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i)
        files.emplace_back(argv[i]);
    return ts::sys::logreader::runTslog(files, std::cin, std::cout, std::cerr);
}
