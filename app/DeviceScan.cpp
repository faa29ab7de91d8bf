#include "MainComponent.h"

using namespace juce;

namespace
{
    constexpr int stringBufferSize = 1024;

    /** A string descriptor's text, trimmed; empty when the index is 0 or the read fails. */
    String readStringDescriptor (libusb_device_handle* handle, uint8 index, char* buffer)
    {
        if (index == 0)
            return {};

        const auto length = libusb_get_string_descriptor_ascii (handle, index, (unsigned char*) buffer, stringBufferSize);

        if (length < 1)
            return {};

        return String::fromUTF8 (buffer, (int) strnlen (buffer, (size_t) length)).trim();
    }
}

//==============================================================================
bool MainComponent::isSupported (const libusb_device_descriptor& descriptor) const
{
    const auto ids = (uint32) descriptor.idVendor | ((uint32) descriptor.idProduct << 16);

    for (auto& row : usbManager->supportedDevices)
        if (((uint32) row.vendorId | ((uint32) row.productId << 16)) == ids)
            return true;

    return false;
}

MainComponent::DeviceRecord MainComponent::describeDevice (libusb_device* device,
                                                           const libusb_device_descriptor& descriptor) const
{
    DeviceRecord record;
    record.vendorId = descriptor.idVendor;
    record.productId = descriptor.idProduct;
    record.busNumber = libusb_get_bus_number (device);
    record.deviceAddress = libusb_get_device_address (device);
    record.deviceKey = String::formatted ("%04X %04X %02X %02X", record.vendorId, record.productId,
                                          record.busNumber, record.deviceAddress);

    libusb_device_handle* handle = nullptr;

    // A device that cannot be opened keeps its record but no name, so it is never listed.
    if (libusb_open (device, &handle) != 0 || handle == nullptr)
        return record;

    char text[stringBufferSize] = {};
    record.manufacturerName = readStringDescriptor (handle, descriptor.iManufacturer, text);
    record.productName = readStringDescriptor (handle, descriptor.iProduct, text);
    record.serialNumber = readStringDescriptor (handle, descriptor.iSerialNumber, text);
    record.displayName = record.manufacturerName + " - " + record.productName
                           + String::formatted (" - %02X%02X", record.busNumber, record.deviceAddress);

    libusb_close (handle);
    return record;
}

int MainComponent::getDeviceList()
{
    auto& found = usbManager->deviceList;
    found.clear();

    // Without the manager's context there is nothing to enumerate: a null context would make
    // the library create its default one.
    if (auto* context = usbManager->usbContext)
    {
        libusb_device** list = nullptr;
        const auto count = libusb_get_device_list (context, &list);

        for (ssize_t i = 0; i < count; ++i)
        {
            libusb_device_descriptor descriptor {};

            if (libusb_get_device_descriptor (list[i], &descriptor) < 0 || ! isSupported (descriptor))
                continue;

            found.add (describeDevice (list[i], descriptor));
        }

        if (count >= 0)
            libusb_free_device_list (list, 1);
    }

    {
        const ScopedLock sl (handOverLock);
        deviceRecords = found;
    }

    deviceCombo->clear (sendNotificationAsync);
    slotCombo->clear (sendNotificationAsync);

    int selectedIndex = -1;

    for (int i = 0; i < deviceRecords.size(); ++i)
    {
        const auto& record = deviceRecords.getReference (i);

        if (record.displayName.isEmpty())
            continue;

        deviceCombo->addItem (record.displayName, i + 1);

        if (record.deviceKey == selectedDeviceKey)
        {
            deviceCombo->setSelectedId (i + 1, sendNotificationAsync);
            selectedIndex = i;
        }
    }

    if (selectedIndex < 0)
    {
        const ScopedLock sl (handOverLock);
        selectedDeviceKey.clear();
    }

    return selectedIndex;
}

int MainComponent::selectDevice (int index)
{
    if (! isPositiveAndBelow (index, deviceRecords.size()))
        return -1;

    {
        const ScopedLock sl (handOverLock);
        selectedDeviceKey = deviceRecords.getReference (index).deviceKey;
    }

    deviceCombo->setSelectedId (index + 1, sendNotificationAsync);
    return index;
}

int MainComponent::getCurrentDeviceIndex()
{
    // Called by the workers on their own threads: the scan may be rewriting both members.
    const ScopedLock sl (handOverLock);

    if (selectedDeviceKey.isEmpty())
        return -1;

    for (int i = 0; i < deviceRecords.size(); ++i)
        if (deviceRecords.getReference (i).deviceKey == selectedDeviceKey)
            return i;

    return -1;
}

void MainComponent::comboBoxChanged (ComboBox* comboBox)
{
    // The slot list's changes need no answer: the slot is read when a transfer starts.
    if (comboBox == deviceCombo.get())
        getWaveInfo (selectDevice (deviceCombo->getSelectedId() - 1));
}

//==============================================================================
bool MainComponent::hasDeviceRecords()
{
    const ScopedLock sl (handOverLock);
    return ! deviceRecords.isEmpty();
}

MainComponent::DeviceRecord MainComponent::copySelectedRecord()
{
    const ScopedLock sl (handOverLock);
    const auto index = getCurrentDeviceIndex();

    // No selected record gives ids of 0, which match no pedal, so the open then fails.
    return isPositiveAndBelow (index, deviceRecords.size()) ? deviceRecords.getReference (index) : DeviceRecord();
}
