#pragma once

namespace juce
{

/** The one owner of the USB library context. Its "libusb" thread serves the library's events,
    so hot-plug arrivals and departures of the supported devices reach every listener.
*/
class KuvLibUSBManager : public Thread
{
public:
    enum HotPlugEvent
    {
        deviceArrived = 1,
        deviceLeft = 2
    };

    struct _USB_SupportedDevice
    {
        uint16 vendorId = 0;
        uint16 productId = 0;
        libusb_hotplug_callback_handle arrivalHandle = noRegistration;
        libusb_hotplug_callback_handle departureHandle = noRegistration;
    };

    class Listener
    {
    public:
        virtual ~Listener() = default;

        /** Called on the "libusb" thread. */
        virtual void hotPlugEvent (HotPlugEvent event) = 0;
    };

    /** The library numbers its registrations from 1, so this never names one. */
    static constexpr libusb_hotplug_callback_handle noRegistration = 0;

    /** Null while there is no manager; whoever deletes the manager sets it back to null. */
    static KuvLibUSBManager* shardManager;

    /** Creates the manager on first use. Message thread only. */
    static KuvLibUSBManager* getSharedManager();

    /** The context of the living manager, or null: readable from any thread. */
    static libusb_context* getActiveContext() noexcept;

    KuvLibUSBManager();
    ~KuvLibUSBManager() override;

    void addSupportedDevice (uint16 vendorId, uint16 productId);
    void addHotPlugListener (Listener* listener);

    void run() override;

    static int LIBUSB_CALL hotplug_callback (libusb_context*, libusb_device*, libusb_hotplug_event, void* userData);
    static int LIBUSB_CALL hotplug_callback_detach (libusb_context*, libusb_device*, libusb_hotplug_event, void* userData);

    /** Null when the library could not be initialised: the manager then finds and reports nothing. */
    libusb_context* usbContext = nullptr;
    Array<KuvLibUSB_Device::_USB_DeviceFeature> deviceList;
    Array<_USB_SupportedDevice> supportedDevices;

    /** Walked on the "libusb" thread; changed on the message thread, both under listenerLock. */
    Array<Listener*> hotPlugListeners;

private:
    void callListeners (HotPlugEvent event);
    bool hasHotPlug() const noexcept;

    CriticalSection listenerLock;
    static std::atomic<libusb_context*> activeContext;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (KuvLibUSBManager)
};

} // namespace juce
