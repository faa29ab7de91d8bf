#include "helpers/UsbFixture.h"

using juce::KuvLibUSB_Device;
using Kind = UsbfsResponder::ControlRequest::Kind;
using UsbDeviceTest = UsbFixture;

namespace
{
std::pair<int, int> positionOf (libusb_device_handle* handle)
{
    auto* device = libusb_get_device (handle);
    return { libusb_get_bus_number (device), libusb_get_device_address (device) };
}

std::vector<Kind> kindsOf (const std::vector<UsbfsResponder::ControlRequest>& requests)
{
    std::vector<Kind> kinds;

    for (auto& request : requests)
        kinds.push_back (request.kind);

    return kinds;
}

std::vector<juce::uint8> toVector (const juce::Array<juce::uint8>& array)
{
    return { array.begin(), array.end() };
}
}

//==============================================================================
TEST_F (UsbDeviceTest, OpenWithAnyPositionTakesTheFirstMatchInListOrder)
{
    auto foreign = pedalAt (1, 9);
    foreign.productId = 0x0085;
    addPedal (pedalAt (1, 3));
    addPedal (pedalAt (2, 4));
    auto& usb = createManager();

    addPedal (foreign);
    ASSERT_TRUE (waitFor ([&] { return pedals.back()->isListedIn (usb.usbContext); }));

    // The newest device leads the list, so a matcher ignoring the ids would take the foreign one.
    libusb_device** list = nullptr;
    const auto count = libusb_get_device_list (usb.usbContext, &list);
    ASSERT_EQ (count, 3);
    libusb_device_descriptor first {};
    libusb_get_device_descriptor (list[0], &first);
    EXPECT_EQ (first.idProduct, 0x0085);
    const std::pair<int, int> firstPedal { libusb_get_bus_number (list[1]), libusb_get_device_address (list[1]) };
    libusb_free_device_list (list, 1);

    KuvLibUSB_Device device;
    ASSERT_TRUE (device.open (pedalVendor, pedalProduct, 0xff, 0xff));
    EXPECT_EQ (positionOf (device.deviceHandle), firstPedal);
    EXPECT_EQ (device.deviceDescriptor.idProduct, pedalProduct);
    EXPECT_EQ (device.deviceDescriptor.bNumConfigurations, 1);
}

TEST_F (UsbDeviceTest, OpenTakesTheExactBusAndAddress)
{
    auto second = pedalAt (2, 4);
    second.deviceRelease = 0x0207;
    addPedal (pedalAt (1, 4));
    addPedal (second);
    createManager();

    KuvLibUSB_Device device;
    ASSERT_TRUE (device.open (pedalVendor, pedalProduct, 2, 4));
    EXPECT_EQ (positionOf (device.deviceHandle), std::make_pair (2, 4));
    EXPECT_EQ (device.deviceDescriptor.bcdDevice, 0x0207);

    KuvLibUSB_Device wrongIds, nobodyThere;
    EXPECT_FALSE (wrongIds.open (pedalVendor, 0x0085, 2, 4));
    EXPECT_FALSE (nobodyThere.open (pedalVendor, pedalProduct, 2, 5));
    EXPECT_EQ (wrongIds.deviceHandle, nullptr);
    EXPECT_EQ (nobodyThere.deviceHandle, nullptr);
}

TEST_F (UsbDeviceTest, ASingle0xFFIsComparedLikeAnyOtherValue)
{
    addPedal (pedalAt (1, 9));
    createManager();

    KuvLibUSB_Device anyBus, anyAddress;
    EXPECT_FALSE (anyBus.open (pedalVendor, pedalProduct, 0xff, 9));
    EXPECT_FALSE (anyAddress.open (pedalVendor, pedalProduct, 1, 0xff));

    addPedal (pedalAt (255, 9));
    ASSERT_TRUE (waitFor ([&] { return pedals.back()->isListedIn (manager->usbContext); }));

    KuvLibUSB_Device onBus255;
    ASSERT_TRUE (onBus255.open (pedalVendor, pedalProduct, 0xff, 9));
    EXPECT_EQ (positionOf (onBus255.deviceHandle), std::make_pair (255, 9));
}

TEST_F (UsbDeviceTest, ADeviceThatCannotBeOpenedIsReportedAsNotOpen)
{
    auto refusing = pedalAt (1, 8);
    refusing.nodeRefusesOpen = true;
    addPedal (pedalAt (1, 3));
    auto& usb = createManager();
    addPedal (refusing);
    ASSERT_TRUE (waitFor ([&] { return pedals.back()->isListedIn (usb.usbContext); }));

    libusb_device** list = nullptr;
    ASSERT_EQ (libusb_get_device_list (usb.usbContext, &list), 2);
    EXPECT_EQ (libusb_get_device_address (list[0]), 8);
    libusb_free_device_list (list, 1);

    KuvLibUSB_Device cannot, can;
    EXPECT_FALSE (cannot.open (pedalVendor, pedalProduct, 1, 8));
    EXPECT_EQ (cannot.deviceHandle, nullptr);
    EXPECT_TRUE (can.open (pedalVendor, pedalProduct, 1, 3));
}

TEST_F (UsbDeviceTest, OpenLooksOnlyInTheManagersContext)
{
    addPedal();

    KuvLibUSB_Device withoutManager;
    EXPECT_FALSE (withoutManager.open (pedalVendor, pedalProduct, 0xff, 0xff));

    auto& usb = createManager();
    KuvLibUSB_Device device;
    ASSERT_TRUE (device.open (pedalVendor, pedalProduct, 0xff, 0xff));

    // Device objects belong to one context: the manager's list holds the very same one.
    libusb_device** list = nullptr;
    const auto count = libusb_get_device_list (usb.usbContext, &list);
    const auto opened = libusb_get_device (device.deviceHandle);
    EXPECT_NE (std::find (list, list + count, opened), list + count);
    libusb_free_device_list (list, 1);
}

//==============================================================================
TEST_F (UsbDeviceTest, OneConfigurationAndOneSettingAreOnlyClaimed)
{
    auto& pedal = addPedal();
    createManager();

    KuvLibUSB_Device device;
    ASSERT_TRUE (openAndSetUp (device));

    EXPECT_EQ (kindsOf (pedal.getControlRequests()), std::vector<Kind> { Kind::claimInterface });
    EXPECT_EQ (pedal.getControlRequests()[0].value, 0);
}

TEST_F (UsbDeviceTest, SeveralConfigurationsSelectConfigurationOneBeforeReadingIt)
{
    UsbDeviceDescription description;
    description.configurations = { { 1, { { { 0x02, 0x82 } } } },
                                   { 2, { { { 0x01, 0x81 } } } } };
    description.initialConfiguration = 2;
    auto& pedal = addPedal (description);
    createManager();

    KuvLibUSB_Device device;
    ASSERT_TRUE (openAndSetUp (device));

    const auto requests = pedal.getControlRequests();
    ASSERT_EQ (kindsOf (requests), (std::vector<Kind> { Kind::setConfiguration, Kind::claimInterface }));
    EXPECT_EQ (requests[0].value, 1);
    EXPECT_EQ (pedal.getActiveConfiguration(), 1);
    EXPECT_EQ (toVector (device.endpointAddresses), (std::vector<juce::uint8> { 0x02, 0x82 }));
}

TEST_F (UsbDeviceTest, SeveralAlternateSettingsSelectSettingZero)
{
    UsbDeviceDescription description;
    description.configurations = { { 1, { { { 0x01, 0x81 } }, { { 0x03, 0x83 } } } } };
    auto& pedal = addPedal (description);
    createManager();

    KuvLibUSB_Device device;
    ASSERT_TRUE (openAndSetUp (device));

    const auto requests = pedal.getControlRequests();
    ASSERT_EQ (kindsOf (requests), (std::vector<Kind> { Kind::claimInterface, Kind::setInterface }));
    EXPECT_EQ (requests[1].value, 0);
    EXPECT_EQ (requests[1].alternate, 0);
    EXPECT_EQ (toVector (device.endpointAddresses), (std::vector<juce::uint8> { 0x01, 0x81 }));
}

TEST_F (UsbDeviceTest, EndpointsAreChosenByAddressRange)
{
    struct Case
    {
        std::vector<juce::uint8> endpoints;
        juce::uint8 out, in;
    };

    const Case cases[] = {
        { { 0x02, 0x81, 0x01, 0x82 },             0x02, 0x81 },
        { { 0x10, 0x7f, 0x90, 0xff, 0x03, 0x83 }, 0x03, 0x83 },
        { { 0x8f, 0x0f },                         0x0f, 0x8f },
        { { 0x10, 0x90 },                         0xff, 0xff },
        { {},                                     0xff, 0xff },
    };

    for (size_t i = 0; i < std::size (cases); ++i)
    {
        auto description = UsbDeviceDescription::withEndpoints (cases[i].endpoints);
        description.address = (int) i + 1;
        addPedal (description);
    }

    createManager();

    for (size_t i = 0; i < std::size (cases); ++i)
    {
        SCOPED_TRACE (juce::String::toHexString (cases[i].endpoints.data(), (int) cases[i].endpoints.size()).toStdString());

        KuvLibUSB_Device device;
        ASSERT_TRUE (device.open (pedalVendor, pedalProduct, 1, (juce::uint8) (i + 1)));
        ASSERT_TRUE (device.selectAlterate());
        EXPECT_EQ (toVector (device.endpointAddresses), cases[i].endpoints);
        EXPECT_EQ (device.outEndpoint, cases[i].out);
        EXPECT_EQ (device.inEndpoint, cases[i].in);
    }
}

TEST_F (UsbDeviceTest, FailedSetupLeavesTheEndpointsUnchosen)
{
    UsbDeviceDescription twoConfigurations;
    twoConfigurations.configurations = { { 1, { { { 0x01, 0x81 } } } }, { 2, { { { 0x01, 0x81 } } } } };
    UsbDeviceDescription noInterface = pedalAt (1, 6);
    noInterface.configurations = { { 1, {} } };
    auto& busy = addPedal (twoConfigurations);
    addPedal (noInterface);
    createManager();

    // The kernel refuses a new configuration while an interface is claimed.
    KuvLibUSB_Device claimedFirst;
    ASSERT_TRUE (claimedFirst.open (pedalVendor, pedalProduct, 1, 5));
    ASSERT_EQ (libusb_claim_interface (claimedFirst.deviceHandle, 0), 0);
    EXPECT_FALSE (claimedFirst.selectAlterate());
    EXPECT_EQ (busy.getControlRequests().back().error, EBUSY);
    EXPECT_TRUE (claimedFirst.endpointAddresses.isEmpty());
    EXPECT_EQ (claimedFirst.inEndpoint, KuvLibUSB_Device::noEndpoint);
    EXPECT_EQ (claimedFirst.outEndpoint, KuvLibUSB_Device::noEndpoint);

    KuvLibUSB_Device withoutInterface;
    ASSERT_TRUE (withoutInterface.open (pedalVendor, pedalProduct, 1, 6));
    EXPECT_FALSE (withoutInterface.selectAlterate());
    EXPECT_TRUE (pedals[1]->getControlRequests().empty());
}

TEST_F (UsbDeviceTest, AnInterfaceClaimedByAnotherOpenDeviceCannotBeClaimed)
{
    addPedal();
    createManager();

    auto first = std::make_unique<KuvLibUSB_Device>();
    ASSERT_TRUE (first->open (pedalVendor, pedalProduct, 0xff, 0xff));
    ASSERT_TRUE (first->selectAlterate());

    {
        KuvLibUSB_Device second;
        ASSERT_TRUE (second.open (pedalVendor, pedalProduct, 0xff, 0xff));
        EXPECT_FALSE (second.selectAlterate());
    }

    // Closing ends the claim.
    first.reset();
    KuvLibUSB_Device third;
    ASSERT_TRUE (third.open (pedalVendor, pedalProduct, 0xff, 0xff));
    EXPECT_TRUE (third.selectAlterate());
}
