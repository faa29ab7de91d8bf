#include "MainComponent.h"
#include "DragWriteConfirm.h"
#include "WarningAlert.h"
#include "WriteConfirm.h"

#include <system_error>
#include <thread>

using namespace juce;

namespace
{
    // The drop dialog's callback adds this, so one handler can tell the two dialogs apart.
    constexpr int dropDialogOffset = 1000;

    using ConfirmationCallback = void (*) (int, MainComponent*);

    /** Shows content in an asynchronous modal dialog window that owns it; the answer reaches
        callback once the window has been dismissed, or nothing if owner has gone by then.
    */
    DialogWindow* launchConfirmation (std::unique_ptr<Component> content, const String& title,
                                      ConfirmationCallback callback, MainComponent& owner)
    {
        auto& contentRef = *content;

        DialogWindow::LaunchOptions options;
        options.content.setOwned (content.release());
        options.dialogTitle = title;
        options.dialogBackgroundColour = Colour (0xff0e345a);
        options.escapeKeyTriggersCloseButton = true;
        options.useNativeTitleBar = true;
        options.resizable = true;

        auto* window = options.launchAsync();
        ModalComponentManager::getInstance()->attachCallback (window, ModalCallbackFunction::forComponent (callback, &owner));
        contentRef.toFront (true);
        return window;
    }
}

//==============================================================================
void MainComponent::buttonClicked (Button* button)
{
    if (button == refreshButton.get())
    {
        if (getDeviceList() < 0)
            getWaveInfo (selectDevice (0));
    }
    else if (button == writeButton.get())
    {
        // A worker started less than a timer period ago has not had its controls disabled yet.
        if (workerActive.load())
            return;

        auto content = std::make_unique<WriteConfirm>();
        content->messageLabel->setText ("Supported formats:\n\n" + supportedWildcards + "\n\n"
                                            + translate ("A phrase already exits on the device.\nDo you want to replace it?"),
                                        dontSendNotification);

        confirmDialog = launchConfirmation (std::move (content), "Export to device", writeEventCallback, *this);
    }
    else if (button == readButton.get())
    {
        if (workerActive.load())
            return;

       #if JUCE_LINUX
        // The framework's own browser, larger than the main window, would be cut off inside it.
        Component* const browserParent = nullptr;
       #else
        Component* const browserParent = this;
       #endif

        FileChooser chooser ("save as a Wave PCM(*.wav)", File(), "*.wav", true, false, browserParent);

        if (chooser.showDialog (FileBrowserComponent::saveMode
                                    | FileBrowserComponent::canSelectFiles
                                    | FileBrowserComponent::warnAboutOverwriting,
                                nullptr))
            startWorker (&MainComponent::receiveWaveFile, chooser.getResult().getFullPathName());
    }
    else if (button == exportButton.get())
    {
        // A direct call: the hidden button's own state plays no part.
        buttonClicked (readButton.get());
    }
    else if (button == importButton.get())
    {
        buttonClicked (writeButton.get());
    }
}

bool MainComponent::isInterestedInFileDrag (const StringArray& files)
{
    return importButton->isEnabled()
        && files.size() == 1
        && files[0].toLowerCase().endsWith (".wav");
}

void MainComponent::filesDropped (const StringArray& files, int, int)
{
    if (workerActive.load())
        return;

    droppedFilePath = files[0];
    confirmDialog = launchConfirmation (std::make_unique<DragWriteConfirm> (files[0]), "Write to device",
                                        dragWriteEventCallback, *this);
}

//==============================================================================
void MainComponent::writeEventCallback (int result, MainComponent* component)
{
    if (component != nullptr)
        component->writeEventCallbackTrue (result);
}

void MainComponent::dragWriteEventCallback (int result, MainComponent* component)
{
    if (component != nullptr)
        component->writeEventCallbackTrue (result + dropDialogOffset);
}

void MainComponent::writeEventCallbackTrue (int result)
{
    if (result >= dropDialogOffset)
    {
        if (result != dropDialogOffset)
            startWorker (&MainComponent::sentWaveFile, droppedFilePath);

        return;
    }

    if (result == 0)
        return;

    FileChooser chooser ("Choose a wave file to load.", File(), supportedWildcards, true, false, nullptr);

    if (chooser.showDialog (FileBrowserComponent::openMode | FileBrowserComponent::canSelectFiles, nullptr))
        startWorker (&MainComponent::sentWaveFile, chooser.getResult().getFullPathName());
}

//==============================================================================
void MainComponent::startWorker (void (MainComponent::*worker)(), const String& path)
{
    const auto* alertTitle = worker == &MainComponent::sentWaveFile ? "Import Error" : "Export Error";

    // Claimed before the hand-over is written: a worker still running may yet read it, and two
    // transfers would meet on one pedal and one temporary file.
    if (workerActive.exchange (true))
    {
        showWarningAlert (alertTitle, "Another transfer is still running.");
        return;
    }

    recordIndex = slotCombo->getSelectedItemIndex();
    transferPath = path;

    try
    {
        std::thread ([this, worker]
        {
            (this->*worker)();
            workerActive.store (false);
        }).detach();
    }
    catch (const std::system_error&)
    {
        workerActive.store (false);
        showWarningAlert (alertTitle, "The transfer could not be started.");
    }
}
