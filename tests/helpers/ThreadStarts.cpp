#include "ThreadStarts.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <pthread.h>

namespace
{
    using ThreadBody = void* (*) (void*);
    using CreateFunction = int (*) (pthread_t*, const pthread_attr_t*, ThreadBody, void*);

    std::atomic<int> startedCount { 0 };
    std::atomic<bool> failNextStart { false };

    std::mutex gateLock;
    std::condition_variable gateOpened;
    bool gateOpen = true;

    bool isStandardThread (ThreadBody body)
    {
        // std::thread hands pthread_create a trampoline that lives in the C++ runtime library.
        Dl_info info {};
        return dladdr (reinterpret_cast<void*> (body), &info) != 0
            && info.dli_fname != nullptr
            && std::strstr (info.dli_fname, "libstdc++") != nullptr;
    }

    struct HeldStart
    {
        ThreadBody body;
        void* argument;
    };

    void* runWhenGateOpens (void* held)
    {
        const std::unique_ptr<HeldStart> start (static_cast<HeldStart*> (held));

        {
            std::unique_lock<std::mutex> lock (gateLock);
            gateOpened.wait (lock, [] { return gateOpen; });
        }

        return start->body (start->argument);
    }
}

extern "C" int pthread_create (pthread_t* thread, const pthread_attr_t* attributes,
                               ThreadBody body, void* argument) noexcept
{
    static const auto systemCreate = reinterpret_cast<CreateFunction> (dlsym (RTLD_NEXT, "pthread_create"));

    if (! isStandardThread (body))
        return systemCreate (thread, attributes, body, argument);

    if (failNextStart.exchange (false))
        return EAGAIN;

    bool held;

    {
        const std::lock_guard<std::mutex> lock (gateLock);
        held = ! gateOpen;
    }

    int result;

    if (held)
    {
        auto start = std::make_unique<HeldStart> (HeldStart { body, argument });
        result = systemCreate (thread, attributes, runWhenGateOpens, start.get());

        if (result == 0)
            start.release();
    }
    else
    {
        result = systemCreate (thread, attributes, body, argument);
    }

    if (result == 0)
        ++startedCount;

    return result;
}

namespace ThreadStarts
{

int started()       { return startedCount.load(); }
void failNext()     { failNextStart.store (true); }

void hold()
{
    const std::lock_guard<std::mutex> lock (gateLock);
    gateOpen = false;
}

void release()
{
    {
        const std::lock_guard<std::mutex> lock (gateLock);
        gateOpen = true;
    }

    gateOpened.notify_all();
}

} // namespace ThreadStarts
