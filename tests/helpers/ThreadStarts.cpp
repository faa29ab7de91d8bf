#include "ThreadStarts.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <utility>

namespace
{
    using ThreadBody = void* (*) (void*);

    std::atomic<bool> failNextStart { false };
    std::mutex gate;        // locked by the test's thread while starts are held
    bool holding = false;   // touched by the test's thread only

    using Start = std::pair<ThreadBody, void*>;   // a std::thread's body and its argument

    void* runWhenGateOpens (void* start)
    {
        const std::unique_ptr<Start> owned (static_cast<Start*> (start));
        gate.lock();     // waits while the test holds it
        gate.unlock();
        return owned->first (owned->second);
    }
}

extern "C" int pthread_create (pthread_t* thread, const pthread_attr_t* attributes, ThreadBody body, void* argument) noexcept
{
    using CreateFunction = int (*) (pthread_t*, const pthread_attr_t*, ThreadBody, void*);
    static const auto systemCreate = reinterpret_cast<CreateFunction> (dlsym (RTLD_NEXT, "pthread_create"));

    // std::thread hands pthread_create a trampoline that lives in the C++ runtime library.
    Dl_info info {};

    if (dladdr (reinterpret_cast<void*> (body), &info) == 0 || info.dli_fname == nullptr
        || std::strstr (info.dli_fname, "libstdc++") == nullptr)
        return systemCreate (thread, attributes, body, argument);

    if (failNextStart.exchange (false))
        return EAGAIN;

    auto start = std::make_unique<Start> (body, argument);
    const auto result = systemCreate (thread, attributes, runWhenGateOpens, start.get());

    if (result == 0)
        start.release();

    return result;
}

void ThreadStarts::failNext()   { failNextStart.store (true); }
void ThreadStarts::hold()       { gate.lock(); holding = true; }

void ThreadStarts::release()
{
    if (std::exchange (holding, false))
        gate.unlock();
}
