#include "helpers/MainComponentFixture.h"
#include "helpers/ShortTimeouts.h"

using Bytes = std::vector<juce::uint8>;

namespace
{
PedalFirmware::WaveInfo withSlots (juce::uint32 slots)
{
    PedalFirmware::WaveInfo info;
    info.slotCount = slots;
    return info;
}

struct WaveInformation : public MainComponentFixture {};
}

TEST_F (WaveInformation, PedalAtStartIsConnectedWithOneEntryPerSlotFromRecordZeroAndTheFirstSelected)
{
    auto& pedal = addPedal();
    createComponent();

    // The constructor's own query, before any message has been handled.
    const Bytes devInfo { 'C', 'M', 'D', 0, 0, 0, 0, 0 }, wavInfo { 'C', 'M', 'D', 0, 1, 0, 0, 0 };
    EXPECT_EQ (pedal.firmware().getCommands(), (std::vector<Bytes> { devInfo, wavInfo }));

    waitForFirstTick();
    EXPECT_EQ (access->statusLabel().getText(), "Pedal is connected");
    EXPECT_TRUE (access->allControlsEnabled());

    // A nonsensical count is bounded, and entry i still stands for slot i.
    const struct { juce::uint32 slots; int listed; } cases[] {
        { 99, 99 }, { 3, 3 }, { 0, 0 }, { 0xffffffff, MainComponent::maxListedSlots }
    };

    for (auto c : cases)
    {
        SCOPED_TRACE (c.slots);
        pedal.firmware().setWaveInfo (withSlots (c.slots));
        component->getWaveInfo (0);

        juce::StringArray expected;

        for (int i = 0; i < c.listed; ++i)
            expected.add ("record " + juce::String (i));

        EXPECT_EQ (access->slotItems(), expected);
        EXPECT_EQ (access->slotCombo().getSelectedId(), c.listed > 0 ? 1 : 0);
        EXPECT_EQ (access->slotCombo().getText(), expected[0]);
    }
}

// The one table of reply lengths: the workers read both replies through the same code.
TEST_F (WaveInformation, OnlyADeviceInformationAndExactlyTwentyFourBytesOfWaveInformationAreTaken)
{
    auto& pedal = addPedal();
    createComponent();
    waitForFirstTick();
    const ShortTimeouts timeouts;

    const struct { const char* what; std::function<void (PedalFirmware&)> arm; bool taken; } cases[] {
        { "wave information of 23 bytes",   [] (PedalFirmware& f) { f.setNextReplyLength (1, 23); }, false },
        { "wave information of 25 bytes",   [] (PedalFirmware& f) { f.setNextReplyLength (1, 25); }, false },
        { "empty wave information",         [] (PedalFirmware& f) { f.setNextReplyLength (1, 0); },  false },
        { "wave information timed out",     [] (PedalFirmware& f) { f.withholdNextReply (1); },      false },
        { "device information timed out",   [] (PedalFirmware& f) { f.withholdNextReply (0); },      false },
        { "empty device information",       [] (PedalFirmware& f) { f.setNextReplyLength (0, 0); },  false },
        { "device information of one byte", [] (PedalFirmware& f) { f.setNextReplyLength (0, 1); },  true },
        { "both in full",                   [] (PedalFirmware&) {},                                  true },
    };

    for (int i = 0; i < (int) std::size (cases); ++i)
    {
        SCOPED_TRACE (cases[i].what);

        // Disabled controls show whether a failed query would wrongly enable them.
        access->beginTransfer();
        access->tick();
        const auto listedBefore = access->slotItems().size();

        pedal.firmware().setWaveInfo (withSlots ((juce::uint32) i + 1));
        cases[i].arm (pedal.firmware());
        component->getWaveInfo (0);

        EXPECT_EQ (access->slotItems().size(), cases[i].taken ? i + 1 : listedBefore);
        EXPECT_EQ (access->allControlsEnabled(), cases[i].taken);
    }
}

TEST_F (WaveInformation, EndpointsOneAndEightyOneAreTakenOnlyWhenListed)
{
    // The first OUT and IN found are 0x02 and 0x82 on both; the first pedal answers on 0x01
    // and 0x81, which it also lists, the second on 0x02 and 0x82, which are all it has.
    auto unlisted = UsbDeviceDescription::withEndpoints ({ 0x02, 0x82 });
    unlisted.address = 6;
    addPedal (UsbDeviceDescription::withEndpoints ({ 0x82, 0x02, 0x81, 0x01 })).firmware().setWaveInfo (withSlots (3));
    addPedal (unlisted).firmware().setWaveInfo (withSlots (7));
    createComponent();
    waitForFirstTick();

    for (int index : { 0, 1 })
    {
        component->getWaveInfo (component->selectDevice (index));
        EXPECT_EQ (access->slotItems().size(), access->deviceRecords()[index].deviceAddress == 5 ? 3 : 7) << "pedal " << index;
    }
}
