#include "FilePanelDriver.h"
#include "ComponentSearch.h"

using namespace juce;

const StringArray FilePanelDriver::sampleNames { "a.wav", "a.bwf", "a.aiff", "a.aif", "a.flac", "a.ogg",
                                                "a.mp3", "a.WAV", "a.txt" };

FilePanelDriver::FilePanelDriver()
{
    startTimer (10);
}

FilePanelDriver::~FilePanelDriver()
{
    stopTimer();
}

void FilePanelDriver::chooseNext (const File& file)
{
    queuedAnswers.add (file.getFullPathName());
}

bool FilePanelDriver::nativePanelsInUse()
{
    return FileChooser::isPlatformDialogAvailable();
}

void FilePanelDriver::timerCallback()
{
    auto* panel = ComponentSearch::findModal<FileChooserDialogBox>();
    auto* browser = panel != nullptr ? ComponentSearch::find<FileBrowserComponent> (*panel) : nullptr;

    if (browser == nullptr)
        return;

    if (panel != answeredPanel.getComponent())
    {
        answer (*panel, *browser);
        return;
    }

    // The name box tells the panel of its new text asynchronously; OK is enabled after that.
    if (waitingForOk)
    {
        if (auto* ok = ComponentSearch::findButton (*panel, browser->getActionVerb()); ok != nullptr && ok->isEnabled())
        {
            waitingForOk = false;
            ok->triggerClick();
            return;
        }
    }

    // A panel that ignored its answer is closed, so the test fails instead of hanging in it.
    if (Time::getMillisecondCounter() - answeredAt > answerDeadlineMs)
        panel->exitModalState (0);
}

void FilePanelDriver::answer (FileChooserDialogBox& panel, FileBrowserComponent& browser)
{
    answeredPanel = &panel;
    answeredAt = Time::getMillisecondCounter();

    Panel noted { panel.getName(), browser.isSaveMode(), {}, panel.isOnDesktop() };

    for (auto& name : sampleNames)
        if (browser.isFileSuitable (File::getCurrentWorkingDirectory().getChildFile (name)))
            noted.listedNames.add (name);

    seen.push_back (noted);

    if (queuedAnswers.isEmpty())
    {
        waitingForOk = false;

        if (auto* cancel = ComponentSearch::findButton (panel, TRANS ("Cancel")))
            cancel->triggerClick();
        else
            panel.exitModalState (0);

        return;
    }

    browser.setFileName (queuedAnswers[0]);
    queuedAnswers.remove (0);
    waitingForOk = true;
}
