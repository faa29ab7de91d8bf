#include "QuitSignal.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace
{
    // Written by the handler, read on the message thread: a write is all a handler may safely do.
    int wakeUpPipe[2] { -1, -1 };

    void wakeMessageThread (int)
    {
        const auto savedErrno = errno;
        const char byte = 0;
        [[maybe_unused]] const auto written = ::write (wakeUpPipe[1], &byte, 1);
        errno = savedErrno;
    }

    constexpr int busyPollMs = 50;
}

QuitSignal::QuitSignal (std::function<bool()> busy, std::function<void()> quitNow)
    : isBusy (std::move (busy)), quit (std::move (quitNow))
{
   #if JUCE_LINUX
    if (::pipe2 (wakeUpPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;

    juce::LinuxEventLoop::registerFdCallback (wakeUpPipe[0], [this] (int fd)
    {
        char bytes[16];

        while (::read (fd, bytes, sizeof (bytes)) > 0)
        {
        }

        timerCallback();
    });

    struct sigaction action {};
    action.sa_handler = wakeMessageThread;
    sigemptyset (&action.sa_mask);
    action.sa_flags = SA_RESTART;
    installed = ::sigaction (SIGINT, &action, &previousAction) == 0;
   #endif
}

QuitSignal::~QuitSignal()
{
    stopTimer();

   #if JUCE_LINUX
    if (installed)
        ::sigaction (SIGINT, &previousAction, nullptr);

    if (wakeUpPipe[0] >= 0)
    {
        juce::LinuxEventLoop::unregisterFdCallback (wakeUpPipe[0]);

        for (auto& end : wakeUpPipe)
        {
            ::close (end);
            end = -1;
        }
    }
   #endif
}

void QuitSignal::timerCallback()
{
    if (isBusy())
    {
        if (! isTimerRunning())
            startTimer (busyPollMs);

        return;
    }

    stopTimer();
    quit();
}
