#pragma once

#include <juce_core/juce_core.h>

#include <mutex>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;

/** An emulated sysfs and /dev/bus/usb for the real libusb in this process and in the children
    it starts (they inherit UMOCKDEV_DIR). It must exist before the first libusb_init, and must
    outlive every libusb context and every simulated device made on it. Calls may come from
    any thread.
*/
class UsbTestbed
{
public:
    UsbTestbed();
    ~UsbTestbed();

    juce::File getRootDirectory() const     { return rootDirectory; }

    bool attachIoctlHandler (const juce::String& devicePath, UMockdevIoctlBase* handler);
    void detachIoctlHandler (const juce::String& devicePath);

    /** Adds devices from a umockdev record; the testbed sends their "add" events. */
    bool addFromRecord (const juce::String& record);

    /** Sends "remove", then deletes the sysfs entry and the device node. */
    void removeDevice (const juce::String& sysfsPath);

private:
    std::mutex lock;
    UMockdevTestbed* testbed = nullptr;
    juce::File rootDirectory;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UsbTestbed)
};
