#include "helpers/UsbFixture.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

using juce::KuvLibUSBManager;
using UsbManagerTest = UsbFixture;

namespace
{
/** Whether the manager's thread sits in poll(), the wait inside the library's event handling. */
bool libusbThreadIsPolling()
{
    for (auto& task : juce::File ("/proc/self/task").findChildFiles (juce::File::findDirectories, false))
        if (task.getChildFile ("comm").loadFileAsString().trim() == "libusb")
            return task.getChildFile ("syscall").loadFileAsString().upToFirstOccurrenceOf (" ", false, false)
                     == juce::String (SYS_poll);

    return false;
}

/** While it lives, the process cannot open another file. */
class FileDescriptorsExhausted
{
public:
    FileDescriptorsExhausted()
    {
        getrlimit (RLIMIT_NOFILE, &saved);
        const auto lowestFree = dup (0);
        close (lowestFree);

        auto limited = saved;
        limited.rlim_cur = (rlim_t) lowestFree;
        setrlimit (RLIMIT_NOFILE, &limited);
    }

    ~FileDescriptorsExhausted()
    {
        setrlimit (RLIMIT_NOFILE, &saved);
    }

private:
    rlimit saved {};
};
}

TEST_F (UsbManagerTest, HotPlugEventsReachEveryListenerOncePerEntry)
{
    auto& usb = createManager();
    CountingListener twice, once;

    usb.addSupportedDevice (pedalVendor, pedalProduct);
    usb.addSupportedDevice (pedalVendor, pedalProduct);
    usb.addHotPlugListener (&twice);
    usb.addHotPlugListener (nullptr);
    usb.addHotPlugListener (&once);
    usb.addHotPlugListener (&twice);

    ASSERT_EQ (usb.supportedDevices.size(), 1);

    auto& pedal = addPedal();
    ASSERT_TRUE (waitFor ([&] { return twice.arrivals == 2 && once.arrivals == 1; }));

    pedal.unplug();
    ASSERT_TRUE (waitFor ([&] { return twice.departures == 2 && once.departures == 1; }));

    // Events arrive in order, so a second registration's arrival would have come by now.
    EXPECT_EQ (twice.arrivals, 2);
    EXPECT_EQ (once.arrivals, 1);
}

TEST_F (UsbManagerTest, HotPlugEventsOnlyForSupportedIds)
{
    auto& usb = createWatchingManager();

    auto other = pedalAt (1, 9);
    other.productId = 0x0085;
    addPedal (other);
    addPedal();

    ASSERT_TRUE (waitFor ([&] { return hotPlug.arrivals >= 1 && pedals[0]->isListedIn (usb.usbContext); }));
    EXPECT_EQ (hotPlug.arrivals, 1);

    pedals[0]->unplug();
    pedals[1]->unplug();
    ASSERT_TRUE (waitFor ([&] { return hotPlug.departures >= 1 && ! pedals[0]->isListedIn (usb.usbContext); }));
    EXPECT_EQ (hotPlug.departures, 1);
}

TEST_F (UsbManagerTest, DevicePresentBeforeRegistrationReportsOnlyItsDeparture)
{
    auto& pedal = addPedal();
    auto& usb = createManager();
    CountingListener listener;
    usb.addHotPlugListener (&listener);
    usb.addSupportedDevice (pedalVendor, pedalProduct);
    ASSERT_TRUE (pedal.isListedIn (usb.usbContext));

    pedal.unplug();
    ASSERT_TRUE (waitFor ([&] { return listener.departures == 1; }));
    EXPECT_EQ (listener.arrivals, 0);
}

TEST_F (UsbManagerTest, RegistrationHandlesNameTheirRegistrationsOnly)
{
    auto& usb = createManager();
    usb.addSupportedDevice (pedalVendor, pedalProduct);
    const auto row = usb.supportedDevices.getFirst();

    EXPECT_EQ (libusb_hotplug_get_user_data (usb.usbContext, row.arrivalHandle), &usb);
    EXPECT_EQ (libusb_hotplug_get_user_data (usb.usbContext, row.departureHandle), &usb);
    EXPECT_NE (row.arrivalHandle, row.departureHandle);
    EXPECT_EQ (libusb_hotplug_get_user_data (usb.usbContext, KuvLibUSBManager::noRegistration), nullptr);
}

TEST_F (UsbManagerTest, DeletingTheManagerWhileItsThreadWaitsReturnsPromptly)
{
    // Without registrations nothing wakes the thread early: it sits out its whole wait.
    auto& usb = createManager();
    ASSERT_TRUE (waitFor (libusbThreadIsPolling));
    EXPECT_EQ (KuvLibUSBManager::getActiveContext(), usb.usbContext);

    const auto start = juce::Time::getMillisecondCounterHiRes();
    deleteManager();
    const auto elapsed = juce::Time::getMillisecondCounterHiRes() - start;

    // One wait of the thread lasts at most 0.5 s; 1.5 s would mean the thread had to be killed.
    EXPECT_LT (elapsed, 1200.0);
    EXPECT_EQ (KuvLibUSBManager::getActiveContext(), nullptr);
}

TEST_F (UsbManagerTest, FailedLibraryInitialisationLeavesAHarmlessManager)
{
    addPedal();

    // UBSan checks an object's type by probing memory through a pipe, which it cannot make
    // while no file can be opened; a manager made once beforehand has its types known.
    createManager();
    deleteManager();

    {
        const FileDescriptorsExhausted noFiles;
        createManager();
    }

    auto& usb = *manager;
    ASSERT_EQ (usb.usbContext, nullptr);
    EXPECT_EQ (KuvLibUSBManager::getActiveContext(), nullptr);

    usb.addSupportedDevice (pedalVendor, pedalProduct);
    ASSERT_EQ (usb.supportedDevices.size(), 1);
    EXPECT_EQ (usb.supportedDevices[0].arrivalHandle, KuvLibUSBManager::noRegistration);
    EXPECT_EQ (usb.supportedDevices[0].departureHandle, KuvLibUSBManager::noRegistration);

    // A device must not be looked for in a context of the library's own making.
    juce::KuvLibUSB_Device device;
    EXPECT_FALSE (device.open (pedalVendor, pedalProduct, 0xff, 0xff));
    EXPECT_EQ (device.deviceHandle, nullptr);

    EXPECT_TRUE (waitFor ([&] { return ! usb.isThreadRunning(); }));
}
