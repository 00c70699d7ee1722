// tsextract <archive> <folder> [threads]: unpacks a 7z archive with Setup's own extraction
// (one thread per processor unless given) and exits with its result code (0 success).
#include "app/setup/payload.h"

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: tsextract <archive> <folder> [threads]\n");
        return 100;
    }
    const unsigned threads = argc == 4 ? static_cast<unsigned>(wcstoul(argv[3], nullptr, 10)) : 0;
    return ts::app::setupInstall::extractArchive(argv[1], argv[2], nullptr, threads);
}
