#pragma once

#include "helpers/WaitFor.h"

#include <juce_core/juce_core.h>

#include <sys/types.h>

/** A program started as a child of the test, living in the test's UsbTestbed: it inherits
    UMOCKDEV_DIR and gets the umockdev preload (behind the sanitizer runtime and libX11 when
    the test is built with one), so its libusb sees the simulated devices and its ioctls are
    answered by the responders in this process. Its standard output and error go to a file
    read by getOutput().

    Create the UsbTestbed first; a child still running when this object goes is killed.
*/
class TestbedChildProcess
{
public:
    TestbedChildProcess() = default;
    ~TestbedChildProcess();

    bool start (const juce::String& program, const juce::StringArray& arguments);

    /** Waits (keeping the message loop going on the message thread) until the child has ended. */
    bool waitForExit (int timeoutMs)        { return waitFor ([this] { return ! isRunning(); }, timeoutMs); }

    bool isRunning()                        { return pid > 0 && ! reap (false); }

    /** The exit code of a child that ended normally, else -1. */
    int getExitCode() const noexcept        { return exitCode; }

    juce::String getOutput() const          { return output.getFile().loadFileAsString(); }

private:
    bool reap (bool block);

    pid_t pid = -1;
    int exitCode = -1;
    juce::TemporaryFile output;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TestbedChildProcess)
};
