#include "ProcessLimits.h"

#include <gtest/gtest.h>

#include <csignal>

// Without this a sanitizer ends the process where the allocator answers null, and the program's
// own handling of a failed allocation could not be tested under it. Each sanitizer reads only its
// own; they are defined here because this file is linked into every binary that lowers a limit.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}

extern "C" const char* __tsan_default_options()
{
    return "allocator_may_return_null=1";
}

ScopedProcessLimit ScopedProcessLimit::addressSpace (size_t headroomBytes)
{
    // The first number there is the size of the address space now, in pages.
    const auto pages = juce::File ("/proc/self/statm").loadFileAsString().getLargeIntValue();
    return ScopedProcessLimit (RLIMIT_AS, (rlim_t) pages * (rlim_t) ::sysconf (_SC_PAGESIZE) + headroomBytes);
}

ScopedProcessLimit ScopedProcessLimit::fileSize (juce::int64 maxBytes)
{
    // The signal would end the process; ignored, the write fails with EFBIG as on a full disk.
    std::signal (SIGXFSZ, SIG_IGN);
    return ScopedProcessLimit (RLIMIT_FSIZE, (rlim_t) maxBytes);
}

ScopedProcessLimit::ScopedProcessLimit (int resourceToLimit, rlim_t newLimit)
    : resource (resourceToLimit)
{
    ::getrlimit (resource, &previous);
    auto limit = previous;
    limit.rlim_cur = std::min (newLimit, previous.rlim_max);
    EXPECT_EQ (::setrlimit (resource, &limit), 0) << "cannot lower resource limit " << resource;
}

ScopedProcessLimit::~ScopedProcessLimit()
{
    ::setrlimit (resource, &previous);
}
