#include "MainComponent.h"
#include "AudioConversion.h"

#include <BinaryData.h>

using namespace juce;

namespace
{
    const Colour labelTextColour { 0xff081b39 };
    const Colour backgroundColour { 0xffdedfe0 };

    template <typename WidgetType, typename... Args>
    WidgetType& addWidget (Component& parent, std::unique_ptr<WidgetType>& member, Args&&... args)
    {
        member = std::make_unique<WidgetType> (std::forward<Args> (args)...);
        parent.addAndMakeVisible (*member);
        return *member;
    }

    void setUpLabel (Label& label, Justification justification)
    {
        label.setEditable (false, false, false);
        label.setJustificationType (justification);
    }

    void setUpCombo (ComboBox& combo, ComboBox::Listener& listener)
    {
        combo.setEditableText (false);
        combo.setJustificationType (Justification::centredLeft);
        combo.setTextWhenNothingSelected ({});
        combo.setTextWhenNoChoicesAvailable ({});
        combo.addListener (&listener);
    }

    std::unique_ptr<TextButtonWithIcon> makeLargeButton (const String& text, Button::Listener& listener)
    {
        auto button = std::make_unique<TextButtonWithIcon> (text, &listener, 0.1f, false,
                                                            0xffcccccc, 0xff000000, 0x00000000,
                                                            0x00000000, 0xff26c5ff, 0xffffffff);
        button->setName ("new component");
        return button;
    }
}

//==============================================================================
MainComponent::MainComponent()
{
    usbManager = KuvLibUSBManager::getSharedManager();
    usbManager->addSupportedDevice (PedalProtocol::pedalVendorId, PedalProtocol::pedalProductId);

    // From here on hotPlugEvent may arrive on the "libusb" thread; the flags already hold their
    // initial departure bit, so the first tick rescans whatever happens meanwhile.
    usbManager->addHotPlugListener (this);

    createWidgets();

    // The alerts prefer the platform's own message boxes. Set once here, on the message thread:
    // a worker that set it before its alert would write the look-and-feel another thread reads.
    getLookAndFeel().setUsingNativeAlertWindows (true);

    embeddedTypeface = Typeface::createSystemTypefaceFor (BinaryData::temp_binary_data_1,
                                                          (size_t) BinaryData::temp_binary_data_1Size);
    embeddedFont = Font (embeddedTypeface).withHeight (14.0f);

    deviceListLabel->setVisible (false);
    deviceCombo->setVisible (false);
    slotListLabel->setVisible (false);
    slotCombo->setVisible (false);

    applyFonts();

    versionLabel->setText ("Version: " QUENDRIX_VERSION_STRING, dontSendNotification);
    refreshButton->setVisible (false);

    setSize (621, 385);
    startTimer (timerId, timerIntervalMs);

    getDeviceList();
    getWaveInfo (selectDevice (0));

    backgroundImage->setImage (ImageCache::getFromMemory (BinaryData::temp_binary_data_2,
                                                          BinaryData::temp_binary_data_2Size));
    writeButton->setVisible (false);
    readButton->setVisible (false);

    supportedWildcards = buildSupportedWildcards();
}

MainComponent::~MainComponent()
{
    // The manager goes first, so no hot-plug callback can reach a half-destroyed listener.
    if (KuvLibUSBManager::shardManager != nullptr)
    {
        delete KuvLibUSBManager::shardManager;
        KuvLibUSBManager::shardManager = nullptr;
    }

    usbManager = nullptr;

    if (auto* dialog = confirmDialog.getComponent())
    {
        dialog->exitModalState (0);
        confirmDialog = nullptr;
        delete dialog;
    }

    backgroundImage = nullptr;
    statusLabel = nullptr;
    progressTextLabel = nullptr;
    deviceCombo = nullptr;
    refreshButton = nullptr;
    slotListLabel = nullptr;
    slotCombo = nullptr;
    deviceListLabel = nullptr;
    writeButton = nullptr;
    readButton = nullptr;
    progressMeter = nullptr;
    versionLabel = nullptr;
    exportButton = nullptr;
    importButton = nullptr;
}

void MainComponent::createWidgets()
{
    addWidget (*this, backgroundImage, "new component");

    setUpLabel (addWidget (*this, statusLabel, "new label", translate ("Pedal not connected")), Justification::centred);
    statusLabel->setColour (Label::textColourId, labelTextColour);

    setUpLabel (addWidget (*this, progressTextLabel, "new label", String()), Justification::centred);
    progressTextLabel->setColour (Label::textColourId, labelTextColour);

    setUpCombo (addWidget (*this, deviceCombo, "new combo box"), *this);

    addWidget (*this, refreshButton, "new button").setButtonText (translate ("fresh"));
    refreshButton->addListener (this);

    setUpLabel (addWidget (*this, slotListLabel, "new label", translate ("wav list")), Justification::centredLeft);
    slotListLabel->setBounds (8, 280, 150, 24);

    setUpCombo (addWidget (*this, slotCombo, "new combo box"), *this);

    setUpLabel (addWidget (*this, deviceListLabel, "new label", translate ("dev list")), Justification::centredLeft);
    deviceListLabel->setBounds (8, 216, 150, 24);

    for (auto* member : { &writeButton, &readButton })
    {
        auto& button = addWidget (*this, *member, "new button");
        button.setButtonText (translate (member == &writeButton ? "Write" : "Read"));
        button.setRadioGroupId (1);
        button.addListener (this);
    }

    addWidget (*this, progressMeter).setName ("new component");

    setUpLabel (addWidget (*this, versionLabel, "new label", String()), Justification::centredLeft);
    versionLabel->setColour (Label::textColourId, labelTextColour);

    exportButton = makeLargeButton ("Export WAV file from pedal", *this);
    addAndMakeVisible (*exportButton);

    importButton = makeLargeButton ("Import playback to pedal", *this);
    addAndMakeVisible (*importButton);
}

void MainComponent::applyFonts()
{
    slotListLabel->setFont (embeddedFont);
    deviceListLabel->setFont (embeddedFont);

    embeddedFont.setHeight (12.0f);
    versionLabel->setFont (embeddedFont);

    embeddedFont.setHeight (28.0f);
    progressTextLabel->setFont (embeddedFont);
    statusLabel->setFont (embeddedFont);
}

//==============================================================================
void MainComponent::paint (Graphics& g)
{
    g.fillAll (backgroundColour);
}

void MainComponent::resized()
{
    const auto w = getWidth();
    const auto h = getHeight();

    // A widget centred on a height proportion: its top is the centre minus half its height.
    const auto centredOn = [this] (float centre, float height)
    {
        return proportionOfHeight (centre) - proportionOfHeight (height) / 2;
    };

    backgroundImage->setBounds (0, 0, w, h);
    statusLabel->setBounds (proportionOfWidth (0.0274f), centredOn (0.2805f, 0.1195f),
                            proportionOfWidth (0.9469f), proportionOfHeight (0.1195f));
    progressTextLabel->setBounds (0, proportionOfHeight (0.3533f), w, proportionOfHeight (0.1195f));
    deviceCombo->setBounds (8, 248, w - 67, 24);
    refreshButton->setBounds (proportionOfWidth (0.0531f), proportionOfHeight (0.0390f),
                              proportionOfWidth (0.1337f), proportionOfHeight (0.1195f));
    slotCombo->setBounds (8, 312, w - 67, 24);
    writeButton->setBounds (proportionOfWidth (0.5201f), centredOn (0.7182f, 0.0805f),
                            proportionOfWidth (0.2802f), proportionOfHeight (0.0805f));
    readButton->setBounds (proportionOfWidth (0.1997f), centredOn (0.7182f, 0.0805f),
                           proportionOfWidth (0.2802f), proportionOfHeight (0.0805f));
    progressMeter->setBounds (proportionOfWidth (0.2496f), centredOn (0.4987f, 0.0208f),
                              proportionOfWidth (0.4992f), proportionOfHeight (0.0208f));
    versionLabel->setBounds (0, h - proportionOfHeight (0.0805f),
                             proportionOfWidth (0.3205f), proportionOfHeight (0.0805f));

    // The large buttons stand in for the hidden plain ones, in their places.
    exportButton->setBounds (readButton->getBounds());
    importButton->setBounds (writeButton->getBounds());
}

void MainComponent::setControlsEnabled (bool shouldBeEnabled)
{
    for (auto* control : { static_cast<Component*> (deviceCombo.get()),
                           static_cast<Component*> (refreshButton.get()),
                           static_cast<Component*> (slotCombo.get()),
                           static_cast<Component*> (importButton.get()),
                           static_cast<Component*> (exportButton.get()) })
        control->setEnabled (shouldBeEnabled);
}
