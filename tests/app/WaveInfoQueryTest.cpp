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

struct WaveInformation : public MainComponentFixture
{
    SimulatedPedal& startConnected (PedalFirmware::WaveInfo info = withSlots (99))
    {
        auto& pedal = addPedal();
        pedal.firmware().setWaveInfo (info);
        createComponent();
        waitForFirstTick();
        return pedal;
    }

    /** What a failed query must leave alone. */
    juce::String shown() const
    {
        return access->slotItems().joinIntoString (",") + "|" + juce::String (access->slotCombo().getSelectedId())
             + "|" + juce::String (access->waveInfo().slotCount) + "|" + access->statusText()
             + "|" + juce::String ((int) access->allControlsEnabled());
    }
};
}

TEST_F (WaveInformation, PedalAtStartIsConnectedWithOneEntryPerSlotAndItsCommandsOnTheWire)
{
    const PedalFirmware::WaveInfo info { 0xfeedf00d, 3, 48000, 24, 1, 123456, 512 };
    auto& pedal = addPedal();
    pedal.firmware().setWaveInfo (info);
    createComponent();

    // The constructor's own query, before any message has been handled; later ones send the same pair.
    const Bytes devInfo { 'C', 'M', 'D', 0, 0, 0, 0, 0 }, wavInfo { 'C', 'M', 'D', 0, 1, 0, 0, 0 };
    EXPECT_EQ (pedal.firmware().getCommands(), (std::vector<Bytes> { devInfo, wavInfo }));
    waitForFirstTick();
    const auto commands = pedal.firmware().getCommands();
    ASSERT_EQ (commands.size() % 2, 0u);
    for (size_t i = 0; i < commands.size(); i += 2)
        EXPECT_TRUE (commands[i] == devInfo && commands[i + 1] == wavInfo) << "command " << i;

    EXPECT_EQ (access->statusLabel().getText(), "Pedal is connected");
    EXPECT_TRUE (access->allControlsEnabled());
    EXPECT_EQ (access->slotItems(), juce::StringArray ("record 0", "record 1", "record 2"));
    EXPECT_EQ (access->slotCombo().getSelectedId(), 1);
    EXPECT_EQ (access->slotCombo().getItemId (2), 3);

    Bytes stored (WaveInfo::wireSize);
    access->waveInfo().toBytes (stored.data());
    EXPECT_EQ (stored, info.toBytes());
}

TEST_F (WaveInformation, SlotListIsBoundedAndMayBeEmpty)
{
    auto& pedal = startConnected();

    for (auto slots : { 0u, 0xffffffffu })
    {
        SCOPED_TRACE (slots);
        pedal.firmware().setWaveInfo (withSlots (slots));
        component->getWaveInfo (0);

        const auto listed = slots == 0 ? 0 : MainComponent::maxListedSlots;
        EXPECT_EQ (access->statusText(), "Pedal is connected");
        EXPECT_EQ (access->waveInfo().slotCount, slots);
        ASSERT_EQ (access->slotItems().size(), listed);
        EXPECT_EQ (access->slotCombo().getSelectedItemIndex(), slots == 0 ? -1 : 0);

        // Entry i still stands for slot i.
        if (listed > 0)
        {
            EXPECT_EQ (access->slotItems()[listed - 1], "record " + juce::String (listed - 1));
            EXPECT_EQ (access->slotCombo().getItemId (listed - 1), listed);
        }
    }
}

TEST_F (WaveInformation, RepliesOfTheWrongLengthOrNoneChangeNothing)
{
    auto& pedal = startConnected();
    const ShortTimeouts timeouts;

    // Disabled controls show whether a failed query would wrongly enable them.
    access->beginTransfer();
    access->tick();
    const auto before = shown();
    ASSERT_FALSE (access->allControlsEnabled());
    pedal.firmware().setWaveInfo (withSlots (5));

    const struct { const char* what; std::function<void (PedalFirmware&)> arm; } cases[] {
        { "wave information of 23 bytes",   [] (PedalFirmware& f) { f.setNextReplyLength (1, 23); } },
        { "wave information of 25 bytes",   [] (PedalFirmware& f) { f.setNextReplyLength (1, 25); } },
        { "empty wave information",         [] (PedalFirmware& f) { f.setNextReplyLength (1, 0); } },
        { "wave information timed out",     [] (PedalFirmware& f) { f.withholdNextReply (1); } },
        { "device information timed out",   [] (PedalFirmware& f) { f.withholdNextReply (0); } },
        { "empty device information",       [] (PedalFirmware& f) { f.setNextReplyLength (0, 0); } },
    };

    for (const auto& c : cases)
    {
        c.arm (pedal.firmware());
        component->getWaveInfo (0);
        EXPECT_EQ (shown(), before) << c.what;
    }

    // No device to query opens nothing.
    const auto requests = pedal.getControlRequests().size();
    component->getWaveInfo (-1);
    component->getWaveInfo (1);
    EXPECT_EQ (pedal.getControlRequests().size(), requests);

    // One byte of device information is enough, and a full reply is taken at once.
    pedal.firmware().setNextReplyLength (0, 1);
    component->getWaveInfo (0);
    EXPECT_EQ (access->slotItems().size(), 5);
    EXPECT_TRUE (access->allControlsEnabled());
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
