#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** Plays the user in the framework's own file panels (the FileChooser used when the desktop
    offers no native one) while they run their modal loop: every panel that appears is noted and
    given the next queued answer, or cancelled when none is queued, so a test never hangs in one.
*/
class FilePanelDriver : private juce::Timer
{
public:
    struct Panel
    {
        juce::String title;
        bool saveMode = false;
        juce::StringArray listedNames;   // which of sampleNames the panel offers for choosing
        bool ownWindow = false;          // a window of its own, not drawn inside another one
    };

    FilePanelDriver();
    ~FilePanelDriver() override;

    /** The next panel is answered with file (typed into its name box, then its OK button); a
        panel that will not take it is cancelled.
    */
    void chooseNext (const juce::File& file);

    /** The panels seen so far, oldest first. */
    const std::vector<Panel>& panels() const noexcept     { return seen; }

    /** The file names each panel is asked about; one per extension of interest. */
    static const juce::StringArray sampleNames;

    /** True when this desktop runs native panels, which a test in this process cannot answer. */
    static bool nativePanelsInUse();

private:
    void timerCallback() override;
    void answer (juce::FileChooserDialogBox& panel, juce::FileBrowserComponent& browser);

    std::vector<Panel> seen;
    juce::StringArray queuedAnswers;
    juce::Component::SafePointer<juce::Component> answeredPanel;
    juce::uint32 answeredAt = 0;
    bool waitingForOk = false;

    static constexpr juce::uint32 answerDeadlineMs = 5000;
};
