#pragma once

#include <gtest/gtest.h>

#include "helpers/FrameworkFileDialog.h"
#include "pedal/SimulatedPedal.h"
#include "pedal/TestbedChildProcess.h"

#include "AudioConversion.h"

#include <signal.h>

/** The real program, started by the test as its user would start it, on the X display the
    test runs under, with the test's simulated pedal as its USB world. The test sees what a
    user sees, windows and their pixels, and acts as a user does, with the mouse and the
    keyboard; the steps it looks at are kept as PNGs beside the test's files.

    The pedal, plugged in, holds a phrase in slot 0; the test's folder holds the same phrase.
*/
class ProgramFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        scratch = juce::File (QUENDRIX_TEST_ARTIFACT_DIR "/e2e").getChildFile (::testing::UnitTest::GetInstance()->current_test_info()->name());
        scratch.deleteRecursively();
        ASSERT_TRUE (scratch.createDirectory());

        // Before TMPDIR changes, which the testbed's library reads once; the program's own
        // temporary files land in the test's folder, where the test can see them.
        testbed = std::make_unique<UsbTestbed>();
        pedal = std::make_unique<SimulatedPedal> (*testbed);
        ::setenv ("TMPDIR", scratch.getFullPathName().toRawUTF8(), 1);

        // A sine, mono at 22.05 kHz, which the import converts to the pedal's format; long enough
        // for a Ctrl-C to fall in the middle of either transfer, short enough for the pedal.
        juce::AudioBuffer<float> sound (1, 22050 * 30);

        for (int i = 0; i < sound.getNumSamples(); ++i)
            sound.setSample (0, i, 0.5f * std::sin ((float) i * 0.05f));

        phrase = scratch.getChildFile ("phrase.wav");
        std::unique_ptr<juce::AudioFormatWriter> (juce::WavAudioFormat().createWriterFor (new juce::FileOutputStream (phrase), 22050.0, 1, 16, {}, 0))
            ->writeFromAudioSampleBuffer (sound, 0, sound.getNumSamples());
        juce::MemoryBlock wav;
        ASSERT_TRUE (phrase.loadFileAsData (wav));
        pedal->firmware().setPhrase (0, { wav.begin(), wav.end() });
        pedal->plug();
    }

    /** Starts the program, which finds the pedal before it shows its window. Another copy of the
        program anywhere on this machine, another test's, makes ours end at once without a window:
        ours then waits for the other's end and starts again.
    */
    void startProgram()
    {
        do
        {
            ASSERT_TRUE (waitFor ([this] { return ! runTool ({ "lslocks", "-n", "-o", "PATH" }).contains ("Quendrix"); }, 600000));
            program = std::make_unique<TestbedChildProcess>();
            ASSERT_TRUE (program->start (QUENDRIX_BINARY_PATH, {}));
        }
        while ((mainWindow = waitForWindow ("^Quendrix v1\\.1\\.0$", 20000)) == 0 && program->getExitCode() == 0);

        ASSERT_NE (mainWindow, 0ul) << program->getOutput();
    }

    /** Clicks the export or the import button and types the path into the filename box along
        the foot of the framework's 600 x 500 file dialog that follows, then confirms it, unless
        told otherwise: the first Return takes the folder and the name apart, the second confirms
        the file. The import's question comes first, answered with Replace where its button lies.
    */
    unsigned long chooseFile (bool exporting, const juce::File& file, const juce::StringArray& confirmation = { "key", "Return", "Return" })
    {
        actAt (mainWindow, { exporting ? 211 : 410, 277 }, { "click", "1" });

        if (! exporting)
        {
            const auto question = waitForWindow ("^Export to device$");
            const auto size = capture (question, "question").getBounds();
            actAt (question, { size.getWidth() / 2 + 35, size.getHeight() - 34 }, { "click", "1" });
        }

        const auto dialog = waitForWindow (exporting ? "^save as a Wave PCM" : "^Choose a wave file to load");
        actAt (dialog, { 300, 436 }, { "click", "1", "type", "--delay", "1", file.getFullPathName() });
        actAt (dialog, { 1, 1 }, confirmation);

        return dialog;
    }

    /** Ctrl-C in the program's terminal once the transfer has started: the program finishes the
        transfer, then ends cleanly.
    */
    void interruptMidTransfer (const std::function<size_t()>& chunksMoved)
    {
        EXPECT_TRUE (waitForProgram ([&] { return chunksMoved() > 0; })) << "the transfer did not start";
        const auto pid = runTool ({ "xdotool", "getwindowpid", juce::String (mainWindow) }).getIntValue();
        ASSERT_TRUE (pid > 0 && ::kill (pid, SIGINT) == 0);
        const auto movedAtSignal = chunksMoved();

        EXPECT_TRUE (waitForProgram ([this] { return ! program->isRunning(); }, 60000) && program->getExitCode() == 0) << program->getOutput();
        EXPECT_LT (movedAtSignal, chunksMoved()) << "the transfer had ended before the signal";
    }

    /** Waits for a condition that the program brings about, nudging it meanwhile: the framework
        reads its X connection only when the socket has data, so an event that one of its own
        calls pulled into its queue waits there until the next one arrives. On a desktop the next
        one comes at once; on a bare X server a property change stands in.
    */
    bool waitForProgram (const std::function<bool()>& condition, int timeoutMs = 10000)
    {
        return waitFor ([&]
        {
            runTool ({ "xdotool", "set_window", "--role", "nudge", juce::String (mainWindow) });
            return condition();
        }, timeoutMs);
    }

    /** Waits for a visible window whose title matches the regular expression; 0 when none came
        before the program ended or the time ran out.
    */
    unsigned long waitForWindow (const juce::String& title, int timeoutMs = 10000)
    {
        const juce::StringArray search { "xdotool", "search", "--onlyvisible", "--name", title };
        juce::String found;
        EXPECT_TRUE (waitForProgram ([&] { return ! program->isRunning() || (found = runTool (search)).isNotEmpty(); }, timeoutMs)) << title;
        return (unsigned long) found.getLargeIntValue();
    }

    /** Moves the pointer to a position in the window's own pixels, where the keyboard follows it
        with no window manager, then has xdotool act there: { "click", "1" }, { "key", "Return" }.
    */
    void actAt (unsigned long window, juce::Point<int> position, const juce::StringArray& actions)
    {
        juce::StringArray command { "xdotool", "mousemove", "--window", juce::String (window), juce::String (position.x), juce::String (position.y) };
        command.addArray (actions);
        runTool (command);
    }

    /** Runs a command-line tool to its end and gives back what it printed. */
    juce::String runTool (const juce::StringArray& command)
    {
        // Through a file: the framework's ChildProcess may close its pipe twice, the second time
        // a file that another thread has opened meanwhile, such as the testbed's socket.
        const auto output = scratch.getChildFile ("tool-output");
        const auto line = "timeout 30 '" + command.joinIntoString ("' '") + "' >'" + output.getFullPathName() + "' 2>/dev/null </dev/null";
        return std::system (line.toRawUTF8()) == 0 ? output.loadFileAsString() : juce::String();
    }

    /** The window's pixels now, kept as the step's PNG when the step is named. */
    juce::Image capture (unsigned long window, const juce::String& step = "capture")
    {
        const auto file = scratch.getChildFile (step + ".png");
        runTool ({ "import", "-window", juce::String (window), file.getFullPathName() });
        return juce::ImageFileFormat::loadFrom (file);
    }

    /** Whether the save dialog shows its title and its Save and Cancel buttons, each drawn where
        and as the framework draws it; a name has been typed, so Save is enabled.
    */
    bool saveDialogReads (const juce::Image& shown)
    {
        FrameworkFileDialog layout ("save as a Wave PCM(*.wav)", juce::FileBrowserComponent::saveMode | juce::FileBrowserComponent::canSelectFiles,
                                    scratch);
        auto& content = *layout.box.getContentComponent();
        auto reads = shows (shown, layout.titleArea(), content.getPosition(), [&] (juce::Graphics& g) { content.paint (g); });

        for (auto* text : { "Save", "Cancel" })
        {
            auto& button = dynamic_cast<juce::TextButton&> (*ComponentSearch::findButton (layout, text));
            const auto bounds = layout.getLocalArea (&button, button.getLocalBounds());
            button.setEnabled (true);

            // Inside the button's outline, so only its text is compared.
            reads = reads && shows (shown, bounds.reduced (4), bounds.getPosition(), [&] (juce::Graphics& g)
                                    { layout.getLookAndFeel().drawButtonText (g, button, false, false); });
        }

        return reads;
    }

    /** Whether the area of the window shows the text that the drawing, from the origin, puts
        there in black: dark ink where the drawing has it, within anti-aliasing.
    */
    static bool shows (const juce::Image& window, juce::Rectangle<int> area, juce::Point<int> origin,
                       const std::function<void (juce::Graphics&)>& drawing)
    {
        juce::Image reference (juce::Image::ARGB, window.getWidth(), window.getHeight(), true);
        juce::Graphics g (reference);
        g.setOrigin (origin);
        drawing (g);

        // Ink where the text covers at least half of a pixel: dark text (brightness about 0.2) over
        // a light ground (about 1) lies below their midpoint there. Anti-aliased edges differ by a
        // pixel here and there; another text differs in whole glyphs.
        int either = 0, onlyOne = 0;

        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
            {
                const auto shown = window.getPixelAt (x, y).getBrightness() < 0.61f;
                const auto expected = reference.getPixelAt (x, y).getFloatAlpha() > 0.5f;
                either += (shown || expected) ? 1 : 0;
                onlyOne += (shown != expected) ? 1 : 0;
            }

        return window.getBounds().contains (area) && either > 0 && (float) onlyOne < 0.2f * (float) either;
    }

    //==============================================================================
    // Destroyed from the last: program, pedal, testbed, the order libusb needs.
    std::unique_ptr<UsbTestbed> testbed;
    std::unique_ptr<SimulatedPedal> pedal;
    std::unique_ptr<TestbedChildProcess> program;
    unsigned long mainWindow = 0;
    juce::File scratch, phrase;
};
