#include "helpers/UsbFixture.h"

using juce::KuvLibUSB_Device;
using Kind = UsbfsResponder::ControlRequest::Kind;
using UsbDeviceTest = UsbFixture;
using Bytes = std::vector<juce::uint8>;

namespace
{
std::pair<int, int> positionOf (const KuvLibUSB_Device& device)
{
    auto* d = libusb_get_device (device.deviceHandle);
    return { libusb_get_bus_number (d), libusb_get_device_address (d) };
}
}

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
    ASSERT_EQ (libusb_get_device_list (usb.usbContext, &list), 3);
    const std::pair<int, int> firstPedal { libusb_get_bus_number (list[1]), libusb_get_device_address (list[1]) };
    libusb_free_device_list (list, 1);

    KuvLibUSB_Device device;
    ASSERT_TRUE (device.open (pedalVendor, pedalProduct, 0xff, 0xff));
    EXPECT_EQ (positionOf (device), firstPedal);
    EXPECT_EQ (device.deviceDescriptor.idProduct, pedalProduct);
}

TEST_F (UsbDeviceTest, OpenWithAPositionTakesExactlyThatOneInTheManagersContext)
{
    auto second = pedalAt (2, 4);
    second.deviceRelease = 0x0207;
    auto refusing = pedalAt (1, 8);
    refusing.nodeRefusesOpen = true;
    for (auto& d : { pedalAt (1, 4), second, pedalAt (255, 9), refusing })
        addPedal (d);

    // Without the manager's context nothing is looked for, not even in the library's default one.
    KuvLibUSB_Device withoutManager;
    EXPECT_FALSE (withoutManager.open (pedalVendor, pedalProduct, 0xff, 0xff));
    createManager();

    KuvLibUSB_Device exact;
    ASSERT_TRUE (exact.open (pedalVendor, pedalProduct, 2, 4));
    EXPECT_EQ (positionOf (exact), std::make_pair (2, 4));
    EXPECT_EQ (exact.deviceDescriptor.bcdDevice, 0x0207);

    // A single 0xFF is a bus or an address like any other.
    KuvLibUSB_Device onBus255;
    ASSERT_TRUE (onBus255.open (pedalVendor, pedalProduct, 0xff, 9));
    EXPECT_EQ (positionOf (onBus255), std::make_pair (255, 9));

    const struct { juce::uint16 product; juce::uint8 bus, address; } misses[] {
        { 0x0085, 2, 4 }, { pedalProduct, 2, 5 }, { pedalProduct, 0xff, 4 }, { pedalProduct, 1, 0xff }, { pedalProduct, 1, 8 }
    };

    for (auto m : misses)
    {
        SCOPED_TRACE (juce::String::formatted ("%04x at %d/%d", m.product, m.bus, m.address).toStdString());
        KuvLibUSB_Device device;
        EXPECT_FALSE (device.open (pedalVendor, m.product, m.bus, m.address));
        EXPECT_EQ (device.deviceHandle, nullptr);
    }
}

TEST_F (UsbDeviceTest, SetupSelectsConfigurationAndSettingOnlyWhenThereIsAChoiceAndEndpointsByAddressRange)
{
    using Configuration = UsbDeviceDescription::Configuration;
    using Request = std::tuple<Kind, int, int>;   // kind, value, alternate setting
    const std::vector<Request> claimOnly { { Kind::claimInterface, 0, 0 } };

    const struct
    {
        const char* what;
        std::vector<Configuration> configurations;
        std::vector<Request> requests;
        juce::uint8 out, in;
    } cases[] {
        { "two configurations",     { { 1, { { { 0x02, 0x82 } } } }, { 2, { { { 0x01, 0x81 } } } } },
                                    { { Kind::setConfiguration, 1, 0 }, { Kind::claimInterface, 0, 0 } }, 0x02, 0x82 },
        { "two alternate settings", { { 1, { { { 0x01, 0x81 } }, { { 0x03, 0x83 } } } } },
                                    { { Kind::claimInterface, 0, 0 }, { Kind::setInterface, 0, 0 } }, 0x01, 0x81 },
        { "first of each kind",     { { 1, { { { 0x02, 0x81, 0x01, 0x82 } } } } },             claimOnly, 0x02, 0x81 },
        { "reserved addresses",     { { 1, { { { 0x10, 0x7f, 0x90, 0xff, 0x03, 0x83 } } } } }, claimOnly, 0x03, 0x83 },
        { "highest addresses",      { { 1, { { { 0x8f, 0x0f } } } } },                         claimOnly, 0x0f, 0x8f },
        { "only reserved",          { { 1, { { { 0x10, 0x90 } } } } },                         claimOnly, 0xff, 0xff },
        { "no endpoints",           { { 1, { { {} } } } },                                     claimOnly, 0xff, 0xff },
    };

    for (int i = 0; i < (int) std::size (cases); ++i)
    {
        auto description = pedalAt (1, i + 1);
        description.configurations = cases[i].configurations;
        description.initialConfiguration = (int) cases[i].configurations.size();   // not 1 when there are two
        addPedal (description);
    }

    createManager();

    for (int i = 0; i < (int) std::size (cases); ++i)
    {
        SCOPED_TRACE (cases[i].what);

        KuvLibUSB_Device device;
        ASSERT_TRUE (device.open (pedalVendor, pedalProduct, 1, (juce::uint8) (i + 1)));
        ASSERT_TRUE (device.selectAlterate());

        std::vector<Request> requests;
        for (auto& r : pedals[(size_t) i]->getControlRequests())
            requests.emplace_back (r.kind, r.value, r.alternate);

        EXPECT_EQ (requests, cases[i].requests);
        EXPECT_EQ (pedals[(size_t) i]->getActiveConfiguration(), 1);
        EXPECT_EQ (Bytes (device.endpointAddresses.begin(), device.endpointAddresses.end()),
                   cases[i].configurations[0].alternateSettings[0].endpointAddresses);
        EXPECT_EQ (device.outEndpoint, cases[i].out);
        EXPECT_EQ (device.inEndpoint, cases[i].in);
    }
}

TEST_F (UsbDeviceTest, FailedSetupLeavesTheEndpointsUnchosen)
{
    UsbDeviceDescription twoConfigurations;
    twoConfigurations.configurations = { { 1, { { { 0x01, 0x81 } } } }, { 2, { { { 0x01, 0x81 } } } } };
    auto noInterface = pedalAt (1, 6);
    noInterface.configurations = { { 1, {} } };
    auto& busy = addPedal (twoConfigurations);
    auto& empty = addPedal (noInterface);
    addPedal (pedalAt (1, 7));
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
    EXPECT_TRUE (empty.getControlRequests().empty());

    // An interface claimed through another handle cannot be claimed until that one is closed.
    auto holder = std::make_unique<KuvLibUSB_Device>();
    ASSERT_TRUE (holder->open (pedalVendor, pedalProduct, 1, 7) && holder->selectAlterate());
    KuvLibUSB_Device second, third;
    ASSERT_TRUE (second.open (pedalVendor, pedalProduct, 1, 7));
    EXPECT_FALSE (second.selectAlterate());
    holder.reset();
    ASSERT_TRUE (third.open (pedalVendor, pedalProduct, 1, 7));
    EXPECT_TRUE (third.selectAlterate());
}
