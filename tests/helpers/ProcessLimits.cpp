#include "ProcessLimits.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

#if defined (__SANITIZE_ADDRESS__)
 #define QUENDRIX_ADDRESS_SANITIZER 1
#elif defined (__has_feature)
 #if __has_feature (address_sanitizer)
  #define QUENDRIX_ADDRESS_SANITIZER 1
 #endif
#endif

// Without this a sanitizer ends the process where the real allocator answers null, and the
// program's own handling of a failed allocation could not be tested under it. Defined here
// because this file is linked into every binary whose tests lower the limit.
#if QUENDRIX_ADDRESS_SANITIZER
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}
#elif defined (__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options()
{
    return "allocator_may_return_null=1";
}
#endif

namespace
{
rlim_t currentAddressSpace()
{
    std::ifstream statm ("/proc/self/statm");
    unsigned long long pages = 0;
    statm >> pages;
    return (rlim_t) (pages * (unsigned long long) ::sysconf (_SC_PAGESIZE));
}
}

ScopedProcessLimit ScopedProcessLimit::addressSpace (size_t headroomBytes)
{
    return ScopedProcessLimit (RLIMIT_AS, currentAddressSpace() + headroomBytes);
}

ScopedProcessLimit ScopedProcessLimit::fileSize (juce::int64 maxBytes)
{
    return ScopedProcessLimit (RLIMIT_FSIZE, (rlim_t) maxBytes);
}

ScopedProcessLimit::ScopedProcessLimit (int resourceToLimit, rlim_t newLimit)
    : resource (resourceToLimit)
{
    EXPECT_EQ (::getrlimit (resource, &previous), 0);

    if (resource == RLIMIT_FSIZE)
    {
        previousSignalHandler = std::signal (SIGXFSZ, SIG_IGN);
        ignoresSignal = true;
    }

    auto limit = previous;
    limit.rlim_cur = std::min (newLimit, previous.rlim_max);
    EXPECT_EQ (::setrlimit (resource, &limit), 0) << "cannot lower resource limit " << resource;
}

ScopedProcessLimit::~ScopedProcessLimit()
{
    ::setrlimit (resource, &previous);

    if (ignoresSignal)
        std::signal (SIGXFSZ, previousSignalHandler);
}
