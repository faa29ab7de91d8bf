#include "helpers/MainComponentFixture.h"

using WaveInformation = MainComponentFixture;

// The one table of reply lengths: the workers read both replies through the same code.
TEST_F (WaveInformation, OnlyADeviceInformationAndExactlyTwentyFourBytesOfWaveInformationFillTheSlotList)
{
    // The pedal talks on 0x01 and 0x81, which it lists after its first OUT and IN endpoints.
    auto& firmware = addPedal (UsbDeviceDescription::withEndpoints ({ 0x82, 0x02, 0x81, 0x01 })).firmware();
    createComponent();

    // The constructor's own query, before any message has been handled.
    EXPECT_EQ (firmware.getCommands(), (std::vector<PedalFirmware::Bytes> { { 'C', 'M', 'D', 0, 0, 0, 0, 0 }, { 'C', 'M', 'D', 0, 1, 0, 0, 0 } }));

    ASSERT_TRUE (waitFor ([this] { return access->statusLabel().getText() == "Pedal is connected"; }));

    // A reply that is not taken leaves the 99 slots listed at the start; entry i stands for slot i.
    const struct { const char* what; std::function<void()> arm; juce::uint32 slots; bool taken; int listed; } cases[] {
        { "wave information of 23 bytes",   [&] { firmware.setNextReplyLength (1, 23); }, 5,          false, 99 },
        { "wave information of 25 bytes",   [&] { firmware.setNextReplyLength (1, 25); }, 5,          false, 99 },
        { "empty device information",       [&] { firmware.setNextReplyLength (0, 0); },  5,          false, 99 },
        { "device information of one byte", [&] { firmware.setNextReplyLength (0, 1); },  3,          true,  3 },
        { "no slots",                       [] {},                                        0,          true,  0 },
        { "more slots than are listed",     [] {},                                        0xffffffff, true,  MainComponent::maxListedSlots },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);

        // Disabled controls show whether a failed query would wrongly enable them.
        access->beginTransfer();
        access->tick();
        firmware.setWaveInfo ({ 0, c.slots });
        c.arm();
        component->getWaveInfo (0);

        EXPECT_EQ (access->slotCombo().getNumItems(), c.listed);
        EXPECT_EQ (access->slotCombo().getItemText (c.listed - 1), c.listed > 0 ? "record " + juce::String (c.listed - 1) : "");
        EXPECT_EQ (access->slotCombo().getText(), c.listed > 0 ? "record 0" : "");
        EXPECT_EQ (access->allControlsEnabled(), c.taken);
    }
}
