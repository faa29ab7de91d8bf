#pragma once

#include "ComponentSearch.h"
#include "WaitFor.h"

/** A file dialog built as the framework builds its own where the desktop has none (a browser in
    a dialog box, 600 x 500), for painting here what the program shows on the screen.
*/
struct FrameworkFileDialog : public juce::Component
{
    FrameworkFileDialog (const juce::String& title, int browserFlags, const juce::File& folder)
        : juce::Component (title),
          browser (browserFlags, folder, &filter, nullptr),
          box (title, {}, browser, false, browser.findColour (juce::AlertWindow::backgroundColourId), nullptr)
    {
        addAndMakeVisible (box);
        setSize (600, 500);
        box.setBounds (getLocalBounds());

        // The folder is read on a thread of its own, and the rows follow asynchronously.
        waitFor ([this]
        {
            const auto rows = fileList().directoryContentsList.getNumFiles();
            return ! fileList().directoryContentsList.isStillLoading() && (rows == 0 || fileList().getComponentForRowNumber (rows - 1) != nullptr);
        });
    }

    juce::FileListComponent& fileList()   { return *ComponentSearch::find<juce::FileListComponent> (browser); }

    /** Where the title is drawn: above the browser. */
    juce::Rectangle<int> titleArea()      { return getLocalBounds().withBottom (getLocalPoint (&browser, juce::Point<int>()).y).reduced (3); }

    juce::WildcardFileFilter filter { "*.wav", {}, {} };
    juce::FileBrowserComponent browser;
    juce::FileChooserDialogBox box;
};
