#include "LibUSB_ForKUVApplication.h"

using namespace juce;

namespace
{
    const String preferredSansSerifName ("Arial Unicode MS");

    LookAndFeel_V4::ColourScheme applicationColours()
    {
        return { Colour (0xffe9e9e9),   // window background
                 Colour (0xffe9e9e9),   // widget background
                 Colour (0xffffffff),   // menu background
                 Colour (0xffbbbbbb),   // outline
                 Colour (0xffffffff),   // default text
                 Colour (0xffa9a9a9),   // default fill
                 Colour (0xffffffff),   // highlighted text
                 Colour (0xff42a2c8),   // highlighted fill
                 Colour (0xff000000) }; // menu text
    }
}

LibUSB_ForKUVApplication::LibUSB_ForKUVApplication()
    : lookAndFeel (applicationColours())
{
}

LibUSB_ForKUVApplication::~LibUSB_ForKUVApplication() = default;

const String LibUSB_ForKUVApplication::getApplicationName()
{
    return "Quendrix v" + getApplicationVersion();
}

const String LibUSB_ForKUVApplication::getApplicationVersion()
{
    return QUENDRIX_VERSION_STRING;
}

bool LibUSB_ForKUVApplication::moreThanOneInstanceAllowed()
{
    return false;
}

void LibUSB_ForKUVApplication::initialise (const String&)
{
    Desktop::getInstance().setDefaultLookAndFeel (&lookAndFeel);

   #if JUCE_LINUX
    // Here the framework draws the file browsers, the overwrite question and the alerts itself,
    // on light grey, where the scheme's white text could not be read. The main window's visible
    // widgets and the confirmation dialogs set colours of their own and keep them.
    const int textColourIds[] { AlertWindow::textColourId, FileChooserDialogBox::titleTextColourId,
                                Label::textColourId, Label::textWhenEditingColourId,
                                TextButton::textColourOffId, TextButton::textColourOnId,
                                TextEditor::textColourId, TextEditor::highlightedTextColourId,
                                ComboBox::textColourId, ComboBox::arrowColourId, ListBox::textColourId,
                                DirectoryContentsDisplayComponent::highlightedTextColourId,
                                PopupMenu::highlightedTextColourId };

    for (auto id : textColourIds)
        lookAndFeel.setColour (id, Colour (0xff000000));
   #endif

    // Naming a family the platform lacks would leave every text in the default font without
    // glyphs (blank buttons, blank alerts), so the platform's own default stays then.
    if (Font::findAllTypefaceNames().contains (preferredSansSerifName))
        LookAndFeel::getDefaultLookAndFeel().setDefaultSansSerifTypefaceName (preferredSansSerifName);

    // The program ships no translations: an empty table makes translate() give every text as
    // written.
    LocalisedStrings::setCurrentMappings (new LocalisedStrings (String(), false));

    mainWindow = std::make_unique<MainWindow> (getApplicationName());

    quitSignal = std::make_unique<QuitSignal> ([this] { return isTransferRunning(); },
                                               [this] { systemRequestedQuit(); });
}

void LibUSB_ForKUVApplication::shutdown()
{
    quitSignal = nullptr;

    // The manager goes before the window, so its thread calls no listener being destroyed.
    delete KuvLibUSBManager::shardManager;
    KuvLibUSBManager::shardManager = nullptr;

    mainWindow = nullptr;
}

void LibUSB_ForKUVApplication::anotherInstanceStarted (const String&)
{
}

void LibUSB_ForKUVApplication::systemRequestedQuit()
{
    // A transfer must never be cut off: the request is dropped and the user asks again later.
    if (isTransferRunning())
        return;

    quit();
}

bool LibUSB_ForKUVApplication::isTransferRunning() const
{
    return mainWindow != nullptr && mainWindow->mainComponent != nullptr && mainWindow->mainComponent->isBusy();
}

//==============================================================================
LibUSB_ForKUVApplication::MainWindow::MainWindow (const String& name)
    : DocumentWindow (name,
                      Desktop::getInstance().getDefaultLookAndFeel().findColour (ResizableWindow::backgroundColourId),
                      DocumentWindow::allButtons)
{
    auto content = std::make_unique<MainComponent>();
    mainComponent = content.get();

    setUsingNativeTitleBar (true);
    setContentOwned (content.release(), true);
    centreWithSize (getWidth(), getHeight());
    setResizable (false, false);
    setVisible (true);
}

LibUSB_ForKUVApplication::MainWindow::~MainWindow() = default;

void LibUSB_ForKUVApplication::MainWindow::closeButtonPressed()
{
    if (mainComponent != nullptr && mainComponent->isBusy())
        return;

    JUCEApplication::getInstance()->systemRequestedQuit();
}
