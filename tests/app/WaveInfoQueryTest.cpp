#include "helpers/MainComponentFixture.h"
#include "helpers/ShortTimeouts.h"

using Bytes = std::vector<juce::uint8>;

namespace
{
const Bytes deviceInfoCommand { 0x43, 0x4d, 0x44, 0x00, 0x00, 0x00, 0x00, 0x00 };
const Bytes waveInfoCommand   { 0x43, 0x4d, 0x44, 0x00, 0x01, 0x00, 0x00, 0x00 };

constexpr juce::uint32 devInfoCode = 0, wavInfoCode = 1;

PedalFirmware::WaveInfo waveInfoWithSlots (juce::uint32 slots)
{
    PedalFirmware::WaveInfo info;
    info.slotCount = slots;
    return info;
}

struct WaveInformation : public MainComponentFixture
{
    /** A pedal at start, shown connected once the first tick has run. */
    SimulatedPedal& startConnected (PedalFirmware::WaveInfo info = waveInfoWithSlots (99))
    {
        auto& pedal = addPedal();
        pedal.firmware().setWaveInfo (info);
        createComponent();
        waitForFirstTick();
        return pedal;
    }

    /** The state a failed query must leave alone. */
    struct Shown
    {
        juce::StringArray slots;
        int selectedSlot;
        juce::uint32 slotCount;
        juce::String status;
        bool controlsEnabled;

        bool operator== (const Shown& o) const
        {
            return slots == o.slots && selectedSlot == o.selectedSlot && slotCount == o.slotCount
                && status == o.status && controlsEnabled == o.controlsEnabled;
        }
    };

    Shown shown() const
    {
        return { access->slotItems(), access->slotCombo().getSelectedId(), access->waveInfo().slotCount,
                 access->statusText(), access->allControlsEnabled() };
    }
};
}

TEST_F (WaveInformation, PedalAtStartIsConnectedWithOneEntryPerSlot)
{
    PedalFirmware::WaveInfo info;
    info.reserved = 0xfeedf00d;
    info.slotCount = 12;
    info.sampleRateHz = 48000;
    info.sampleBits = 24;
    info.channelCount = 1;
    info.maxLength = 123456;
    info.transferChunkSize = 512;
    startConnected (info);

    EXPECT_EQ (access->statusLabel().getText(), "Pedal is connected");
    EXPECT_TRUE (access->allControlsEnabled());
    EXPECT_EQ (access->slotItems().joinIntoString (","),
               "record 0,record 1,record 2,record 3,record 4,record 5,record 6,record 7,record 8,record 9,record 10,record 11");
    EXPECT_EQ (access->slotCombo().getItemId (11), 12);
    EXPECT_EQ (access->slotCombo().getSelectedItemIndex(), 0);

    // Kept exactly as received.
    Bytes stored (WaveInfo::wireSize);
    access->waveInfo().toBytes (stored.data());
    EXPECT_EQ (stored, info.toBytes());
}

TEST_F (WaveInformation, EachQuerySendsTheTwoEightByteCommands)
{
    auto& pedal = addPedal();
    createComponent();

    // The constructor's own query, before any message has been handled.
    EXPECT_EQ (pedal.firmware().getCommands(), (std::vector<Bytes> { deviceInfoCommand, waveInfoCommand }));

    waitForFirstTick();
    const auto commands = pedal.firmware().getCommands();

    // Later scans and selection changes query again, always in this pair.
    ASSERT_GE (commands.size(), 4u);
    ASSERT_EQ (commands.size() % 2, 0u);

    for (size_t i = 0; i < commands.size(); i += 2)
    {
        EXPECT_EQ (commands[i], deviceInfoCommand);
        EXPECT_EQ (commands[i + 1], waveInfoCommand);
    }
}

TEST_F (WaveInformation, NoSlotsStillMeansConnected)
{
    startConnected (waveInfoWithSlots (0));

    EXPECT_EQ (access->statusLabel().getText(), "Pedal is connected");
    EXPECT_TRUE (access->allControlsEnabled());
    EXPECT_EQ (access->slotCombo().getNumItems(), 0);
    EXPECT_EQ (access->slotCombo().getSelectedId(), 0);
    EXPECT_EQ (access->slotCombo().getSelectedItemIndex(), -1);
}

TEST_F (WaveInformation, AHugeSlotCountListsABoundedNumberOfSlotsFromZero)
{
    startConnected (waveInfoWithSlots (0xffffffffu));

    EXPECT_EQ (access->statusLabel().getText(), "Pedal is connected");
    EXPECT_EQ (access->waveInfo().slotCount, 0xffffffffu);

    const auto slots = access->slotItems();
    ASSERT_EQ (slots.size(), MainComponent::maxListedSlots);
    EXPECT_EQ (slots[0], "record 0");
    EXPECT_EQ (slots[slots.size() - 1], "record " + juce::String (MainComponent::maxListedSlots - 1));

    // Entry i still stands for slot i.
    EXPECT_EQ (access->slotCombo().getItemId (slots.size() - 1), MainComponent::maxListedSlots);
    EXPECT_EQ (access->slotCombo().getSelectedItemIndex(), 0);
}

TEST_F (WaveInformation, AReplyOfTheWrongLengthChangesNothing)
{
    auto& pedal = startConnected();

    // Disabled controls show whether a failed query would wrongly enable them.
    access->beginTransfer();
    access->tick();
    const auto before = shown();
    ASSERT_FALSE (before.controlsEnabled);
    ASSERT_EQ (before.slots.size(), 99);

    pedal.firmware().setWaveInfo (waveInfoWithSlots (5));

    for (int length : { 23, 25, 0 })
    {
        pedal.firmware().setNextReplyLength (wavInfoCode, length);
        component->getWaveInfo (0);
        EXPECT_EQ (shown(), before) << length << " bytes";
    }

    // A full reply is taken at once.
    component->getWaveInfo (0);
    EXPECT_EQ (access->slotItems().size(), 5);
    EXPECT_TRUE (access->allControlsEnabled());
}

TEST_F (WaveInformation, AMissingReplyChangesNothing)
{
    auto& pedal = startConnected();
    const ShortTimeouts timeouts;

    access->beginTransfer();
    access->tick();
    const auto before = shown();
    pedal.firmware().setWaveInfo (waveInfoWithSlots (5));

    pedal.firmware().withholdNextReply (wavInfoCode);
    component->getWaveInfo (0);
    EXPECT_EQ (shown(), before) << "wave information timed out";

    pedal.firmware().withholdNextReply (devInfoCode);
    component->getWaveInfo (0);
    EXPECT_EQ (shown(), before) << "device information timed out";

    pedal.firmware().setNextReplyLength (devInfoCode, 0);
    component->getWaveInfo (0);
    EXPECT_EQ (shown(), before) << "empty device information";

    // One byte of device information is enough.
    pedal.firmware().setNextReplyLength (devInfoCode, 1);
    component->getWaveInfo (0);
    EXPECT_EQ (access->slotItems().size(), 5);
}

TEST_F (WaveInformation, EndpointsOneAndEightyOneAreTakenOnlyWhenListed)
{
    // The first OUT and IN found are 0x02 and 0x82 on both; the first pedal answers on 0x01
    // and 0x81, which it also lists, the second on 0x02 and 0x82, which are all it has.
    auto listed = UsbDeviceDescription::withEndpoints ({ 0x82, 0x02, 0x81, 0x01 });
    auto unlisted = UsbDeviceDescription::withEndpoints ({ 0x02, 0x82 });
    unlisted.address = 6;
    addPedal (listed).firmware().setWaveInfo (waveInfoWithSlots (3));
    addPedal (unlisted).firmware().setWaveInfo (waveInfoWithSlots (7));
    createComponent();
    waitForFirstTick();

    for (int index : { 0, 1 })
    {
        component->getWaveInfo (component->selectDevice (index));
        const auto expectedSlots = access->deviceRecords()[index].deviceAddress == 5 ? 3 : 7;
        EXPECT_EQ (access->slotItems().size(), expectedSlots) << "pedal " << index;
    }
}

TEST_F (WaveInformation, NoDeviceToQueryOpensNothing)
{
    auto& pedal = startConnected();
    const auto commandsBefore = pedal.firmware().getCommands().size();
    const auto requestsBefore = pedal.getControlRequests().size();

    component->getWaveInfo (-1);
    component->getWaveInfo (1);

    EXPECT_EQ (pedal.firmware().getCommands().size(), commandsBefore);
    EXPECT_EQ (pedal.getControlRequests().size(), requestsBefore);
}
