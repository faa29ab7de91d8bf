namespace juce
{

KuvLibUSBManager* KuvLibUSBManager::shardManager = nullptr;
std::atomic<libusb_context*> KuvLibUSBManager::activeContext { nullptr };

KuvLibUSBManager* KuvLibUSBManager::getSharedManager()
{
    if (shardManager == nullptr)
        shardManager = new KuvLibUSBManager();

    return shardManager;
}

libusb_context* KuvLibUSBManager::getActiveContext() noexcept
{
    return activeContext.load();
}

KuvLibUSBManager::KuvLibUSBManager()
    : Thread ("libusb")
{
    if (libusb_init (&usbContext) != 0)
        usbContext = nullptr;

    activeContext.store (usbContext);
    startThread();
}

KuvLibUSBManager::~KuvLibUSBManager()
{
    signalThreadShouldExit();

    if (usbContext != nullptr)
    {
        for (auto& row : supportedDevices)
        {
            libusb_hotplug_deregister_callback (usbContext, row.arrivalHandle);
            libusb_hotplug_deregister_callback (usbContext, row.departureHandle);
        }
    }

    supportedDevices.clear();

    {
        const ScopedLock sl (listenerLock);
        hotPlugListeners.clear();
    }

    stopThread (1500);

    if (usbContext != nullptr)
    {
        activeContext.store (nullptr);
        libusb_exit (usbContext);
        usbContext = nullptr;
    }
}

bool KuvLibUSBManager::hasHotPlug() const noexcept
{
    return usbContext != nullptr && libusb_has_capability (LIBUSB_CAP_HAS_HOTPLUG) != 0;
}

void KuvLibUSBManager::addSupportedDevice (uint16 vendorId, uint16 productId)
{
    for (auto& row : supportedDevices)
        if (row.vendorId == vendorId && row.productId == productId)
            return;

    _USB_SupportedDevice row;
    row.vendorId = vendorId;
    row.productId = productId;

    if (hasHotPlug())
    {
        const auto arrived = libusb_hotplug_register_callback (usbContext, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED,
                                                               0, vendorId, productId, LIBUSB_HOTPLUG_MATCH_ANY,
                                                               hotplug_callback, this, &row.arrivalHandle);
        if (arrived == 0)
        {
            if (libusb_hotplug_register_callback (usbContext, LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
                                                  0, vendorId, productId, LIBUSB_HOTPLUG_MATCH_ANY,
                                                  hotplug_callback_detach, this, &row.departureHandle) != 0)
                row.departureHandle = noRegistration;
        }
        else
        {
            row.arrivalHandle = noRegistration;
        }
    }

    supportedDevices.add (row);
}

void KuvLibUSBManager::addHotPlugListener (Listener* listener)
{
    const ScopedLock sl (listenerLock);
    hotPlugListeners.add (listener);
}

void KuvLibUSBManager::run()
{
    if (! hasHotPlug())
        return;

    while (! threadShouldExit())
    {
        timeval timeout { 0, 500000 };
        libusb_handle_events_timeout (usbContext, &timeout);
    }
}

void KuvLibUSBManager::callListeners (HotPlugEvent event)
{
    const ScopedLock sl (listenerLock);

    for (int i = 0; i < hotPlugListeners.size(); ++i)
        if (auto* listener = hotPlugListeners.getUnchecked (i))
            listener->hotPlugEvent (event);
}

int LIBUSB_CALL KuvLibUSBManager::hotplug_callback (libusb_context*, libusb_device*, libusb_hotplug_event, void* userData)
{
    static_cast<KuvLibUSBManager*> (userData)->callListeners (deviceArrived);
    return 0;
}

int LIBUSB_CALL KuvLibUSBManager::hotplug_callback_detach (libusb_context*, libusb_device*, libusb_hotplug_event, void* userData)
{
    static_cast<KuvLibUSBManager*> (userData)->callListeners (deviceLeft);
    return 0;
}

} // namespace juce
