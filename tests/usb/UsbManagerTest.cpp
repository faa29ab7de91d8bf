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

TEST_F (UsbManagerTest, HotPlugEventsOfSupportedIdsReachEveryListenerOncePerEntry)
{
    auto& usb = createManager();
    CountingListener twice, once;

    usb.addSupportedDevice (pedalVendor, pedalProduct);
    usb.addSupportedDevice (pedalVendor, pedalProduct);
    ASSERT_EQ (usb.supportedDevices.size(), 1);

    for (auto* listener : { &twice, (CountingListener*) nullptr, &once, &twice })
        usb.addHotPlugListener (listener);

    auto other = pedalAt (1, 9);
    other.productId = 0x0085;
    auto& foreign = addPedal (other);
    auto& pedal = addPedal();

    // One more joins while that arrival may be walked on the "libusb" thread.
    CountingListener late;
    usb.addHotPlugListener (&late);
    ASSERT_TRUE (waitFor ([&] { return twice.arrivals == 2 && once.arrivals == 1 && foreign.isListedIn (usb.usbContext); }));

    foreign.unplug();
    pedal.unplug();
    ASSERT_TRUE (waitFor ([&] { return twice.departures == 2 && once.departures == 1; }));

    // Events arrive in order, so any further one for either device would have come by now.
    EXPECT_EQ (twice.arrivals, 2);
    EXPECT_EQ (once.arrivals, 1);
    EXPECT_EQ (once.departures, 1);
    EXPECT_EQ (late.departures, 1);
}

TEST_F (UsbManagerTest, DevicePresentBeforeRegistrationReportsOnlyItsDeparture)
{
    auto& pedal = addPedal();
    auto& usb = createManager();
    usb.addHotPlugListener (&hotPlug);
    usb.addSupportedDevice (pedalVendor, pedalProduct);
    ASSERT_TRUE (pedal.isListedIn (usb.usbContext));

    pedal.unplug();
    ASSERT_TRUE (waitFor ([&] { return hotPlug.departures == 1; }));
    EXPECT_EQ (hotPlug.arrivals, 0);
}

TEST_F (UsbManagerTest, DeletingTheManagerWhileItsThreadWaitsReturnsPromptly)
{
    // Without registrations nothing wakes the thread early: it sits out its whole wait.
    auto& usb = createManager();
    ASSERT_TRUE (waitFor (libusbThreadIsPolling));
    EXPECT_EQ (KuvLibUSBManager::getActiveContext(), usb.usbContext);

    const auto start = juce::Time::getMillisecondCounterHiRes();
    deleteManager();

    // One wait of the thread lasts at most 0.5 s; 1.5 s would mean the thread had to be killed.
    EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - start, 1200.0);
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

    // A device must not be looked for in a context of the library's own making.
    juce::KuvLibUSB_Device device;
    EXPECT_FALSE (device.open (pedalVendor, pedalProduct, 0xff, 0xff));
    EXPECT_TRUE (waitFor ([&] { return ! usb.isThreadRunning(); }));
}
