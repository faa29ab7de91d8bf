#include "MainComponent.h"

using namespace juce;

void MainComponent::getWaveInfo (int index)
{
    if (! isPositiveAndBelow (index, deviceRecords.size()))
        return;

    const auto record = deviceRecords.getReference (index);

    KuvLibUSB_Device device;

    if (PedalProtocol::openRecord (device, record) != PedalProtocol::OpenResult::ready)
        return;

    PedalProtocol::preferDefaultEndpoints (device);

    uint8 reply[PedalProtocol::replyBufferSize];
    const auto info = PedalProtocol::readDeviceAndWaveInfo (device, reply);

    // A pedal that does not answer in full changes nothing: the previous state stays shown.
    if (! info.valid)
        return;

    storeWaveInfo (info.waveInfo);
    fillSlotList (info.waveInfo.slotCount);
    statusText = translate ("Pedal is connected");
    setControlsEnabled (true);
}

void MainComponent::fillSlotList (uint32 slotCount)
{
    slotCombo->clear (sendNotificationAsync);

    // Entry i stands for slot i, so bounding the list leaves the slot numbers sent unchanged.
    const auto listed = (int) jmin (slotCount, (uint32) maxListedSlots);

    for (int id = 1; id <= listed; ++id)
        slotCombo->addItem (String::formatted ("record %d", id - 1), id);

    slotCombo->setSelectedId (listed > 0 ? 1 : 0, sendNotificationAsync);
}
