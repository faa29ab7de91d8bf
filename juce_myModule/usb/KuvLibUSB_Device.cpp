namespace juce
{

KuvLibUSB_Device::KuvLibUSB_Device() = default;

KuvLibUSB_Device::~KuvLibUSB_Device()
{
    libusb_close (deviceHandle);
    deviceHandle = nullptr;
    endpointAddresses.clear();
}

libusb_context* KuvLibUSB_Device::contextToUse() const noexcept
{
    return usbContext != nullptr ? usbContext : KuvLibUSBManager::getActiveContext();
}

bool KuvLibUSB_Device::open (uint16 vendorId, uint16 productId, uint8 busNumber, uint8 deviceAddress)
{
    auto* context = contextToUse();

    // Without the manager's context there is nothing to look in: a null context would make the
    // library fall back to its own default one.
    if (context == nullptr)
        return false;

    libusb_device** list = nullptr;
    const auto count = libusb_get_device_list (context, &list);

    if (count < 1)
    {
        if (count == 0)
            libusb_free_device_list (list, 1);

        return false;
    }

    const bool anyPosition = busNumber == 0xff && deviceAddress == 0xff;
    libusb_device* match = nullptr;
    libusb_device_descriptor matchDescriptor {};

    for (ssize_t i = 0; i < count && match == nullptr; ++i)
    {
        auto* entry = list[i];
        libusb_device_descriptor descriptor {};

        if (entry == nullptr || libusb_get_device_descriptor (entry, &descriptor) < 0)
            continue;

        if (descriptor.idVendor != vendorId || descriptor.idProduct != productId)
            continue;

        if (! anyPosition && (libusb_get_bus_number (entry) != busNumber
                               || libusb_get_device_address (entry) != deviceAddress))
            continue;

        match = entry;
        matchDescriptor = descriptor;
    }

    if (match == nullptr)
    {
        libusb_free_device_list (list, 1);
        return false;
    }

    if (libusb_open (match, &deviceHandle) != 0 || deviceHandle == nullptr)
        deviceHandle = nullptr;

    libusb_free_device_list (list, 1);
    deviceDescriptor = matchDescriptor;
    return deviceHandle != nullptr;
}

bool KuvLibUSB_Device::selectAlterate (int, int, int)
{
    if (deviceHandle == nullptr)
        return false;

    auto* device = libusb_get_device (deviceHandle);
    libusb_config_descriptor* config = nullptr;

    const auto fail = [&config]
    {
        libusb_free_config_descriptor (config);
        return false;
    };

    if (deviceDescriptor.bNumConfigurations >= 2 && libusb_set_configuration (deviceHandle, 1) != 0)
        return fail();

    if (libusb_get_active_config_descriptor (device, &config) != 0 || config == nullptr)
        return fail();

    if (config->bNumInterfaces == 0 || config->interface == nullptr)
        return fail();

    if (libusb_claim_interface (deviceHandle, 0) != 0)
        return fail();

    const auto& interface0 = config->interface[0];

    if (interface0.num_altsetting >= 2 && libusb_set_interface_alt_setting (deviceHandle, 0, 0) != 0)
        return fail();

    endpointAddresses.clearQuick();

    if (interface0.num_altsetting >= 1 && interface0.altsetting != nullptr)
    {
        const auto& setting = interface0.altsetting[0];

        for (int i = 0; i < setting.bNumEndpoints; ++i)
            endpointAddresses.add (setting.endpoint[i].bEndpointAddress);
    }

    inEndpoint = noEndpoint;
    outEndpoint = noEndpoint;

    for (auto address : endpointAddresses)
    {
        if (outEndpoint == noEndpoint && address <= 0x0f)
            outEndpoint = address;

        if (inEndpoint == noEndpoint && (address & 0xf0) == 0x80)
            inEndpoint = address;
    }

    libusb_free_config_descriptor (config);
    return true;
}

} // namespace juce
