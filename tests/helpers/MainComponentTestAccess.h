#pragma once

#include "MainComponent.h"

/** Reaches the main component's private state for the tests. */
struct MainComponentTestAccess
{
    explicit MainComponentTestAccess (MainComponent& c) : component (c) {}

    juce::Label& statusLabel() const                { return *component.statusLabel; }
    juce::Label& progressTextLabel() const          { return *component.progressTextLabel; }
    juce::Label& versionLabel() const               { return *component.versionLabel; }
    juce::ComboBox& deviceCombo() const             { return *component.deviceCombo; }
    juce::ComboBox& slotCombo() const               { return *component.slotCombo; }
    juce::ProgressLabel& progressMeter() const      { return *component.progressMeter; }
    juce::TextButtonWithIcon& exportButton() const  { return *component.exportButton; }
    juce::TextButtonWithIcon& importButton() const  { return *component.importButton; }

    UiRequestFlags& uiRequestFlags() const          { return component.uiRequestFlags; }
    std::atomic<float>& progressValue() const       { return component.progressValue; }
    std::atomic<bool>& busy() const                 { return component.busy; }

    // The slot the actions hand to a worker; written on the message thread only.
    int& recordIndex() const                        { return component.recordIndex; }

    juce::Component::SafePointer<juce::DialogWindow>& confirmDialog() const { return component.confirmDialog; }

    void setProgressText (const juce::String& text) const   { component.handOverProgressText (text); }
    void beginTransfer() const                              { component.beginTransfer(); }
    void endTransfer() const                                { component.endTransfer(); }
    void tick() const                                       { component.timerCallback (MainComponent::timerId); }

    /** What the user actions set before they start a worker. */
    void prepareTransfer (const juce::String& path, int slot) const
    {
        component.transferPath = path;
        component.recordIndex = slot;
    }

    auto deviceRecords() const                      { return underLock (component.deviceRecords); }

    /** The progress text handed over and not yet taken by the timer, left in place. */
    auto pendingProgressText() const                { return underLock (component.progressText); }

    bool allControlsEnabled() const     { return std::all_of (controls.begin(), controls.end(), [] (auto* c) { return c->isEnabled(); }); }
    bool noControlEnabled() const       { return std::none_of (controls.begin(), controls.end(), [] (auto* c) { return c->isEnabled(); }); }

    MainComponent& component;

private:
    /** A copy of what the workers share with the message thread, taken as they take it. */
    template <typename Member>
    Member underLock (const Member& member) const
    {
        const juce::ScopedLock sl (component.handOverLock);
        return member;
    }

    /** The five controls that follow the connection state and the workers' requests. */
    const std::array<const juce::Component*, 5> controls { component.deviceCombo.get(), component.refreshButton.get(),
                                                           component.slotCombo.get(), component.importButton.get(), component.exportButton.get() };
};
