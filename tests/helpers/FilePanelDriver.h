#pragma once

#include "ComponentSearch.h"

/** Plays the user in the framework's own file panels (used where the desktop offers no native
    one) while they run their modal loop: notes each panel that appears, then cancels it, so a
    test never hangs in one.
*/
class FilePanelDriver : private juce::Timer
{
public:
    FilePanelDriver()   { startTimer (10); }

    /** Each panel seen, oldest first: its title, its mode, whether it has a window of its own,
        and which of some sample names it offers for choosing.
    */
    juce::StringArray seen;

private:
    void timerCallback() override
    {
        auto* panel = ComponentSearch::findModal<juce::FileChooserDialogBox>();
        auto* browser = panel != nullptr ? ComponentSearch::find<juce::FileBrowserComponent> (*panel) : nullptr;

        if (browser == nullptr)
            return;

        juce::StringArray offered;

        for (auto* name : { "a.wav", "a.bwf", "a.aiff", "a.aif", "a.flac", "a.ogg", "a.mp3", "a.WAV", "a.txt" })
            if (browser->isFileSuitable (juce::File::getCurrentWorkingDirectory().getChildFile (name)))
                offered.add (name);

        seen.add (panel->getName() + (browser->isSaveMode() ? " (save" : " (open")
                  + (panel->isOnDesktop() ? ", own window): " : ", inside another window): ") + offered.joinIntoString (" "));
        panel->exitModalState (0);
    }
};
