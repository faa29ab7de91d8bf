#pragma once

#include "PedalFirmware.h"
#include "UsbDeviceDescription.h"

#include <functional>

typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

/** Answers the usbfs ioctls of one simulated pedal as the kernel would: configurations,
    interface claims and alternate settings, control requests for descriptors, and bulk URBs,
    which its firmware answers. Each opened file of the device node (in this process or in a
    child) is one umockdev client; claims and URBs belong to their client.

    The answers are given on umockdev's thread; the state shared with the test thread sits
    behind one lock, and nothing in the responder ever waits.
*/
class UsbfsResponder
{
public:
    struct ControlRequest
    {
        enum class Kind { setConfiguration, claimInterface, releaseInterface, setInterface };

        Kind kind = Kind::setConfiguration;
        int value = 0;          // configuration value or interface number
        int alternate = 0;      // the alternate setting, for setInterface
        int error = 0;          // 0 when accepted, else the errno the host got
    };

    /** The firmware pulling the pedal out is told through pulledOut, on umockdev's thread. */
    UsbfsResponder (const UsbDeviceDescription&, std::shared_ptr<PedalFirmware>, juce::File configurationAttribute,
                    std::function<void()> pulledOut);

    /** Hands a handler's requests to a responder kept alive for as long as umockdev may call it. */
    static void serve (UMockdevIoctlBase* handler, std::shared_ptr<UsbfsResponder> responder);

    /** Opens served from now on belong to a newly plugged device. */
    void plugIn();

    /** Pending URBs fail with -ESHUTDOWN, every later ioctl of an earlier open with ENODEV. */
    void pullOut()                                              { const Lock l (mutex); pullOutLocked(); }

    std::vector<ControlRequest> getControlRequests() const      { const Lock l (mutex); return controlRequests; }

    /** URBs submitted and not yet completed: a host waiting on the device has one. */
    int countPendingUrbs() const        { const Lock l (mutex); return (int) std::count_if (urbs.begin(), urbs.end(), [] (const Urb& u) { return ! u.done; }); }

private:
    using Lock = std::lock_guard<std::mutex>;
    struct Unref { void operator() (void* object) const; };
    using DataRef = std::unique_ptr<UMockdevIoctlData, Unref>;

    struct Client
    {
        std::unique_ptr<UMockdevIoctlClient, Unref> ref;
        bool gone = false;      // opened before the last unplug
        bool claimed = false;
    };

    struct Urb
    {
        UMockdevIoctlClient* client = nullptr;
        DataRef urb, buffer;    // local copies, written back to the client when it reaps the URB
        bool done = false;
    };

    bool handle (UMockdevIoctlClient*);
    Client& clientInfo (UMockdevIoctlClient*);
    int control (ControlRequest::Kind, int value, int alternate, Client&);
    int submit (UMockdevIoctlClient*, Client&, UMockdevIoctlData* arg);
    void serveInUrbs();
    bool reap (UMockdevIoctlClient*, bool gone, UMockdevIoctlData* arg);
    void finish (Urb&, int status, int length, const std::vector<juce::uint8>& data = {}, size_t offset = 0);
    void pullOutLocked (bool byFirmware = false);

    const UsbDeviceDescription description;
    const std::shared_ptr<PedalFirmware> firmware;
    const juce::File configurationAttribute;
    const std::function<void()> pulledOut;

    mutable std::mutex mutex;
    bool present = false;
    int activeConfiguration = -1, alternateSetting = 0;
    std::map<UMockdevIoctlClient*, Client> clients;
    std::deque<Urb> urbs;
    std::vector<ControlRequest> controlRequests;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UsbfsResponder)
};
