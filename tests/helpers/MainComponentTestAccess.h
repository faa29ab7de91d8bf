#pragma once

#include "MainComponent.h"

/** Reaches the main component's private state for the tests. */
struct MainComponentTestAccess
{
    using DeviceRecord = juce::KuvLibUSB_Device::_USB_DeviceFeature;

    explicit MainComponentTestAccess (MainComponent& c) : component (c) {}

    juce::Label& statusLabel() const                { return *component.statusLabel; }
    juce::Label& progressTextLabel() const          { return *component.progressTextLabel; }
    juce::Label& versionLabel() const               { return *component.versionLabel; }
    juce::ComboBox& deviceCombo() const             { return *component.deviceCombo; }
    juce::ComboBox& slotCombo() const               { return *component.slotCombo; }
    juce::TextButton& refreshButton() const         { return *component.refreshButton; }
    juce::TextButton& readButton() const            { return *component.readButton; }
    juce::ProgressLabel& progressMeter() const      { return *component.progressMeter; }
    juce::ImageComponent& backgroundImage() const   { return *component.backgroundImage; }
    juce::TextButtonWithIcon& exportButton() const  { return *component.exportButton; }
    juce::TextButtonWithIcon& importButton() const  { return *component.importButton; }

    /** The five controls that follow the connection state and the workers' requests. */
    juce::Array<juce::Component*> controls() const
    {
        return { component.deviceCombo.get(), component.refreshButton.get(), component.slotCombo.get(),
                 component.importButton.get(), component.exportButton.get() };
    }

    bool allControlsEnabled() const
    {
        for (auto* c : controls())
            if (! c->isEnabled())
                return false;

        return true;
    }

    bool noControlEnabled() const
    {
        for (auto* c : controls())
            if (c->isEnabled())
                return false;

        return true;
    }

    juce::Array<DeviceRecord> deviceRecords() const
    {
        const juce::ScopedLock sl (component.handOverLock);
        return component.deviceRecords;
    }

    juce::String selectedDeviceKey() const
    {
        const juce::ScopedLock sl (component.handOverLock);
        return component.selectedDeviceKey;
    }

    WaveInfo waveInfo() const
    {
        const juce::ScopedLock sl (component.handOverLock);
        return component.waveInfo;
    }

    juce::StringArray slotItems() const
    {
        juce::StringArray items;

        for (int i = 0; i < component.slotCombo->getNumItems(); ++i)
            items.add (component.slotCombo->getItemText (i));

        return items;
    }

    juce::StringArray deviceItems() const
    {
        juce::StringArray items;

        for (int i = 0; i < component.deviceCombo->getNumItems(); ++i)
            items.add (component.deviceCombo->getItemText (i));

        return items;
    }

    const juce::String& statusText() const          { return component.statusText; }
    juce::KuvLibUSBManager* usbManager() const      { return component.usbManager; }
    UiRequestFlags& uiRequestFlags() const          { return component.uiRequestFlags; }
    std::atomic<float>& progressValue() const       { return component.progressValue; }
    std::atomic<bool>& busy() const                 { return component.busy; }

    // What the actions hand to a worker; written on the message thread only.
    juce::String& transferPath() const              { return component.transferPath; }
    int& recordIndex() const                        { return component.recordIndex; }
    juce::String& droppedFilePath() const           { return component.droppedFilePath; }
    const juce::String& supportedWildcards() const  { return component.supportedWildcards; }

    juce::Component::SafePointer<juce::DialogWindow>& confirmDialog() const { return component.confirmDialog; }

    void setProgressText (const juce::String& text) const   { component.handOverProgressText (text); }
    void beginTransfer() const                              { component.beginTransfer(); }
    void endTransfer() const                                { component.endTransfer(); }
    DeviceRecord copySelectedRecord() const                 { return component.copySelectedRecord(); }

    /** What the user actions set before they start a worker. */
    void prepareTransfer (const juce::String& path, int slot) const
    {
        component.transferPath = path;
        component.recordIndex = slot;
    }

    /** The progress text handed over and not yet taken by the timer, left in place. */
    juce::String pendingProgressText() const
    {
        const juce::ScopedLock sl (component.handOverLock);
        return component.progressText;
    }

    void tick() const                               { component.timerCallback (MainComponent::timerId); }

    MainComponent& component;
};
