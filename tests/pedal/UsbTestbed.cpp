#include "UsbTestbed.h"

#include <umockdev.h>

UsbTestbed::UsbTestbed()
    : testbed (umockdev_testbed_new())
{
    auto* root = umockdev_testbed_get_root_dir (testbed);
    rootDirectory = juce::File (juce::CharPointer_UTF8 (root));
    g_free (root);
}

UsbTestbed::~UsbTestbed()
{
    g_object_unref (testbed);
}

bool UsbTestbed::attachIoctlHandler (const juce::String& devicePath, UMockdevIoctlBase* handler)
{
    const std::lock_guard<std::mutex> guard (lock);
    return umockdev_testbed_attach_ioctl (testbed, devicePath.toRawUTF8(), handler, nullptr) != FALSE;
}

void UsbTestbed::detachIoctlHandler (const juce::String& devicePath)
{
    const std::lock_guard<std::mutex> guard (lock);
    umockdev_testbed_detach_ioctl (testbed, devicePath.toRawUTF8(), nullptr);

    // The listener is cancelled but its socket file stays; a later device at the same
    // address binds the path again.
    rootDirectory.getChildFile ("ioctl" + devicePath).deleteFile();
}

bool UsbTestbed::addFromRecord (const juce::String& record)
{
    const std::lock_guard<std::mutex> guard (lock);
    return umockdev_testbed_add_from_string (testbed, record.toRawUTF8(), nullptr) != FALSE;
}

void UsbTestbed::removeDevice (const juce::String& sysfsPath)
{
    const std::lock_guard<std::mutex> guard (lock);
    const auto fullPath = "/sys" + sysfsPath;

    // libusb must hear of the removal while it can still read the device's attributes.
    umockdev_testbed_uevent (testbed, fullPath.toRawUTF8(), "remove");
    umockdev_testbed_remove_device (testbed, fullPath.toRawUTF8());
}
