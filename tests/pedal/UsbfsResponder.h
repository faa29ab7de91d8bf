#pragma once

#include "BulkFunction.h"
#include "UsbDeviceDescription.h"

#include <functional>
#include <memory>

typedef struct _UMockdevIoctlBase UMockdevIoctlBase;

/** Answers the usbfs ioctls of one simulated device as the kernel would: configurations,
    interface claims and alternate settings, control requests for descriptors, and bulk URBs,
    which it hands to a BulkFunction. Each opened file of the device node (in this process or
    in a child) is one umockdev client; claims and URBs belong to their client.

    The answers are given on umockdev's thread; the state shared with the test thread sits
    behind one lock, and nothing in the responder ever waits.
*/
class UsbfsResponder
{
public:
    struct ControlRequest
    {
        enum class Kind
        {
            setConfiguration,
            claimInterface,
            releaseInterface,
            setInterface,
            clearHalt,
            resetDevice
        };

        Kind kind = Kind::setConfiguration;
        int value = 0;          // configuration value, interface number or endpoint address
        int alternate = 0;      // the alternate setting, for setInterface
        int error = 0;          // 0 when accepted, else the errno the host got
    };

    struct Callbacks
    {
        /** The host chose another configuration (-1: none). */
        std::function<void (int)> configurationChanged;

        /** The function pulled the device out in the middle of a transfer. */
        std::function<void()> pulledOutByFunction;
    };

    UsbfsResponder (const UsbDeviceDescription& description, std::shared_ptr<BulkFunction> function, Callbacks callbacks);
    ~UsbfsResponder();

    UMockdevIoctlBase* getIoctlHandler() const noexcept;

    /** Opens served from now on belong to a newly plugged device. */
    void plugIn();

    /** Pending URBs fail with -ESHUTDOWN, every later ioctl of an earlier open with ENODEV. */
    void pullOut();

    bool isPresent() const;
    int getActiveConfiguration() const;
    std::vector<ControlRequest> getControlRequests() const;

    /** URBs submitted and not yet completed: a host waiting on the device has one. */
    int countPendingUrbs() const;

private:
    struct State;
    std::shared_ptr<State> state;
    UMockdevIoctlBase* handler = nullptr;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UsbfsResponder)
};
