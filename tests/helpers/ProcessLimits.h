#pragma once

#include <juce_core/juce_core.h>

#include <sys/resource.h>

/** Lowers one resource limit of this whole process for as long as it lives, so that a test can
    meet what a user meets on a machine short of memory or disk: an allocation that answers null,
    a write that stops part-way. Only for tests that run alone in their process.
*/
class ScopedProcessLimit
{
public:
    /** Allocations fail once the address space grows by more than headroomBytes from now. */
    static ScopedProcessLimit addressSpace (size_t headroomBytes)   { return { RLIMIT_AS, headroomBytes }; }

    /** No file can grow past maxBytes; writes beyond fail with EFBIG instead of a signal. */
    static ScopedProcessLimit fileSize (juce::int64 maxBytes)       { return { RLIMIT_FSIZE, (rlim_t) maxBytes }; }

    ~ScopedProcessLimit()                                           { ::setrlimit (resource, &previous); }

private:
    ScopedProcessLimit (int resource, rlim_t newLimit);

    const int resource;
    rlimit previous {};

    JUCE_DECLARE_NON_COPYABLE (ScopedProcessLimit)
};
