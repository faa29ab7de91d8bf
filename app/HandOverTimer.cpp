#include "MainComponent.h"

using namespace juce;

namespace
{
    // The worker's "nothing new" mark: the meter never shows it.
    constexpr float noNewProgress = -2.0f;
}

void MainComponent::hotPlugEvent (KuvLibUSBManager::HotPlugEvent event)
{
    // The "libusb" thread: one atomic bit, nothing that could wait on the message thread.
    if (event == KuvLibUSBManager::deviceArrived)
        uiRequestFlags.set (UiRequestFlags::pendingArrival);
    else if (event == KuvLibUSBManager::deviceLeft)
        uiRequestFlags.set (UiRequestFlags::pendingDeparture);
}

void MainComponent::timerCallback (int timerID)
{
    if (timerID != timerId)
        return;

    const auto progress = progressValue.exchange (noNewProgress);

    if (progress != noNewProgress)
        progressMeter->setText (String::formatted ("%f", (double) progress), sendNotificationAsync);

    if (uiRequestFlags.testAndClear (UiRequestFlags::pendingDeparture) && getDeviceList() < 0)
    {
        statusText = translate ("Pedal is not connected");
        setControlsEnabled (false);

        if (! deviceRecords.isEmpty())
            getWaveInfo (selectDevice (0));
    }

    if (uiRequestFlags.testAndClear (UiRequestFlags::pendingArrival) && getDeviceList() < 0)
        getWaveInfo (selectDevice (0));

    // After the departure, so that a worker's request has the last word.
    if (const auto request = uiRequestFlags.takeControlsRequest(); request != UiRequestFlags::noRequest)
        setControlsEnabled (request == UiRequestFlags::enableControls);

    String text;

    {
        const ScopedLock sl (handOverLock);
        std::swap (text, progressText);
    }

    if (text.isNotEmpty())
        progressTextLabel->setText (text, dontSendNotification);

    if (statusText.isNotEmpty())
        statusLabel->setText (statusText, dontSendNotification);
}

//==============================================================================
void MainComponent::storeWaveInfo (const WaveInfo& info)
{
    const ScopedLock sl (handOverLock);
    waveInfo = info;
}

void MainComponent::handOverProgressText (const String& text)
{
    const ScopedLock sl (handOverLock);
    progressText = text;
}

void MainComponent::beginTransfer()
{
    uiRequestFlags.requestControls (UiRequestFlags::disableControls);
    busy.store (true);
}

void MainComponent::endTransfer()
{
    // Called once the pedal is closed; the enable request is the transfer's last word.
    busy.store (false);
    uiRequestFlags.requestControls (UiRequestFlags::enableControls);
}
