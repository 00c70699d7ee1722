// The per-thread name slot that the logger prints. The Thread class builds on it.
#pragma once
#include <string>

namespace ts { namespace sys {

// Stores a copy of `name` (nothing for null) for the calling thread, freeing the
// previous copy.
void setCurrentThreadName(const char* name);
// The calling thread's name, "" when none is set.
std::string getCurrentThreadName();

}} // namespace ts::sys
