#include "ProcessLimits.h"

#include <gtest/gtest.h>

#include <csignal>

// Without this a sanitizer ends the process where the allocator answers null, and the program's
// own handling of a failed allocation could not be tested under it. Defined here because this
// file is linked into every binary that lowers a limit.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}

// ThreadSanitizer reads the same option under its own name.
extern "C" const char* __tsan_default_options() __attribute__ ((alias ("__asan_default_options")));

ScopedProcessLimit::ScopedProcessLimit (int resourceToLimit, rlim_t newLimit)
    : resource (resourceToLimit)
{
    // The address space's limit is headroom above its size now: the first number in statm, in pages.
    if (resource == RLIMIT_AS)
        newLimit += (rlim_t) juce::File ("/proc/self/statm").loadFileAsString().getLargeIntValue() * (rlim_t) ::sysconf (_SC_PAGESIZE);

    // The signal would end the process at a write past a file size limit; ignored, the write fails with
    // EFBIG as on a full disk. Nothing else sends it.
    std::signal (SIGXFSZ, SIG_IGN);

    ::getrlimit (resource, &previous);
    const rlimit limit { std::min (newLimit, previous.rlim_max), previous.rlim_max };
    EXPECT_EQ (::setrlimit (resource, &limit), 0) << "cannot lower resource limit " << resource;
}
