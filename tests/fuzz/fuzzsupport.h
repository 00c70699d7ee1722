// What the fuzz targets share: a broken property ends the run, so that its input is kept
// as a finding like a crash's.
#pragma once
#include <cstdio>
#include <cstdlib>

namespace ts { namespace fuzz {

inline void check(bool condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "broken: %s\n", what);
        abort();
    }
}

// Setup prints unknown arguments on standard output; for the targets that parse its
// command line that is only noise.
inline int silenceStandardOutput()
{
    return freopen("/dev/null", "w", stdout) ? 0 : 1;
}

}} // namespace ts::fuzz
