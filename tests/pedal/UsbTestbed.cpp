#include "UsbTestbed.h"

#include <gtest/gtest.h>
#include <umockdev.h>

namespace
{
/** umockdev reports through GError; a test learns of it as a failure. */
bool succeeded (gboolean result, GError* error, const char* what)
{
    if (error != nullptr)
    {
        ADD_FAILURE() << what << ": " << error->message;
        g_error_free (error);
        return false;
    }

    return result != FALSE;
}
}

UsbTestbed::UsbTestbed()
{
    testbed = umockdev_testbed_new();
    jassert (testbed != nullptr);

    auto* root = umockdev_testbed_get_root_dir (testbed);
    rootDirectory = juce::File (juce::CharPointer_UTF8 (root));
    g_free (root);

    jobThread = std::thread ([this] { serveJobs(); });
}

UsbTestbed::~UsbTestbed()
{
    {
        const std::lock_guard<std::mutex> lock (jobLock);
        stopping = true;
    }

    jobsChanged.notify_all();
    jobThread.join();

    const std::lock_guard<std::mutex> lock (testbedLock);
    g_object_unref (testbed);
}

juce::File UsbTestbed::getRootDirectory() const
{
    return rootDirectory;
}

bool UsbTestbed::reserveAddress (int busNumber, int address)
{
    const std::lock_guard<std::mutex> lock (testbedLock);
    return reservedAddresses.insert ({ busNumber, address }).second;
}

void UsbTestbed::releaseAddress (int busNumber, int address)
{
    const std::lock_guard<std::mutex> lock (testbedLock);
    reservedAddresses.erase ({ busNumber, address });
}

bool UsbTestbed::attachIoctlHandler (const juce::String& devicePath, UMockdevIoctlBase* handler)
{
    const std::lock_guard<std::mutex> lock (testbedLock);
    GError* error = nullptr;
    const auto attached = umockdev_testbed_attach_ioctl (testbed, devicePath.toRawUTF8(), handler, &error);
    return succeeded (attached, error, "attaching an ioctl handler");
}

void UsbTestbed::detachIoctlHandler (const juce::String& devicePath)
{
    const std::lock_guard<std::mutex> lock (testbedLock);
    GError* error = nullptr;
    succeeded (umockdev_testbed_detach_ioctl (testbed, devicePath.toRawUTF8(), &error), error, "detaching an ioctl handler");

    // The listener is cancelled but its socket file stays; a later device at the same
    // address binds the path again.
    rootDirectory.getChildFile ("ioctl" + devicePath).deleteFile();
}

bool UsbTestbed::addFromRecord (const juce::String& record)
{
    const std::lock_guard<std::mutex> lock (testbedLock);
    GError* error = nullptr;
    const auto added = umockdev_testbed_add_from_string (testbed, record.toRawUTF8(), &error);
    return succeeded (added, error, "adding a device");
}

void UsbTestbed::removeDevice (const juce::String& sysfsPath)
{
    const std::lock_guard<std::mutex> lock (testbedLock);
    const auto fullPath = "/sys" + sysfsPath;

    // libusb must hear of the removal while it can still read the device's attributes.
    umockdev_testbed_uevent (testbed, fullPath.toRawUTF8(), "remove");
    umockdev_testbed_remove_device (testbed, fullPath.toRawUTF8());
}

void UsbTestbed::runOnTestbedThread (std::function<void()> job)
{
    {
        const std::lock_guard<std::mutex> lock (jobLock);
        jobs.push_back (std::move (job));
    }

    jobsChanged.notify_all();
}

void UsbTestbed::waitForTestbedThread()
{
    std::unique_lock<std::mutex> lock (jobLock);
    jobsChanged.wait (lock, [this] { return jobs.empty() && ! jobRunning; });
}

void UsbTestbed::serveJobs()
{
    std::unique_lock<std::mutex> lock (jobLock);

    for (;;)
    {
        jobsChanged.wait (lock, [this] { return stopping || ! jobs.empty(); });

        if (jobs.empty())
            return;

        auto job = std::move (jobs.front());
        jobs.pop_front();
        jobRunning = true;
        lock.unlock();

        job();

        lock.lock();
        jobRunning = false;
        jobsChanged.notify_all();
    }
}
