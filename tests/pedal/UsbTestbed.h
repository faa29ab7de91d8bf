#pragma once

#include <juce_core/juce_core.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;

/** An emulated sysfs and /dev/bus/usb for the real libusb in this process and in the children
    it starts (they inherit UMOCKDEV_DIR). It must exist before the first libusb_init, and must
    outlive every libusb context and every simulated device made on it.

    umockdev answers the devices' ioctls on a thread of its own; this object adds one more
    thread for work a device's responder must not do itself (a device pulling itself out in
    the middle of a transfer). Every call into the testbed is serialised by one lock.
*/
class UsbTestbed
{
public:
    UsbTestbed();
    ~UsbTestbed();

    juce::File getRootDirectory() const;

    /** Reserves a bus/address pair for one device; false when another device has it. */
    bool reserveAddress (int busNumber, int address);
    void releaseAddress (int busNumber, int address);

    bool attachIoctlHandler (const juce::String& devicePath, UMockdevIoctlBase* handler);
    void detachIoctlHandler (const juce::String& devicePath);

    /** Adds devices from a umockdev record; the testbed sends their "add" events. */
    bool addFromRecord (const juce::String& record);

    /** Sends "remove", then deletes the sysfs entry and the device node. */
    void removeDevice (const juce::String& sysfsPath);

    /** Runs a job on the testbed's own thread, in the order given. */
    void runOnTestbedThread (std::function<void()> job);

    /** Blocks until every job handed over so far has run. */
    void waitForTestbedThread();

private:
    void serveJobs();

    mutable std::mutex testbedLock;
    UMockdevTestbed* testbed = nullptr;
    juce::File rootDirectory;
    std::set<std::pair<int, int>> reservedAddresses;

    std::mutex jobLock;
    std::condition_variable jobsChanged;
    std::deque<std::function<void()>> jobs;
    bool jobRunning = false;
    bool stopping = false;
    std::thread jobThread;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UsbTestbed)
};
