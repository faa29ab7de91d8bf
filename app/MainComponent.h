#pragma once

#include <juce_myModule/juce_myModule.h>
#include <juce_audio_formats/juce_audio_formats.h>

#include "PedalProtocol.h"
#include "UiRequestFlags.h"

/** The main window's content: its widgets, the device scan, the pedal protocol, the transfer
    workers and the timer that hands their state over to the widgets.
*/
class MainComponent : public juce::Component,
                      public juce::MultiTimer,
                      public juce::KuvLibUSBManager::Listener,
                      public juce::FileDragAndDropTarget,
                      public juce::ComboBox::Listener,
                      public juce::Button::Listener
{
public:
    MainComponent();
    ~MainComponent() override;

    void paint (juce::Graphics&) override;
    void resized() override;

    void timerCallback (int timerID) override;
    void hotPlugEvent (juce::KuvLibUSBManager::HotPlugEvent event) override;
    bool isInterestedInFileDrag (const juce::StringArray& files) override;
    void filesDropped (const juce::StringArray& files, int x, int y) override;
    void comboBoxChanged (juce::ComboBox* comboBox) override;
    void buttonClicked (juce::Button* button) override;

    void getWaveInfo (int index);
    int getDeviceList();
    int selectDevice (int index);
    int getCurrentDeviceIndex();

    void receiveWaveFile();
    void sentWaveFile();

    void writeEventCallbackTrue (int result);
    static void writeEventCallback (int result, MainComponent* component);
    static void dragWriteEventCallback (int result, MainComponent* component);

    /** True while a transfer worker runs, from the moment it is started until its thread has
        let go of this component: the application then refuses to quit.
    */
    bool isBusy() const noexcept        { return busy.load() || workerActive.load(); }

    static constexpr int timerId = 0;
    static constexpr int timerIntervalMs = 33;

    /** The slot list shows at most this many entries. A pedal has a few dozen slots; the bound
        keeps a nonsensical slot count in a reply from freezing the window while the list fills.
    */
    static constexpr int maxListedSlots = 256;

private:
    friend struct MainComponentTestAccess;

    using DeviceRecord = juce::KuvLibUSB_Device::_USB_DeviceFeature;

    // Construction
    void createWidgets();
    void applyFonts();

    // Device scan
    DeviceRecord describeDevice (libusb_device* device, const libusb_device_descriptor& descriptor) const;
    bool isSupported (const libusb_device_descriptor& descriptor) const;

    // Wave information
    void fillSlotList (juce::uint32 slotCount);

    /** Enables or disables the five controls together, in one fixed order. */
    void setControlsEnabled (bool shouldBeEnabled);

    // Hand-over for the transfer workers: each is whole under handOverLock or atomic.
    bool hasDeviceRecords();
    DeviceRecord copySelectedRecord();
    void storeWaveInfo (const WaveInfo& info);
    void handOverProgressText (const juce::String& text);
    void beginTransfer();
    void endTransfer();

    /** Hands path and the selected slot to a new thread running worker, unless one still runs. */
    void startWorker (void (MainComponent::*worker)(), const juce::String& path);

    juce::KuvLibUSBManager* usbManager = nullptr;
    std::atomic<bool> busy { false };
    std::atomic<bool> workerActive { false };   // from a worker's start until its thread's last step
    juce::Array<juce::KuvLibUSB_Device::_USB_DeviceFeature> deviceRecords;
    juce::String selectedDeviceKey;
    WaveInfo waveInfo;
    int recordIndex = 0;
    juce::String transferPath;
    juce::String supportedWildcards;
    juce::String progressText;
    UiRequestFlags uiRequestFlags { UiRequestFlags::pendingDeparture };
    std::atomic<float> progressValue { 0.0f };
    juce::String statusText;
    juce::Component::SafePointer<juce::DialogWindow> confirmDialog;
    juce::String droppedFilePath;
    juce::Typeface::Ptr embeddedTypeface;
    juce::Font embeddedFont;

    std::unique_ptr<juce::ImageComponent> backgroundImage;
    std::unique_ptr<juce::Label> statusLabel;
    std::unique_ptr<juce::Label> progressTextLabel;
    std::unique_ptr<juce::ComboBox> deviceCombo;
    std::unique_ptr<juce::TextButton> refreshButton;
    std::unique_ptr<juce::Label> slotListLabel;
    std::unique_ptr<juce::ComboBox> slotCombo;
    std::unique_ptr<juce::Label> deviceListLabel;
    std::unique_ptr<juce::TextButton> writeButton;
    std::unique_ptr<juce::TextButton> readButton;
    std::unique_ptr<juce::ProgressLabel> progressMeter;
    std::unique_ptr<juce::Label> versionLabel;
    std::unique_ptr<juce::TextButtonWithIcon> exportButton;
    std::unique_ptr<juce::TextButtonWithIcon> importButton;

    /** Guards the hand-over of progressText, deviceRecords, selectedDeviceKey and waveInfo;
        held only for a copy or an assignment.
    */
    juce::CriticalSection handOverLock;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};
