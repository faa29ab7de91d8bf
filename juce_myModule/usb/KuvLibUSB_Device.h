#pragma once

namespace juce
{

/** One opened pedal, for the length of one exchange: open() finds and opens it, selectAlterate()
    claims interface 0 and picks the bulk endpoints, and the destructor closes it.
*/
class KuvLibUSB_Device
{
public:
    /** One device found by the device scan. */
    struct _USB_DeviceFeature
    {
        uint16 vendorId = 0;
        uint16 productId = 0;
        uint8 busNumber = 0;
        uint8 deviceAddress = 0;
        String manufacturerName;
        String productName;
        String serialNumber;
        String displayName;
        String deviceKey;
    };

    static constexpr uint8 noEndpoint = 0xff;

    KuvLibUSB_Device();
    ~KuvLibUSB_Device();

    /** Bus number and address both 0xFF select the first device with these ids. */
    bool open (uint16 vendorId, uint16 productId, uint8 busNumber, uint8 deviceAddress);

    /** Sets configuration 1 when there are several, claims interface 0 and chooses the first OUT
        address of 0x01-0x0F and the first IN address of 0x80-0x8F. The arguments are not used.
    */
    bool selectAlterate (int configuration = 1, int interfaceNumber = 0, int alternateSetting = 0);

    /** Null means the USB manager's context; the library's default context is never used. */
    libusb_context* usbContext = nullptr;
    libusb_device_handle* deviceHandle = nullptr;
    libusb_device_descriptor deviceDescriptor {};
    Array<uint8> endpointAddresses;
    uint8 inEndpoint = noEndpoint;
    uint8 outEndpoint = noEndpoint;

private:
    libusb_context* contextToUse() const noexcept;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (KuvLibUSB_Device)
};

} // namespace juce
