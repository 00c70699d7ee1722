// tslog for the support engineer's own machine: the same reader as tools/win/tslog.cpp.
#include "sys/libutils/logreader.h"

#include <iostream>

int main(int argc, char** argv)
{
    std::vector<std::filesystem::path> files(argv + 1, argv + argc);
    return ts::sys::logreader::runTslog(files, std::cin, std::cout, std::cerr);
}
