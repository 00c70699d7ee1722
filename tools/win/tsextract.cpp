// tsextract <archive> <folder>: unpacks a 7z archive with Setup's own extraction and
// exits with its result code (0 success).
#include "app/setup/payload.h"

#include <cstdio>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: tsextract <archive> <folder>\n");
        return 100;
    }
    return ts::app::setupInstall::extractArchive(argv[1], argv[2]);
}
