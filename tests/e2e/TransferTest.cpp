#include "ProgramFixture.h"
#include "helpers/FrameworkFileDialog.h"
#include "helpers/WaitFor.h"

#include "AudioConversion.h"
#include "PedalProtocol.h"

using namespace juce;
using Fault = PedalFirmware::DataFault;

namespace
{
constexpr auto connected = "Pedal is connected";
constexpr auto confirmTitle = "Export to device";
constexpr auto openDialogTitle = "Choose a wave file to load.";
constexpr auto saveDialogTitle = "save as a Wave PCM(*.wav)";

constexpr int chunkSize = 4096;

/** The framework's own file dialog is 600 x 500; its filename box runs along its foot. */
constexpr Point<int> filenameBoxInFileDialog { 300, 436 };

std::vector<uint8> bytesOf (const File& file)
{
    MemoryBlock block;
    file.loadFileAsData (block);
    return { (const uint8*) block.getData(), (const uint8*) block.getData() + block.getSize() };
}

/** A phrase of random bytes, stored in the pedal's first slot. */
std::vector<uint8> storeRandomPhrase (PedalFirmware& firmware, size_t size, int seed)
{
    std::vector<uint8> phrase (size);
    Random random (seed);

    for (auto& byte : phrase)
        byte = (uint8) random.nextInt (256);

    firmware.setPhrase (0, phrase);
    return phrase;
}

/** A sine as a 16-bit WAV file. */
File writeWav (const File& file, double sampleRate, int channels, double seconds)
{
    AudioBuffer<float> sound (channels, (int) (sampleRate * seconds));

    for (int channel = 0; channel < channels; ++channel)
        for (int i = 0; i < sound.getNumSamples(); ++i)
            sound.setSample (channel, i, 0.5f * std::sin ((float) i * 0.05f * (float) (channel + 1)));

    std::unique_ptr<AudioFormatWriter> writer (WavAudioFormat().createWriterFor (new FileOutputStream (file), sampleRate,
                                                                                  (unsigned int) channels, 16, {}, 0));
    writer->writeFromAudioSampleBuffer (sound, 0, sound.getNumSamples());
    return file;
}
}

class Transfer : public ProgramFixture
{
protected:
    /** Whether the save dialog shows its title and its Save and Cancel buttons, read where the
        framework lays them out, as it draws them.
    */
    bool saveDialogReads (const Image& shown)
    {
        FrameworkFileDialog layout (saveDialogTitle, FileBrowserComponent::saveMode | FileBrowserComponent::canSelectFiles, scratch);
        auto& lookAndFeel = layout.getLookAndFeel();

        const auto drawTitle = [&] (const String& text, Rectangle<int> area)
        {
            auto content = layout.box.getContentComponent()->getBounds().reduced (6);
            TextLayout title;
            title.createLayout (lookAndFeel.createFileChooserHeaderText (text, {}), (float) content.getWidth());

            Image image (Image::ARGB, area.getWidth(), area.getHeight(), true);
            Graphics g (image);
            g.setOrigin (-area.getPosition());
            title.draw (g, content.removeFromTop ((int) title.getHeight()).toFloat());
            return image;
        };

        if (readText (shown, layout.titleArea(), { saveDialogTitle, openDialogTitle }, drawTitle) != saveDialogTitle)
            return false;

        for (auto* text : { "Save", "Cancel" })
        {
            auto* button = ComponentSearch::findButton (layout, text);
            const auto bounds = layout.getLocalArea (button, button->getLocalBounds());

            const auto drawButtonText = [&] (const String& candidate, Rectangle<int> area)
            {
                TextButton probe (candidate);
                probe.setSize (bounds.getWidth(), bounds.getHeight());

                Image image (Image::ARGB, area.getWidth(), area.getHeight(), true);
                Graphics g (image);
                g.setOrigin (bounds.getPosition() - area.getPosition());
                lookAndFeel.drawButtonText (g, probe, false, false);
                return image;
            };

            // Inside the button's outline, so only its text is compared.
            if (readText (shown, bounds.reduced (4), { "Save", "Open", "Cancel" }, drawButtonText) != text)
                return false;
        }

        return true;
    }

    void SetUp() override
    {
        ProgramFixture::SetUp();
        ASSERT_FALSE (HasFatalFailure());

        pedal().plug();
        startProgram (programEnvironment);
        ASSERT_FALSE (HasFatalFailure());
        ASSERT_TRUE (waitForText (statusArea, connected, "ready"));
    }

    /** The confirmation's buttons, laid out from the size the dialog's window has. */
    void answerConfirmation (unsigned long dialog, bool replace)
    {
        const auto size = getGeometry (dialog);
        click (dialog, { size.getWidth() / 2 + (replace ? 35 : -35), size.getHeight() - 34 });
    }

    /** Import button, "Replace", then the open dialog, whose window it returns. */
    unsigned long openImportDialog()
    {
        click (mainWindow, importButtonArea.getCentre());
        const auto confirmation = waitForWindow (confirmTitle);

        if (confirmation == 0)
            return 0;

        keepStep (confirmation, "confirmation");
        answerConfirmation (confirmation, true);

        const auto dialog = waitForWindow (openDialogTitle);

        if (dialog != 0)
            keepStep (dialog, "open-dialog");

        return dialog;
    }

    /** The question stays on screen behind the open dialog, and goes a moment after it. */
    bool waitForImportDialogsToGo()
    {
        return waitForWindowToGo (openDialogTitle) && waitForWindowToGo (confirmTitle);
    }

    /** Export button, then the save dialog, a whole window of its own, which it returns. */
    unsigned long openSaveDialog()
    {
        click (mainWindow, exportButtonArea.getCentre());
        const auto dialog = waitForWindow (saveDialogTitle);

        if (dialog != 0)
            keepStep (dialog, "save-dialog");

        return dialog;
    }

    /** Ctrl-C once the transfer has begun: the program finishes it, then ends cleanly. */
    void interruptMidTransfer (const std::function<size_t()>& chunksMoved)
    {
        EXPECT_TRUE (waitForProgram ([&] { return chunksMoved() > 0; })) << "the transfer did not start";
        interruptProgram();
        const auto movedAtSignal = chunksMoved();

        EXPECT_TRUE (waitForProgram ([this] { return ! program->isRunning(); }, 60000));
        EXPECT_EQ (program->getExitCode(), 0);
        EXPECT_FALSE (program->getOutput().contains ("Sanitizer")) << program->getOutput();
        EXPECT_LT (movedAtSignal, chunksMoved()) << "the transfer had ended before the signal";
    }

    StringPairArray programEnvironment;

    bool pedalSawPhraseCommand()
    {
        for (auto& command : pedal().firmware().getCommands())
            if (command.size() >= 8 && (command[4] == sentWavData || command[4] == readWavData))
                return true;

        return false;
    }
};

TEST_F (Transfer, ExportWritesThePhraseByteForByteOverAnOlderFile)
{
    const auto phrase = storeRandomPhrase (pedal().firmware(), 200000, 7);
    const auto target = scratch.getChildFile ("exported.wav");
    ASSERT_TRUE (target.replaceWithText ("an older take"));

    const auto dialog = openSaveDialog();
    ASSERT_NE (dialog, 0u);
    EXPECT_EQ (getGeometry (dialog).getWidth(), 600);
    EXPECT_EQ (getGeometry (dialog).getHeight(), 500);

    // With a name typed its Save button is enabled.
    click (dialog, filenameBoxInFileDialog);
    typeText (dialog, target.getFullPathName());
    Image shown;
    EXPECT_TRUE (waitForProgram ([&] { return saveDialogReads (shown = capture (dialog)); })) << "the save dialog cannot be read";
    keep (shown, "save-dialog-named");

    // Return, the Save button's shortcut, takes the typed path in; the framework then asks before
    // it lets the file be replaced, and Return answers "Overwrite".
    pressKey (dialog, "Return");
    const auto question = waitForWindow ("File already exists");
    ASSERT_NE (question, 0u);
    keepStep (question, "overwrite-question");
    pressKey (question, "Return");
    EXPECT_TRUE (waitForWindowToGo ("File already exists"));
    EXPECT_TRUE (waitForWindowToGo (saveDialogTitle));

    EXPECT_TRUE (waitForText (progressTextArea, "Export successful", "exported"));
    EXPECT_EQ (bytesOf (target), phrase);
    EXPECT_TRUE (findWindows ("Export Error").empty());
}

TEST_F (Transfer, CtrlCDuringExportQuitsOnceTheWholeFileIsWritten)
{
    const auto phrase = storeRandomPhrase (pedal().firmware(), 3000000, 9);

    const auto dialog = openSaveDialog();
    ASSERT_NE (dialog, 0u);
    const auto target = scratch.getChildFile ("interrupted.wav");
    chooseFile (dialog, filenameBoxInFileDialog, target);

    interruptMidTransfer ([this] { return pedal().firmware().getSentChunkSizes().size(); });
    EXPECT_EQ (bytesOf (target), phrase);
}

TEST_F (Transfer, CtrlCDuringImportQuitsOnceTheWholePhraseIsStored)
{
    const auto input = writeWav (scratch.getChildFile ("long.wav"), 44100.0, 2, 15.0);

    const auto dialog = openImportDialog();
    ASSERT_NE (dialog, 0u);
    chooseFile (dialog, filenameBoxInFileDialog, input);

    interruptMidTransfer ([this] { return pedal().firmware().getReceivedChunkSizes().size(); });

    const PedalFirmware::WaveInfo info;
    ASSERT_TRUE (convertToDeviceWav (input.getFullPathName(), info.sampleRateHz, info.sampleBits, info.channelCount, 1 << 29).succeeded());
    EXPECT_EQ (pedal().firmware().getPhrase (0), bytesOf (getTemporaryWavFile()));
}

TEST_F (Transfer, ImportReplacesThePhraseWithTheFileInThePedalsFormat)
{
    const auto input = writeWav (scratch.getChildFile ("mono 22k.wav"), 22050.0, 1, 1.0);

    const auto dialog = openImportDialog();
    ASSERT_NE (dialog, 0u);
    chooseFile (dialog, filenameBoxInFileDialog, input);
    EXPECT_TRUE (waitForImportDialogsToGo());

    EXPECT_TRUE (waitForText (progressTextArea, "Import successful", "imported"));

    // The same conversion, made here once the program has let go of the temporary file.
    EXPECT_FALSE (getTemporaryWavFile().exists()) << "the program left its converted file behind";

    const PedalFirmware::WaveInfo info;
    ASSERT_TRUE (convertToDeviceWav (input.getFullPathName(), info.sampleRateHz, info.sampleBits, info.channelCount, 1 << 29).succeeded());
    EXPECT_EQ (pedal().firmware().getPhrase (0), bytesOf (getTemporaryWavFile()));
}

TEST_F (Transfer, CancelAndEscapeStartNothing)
{
    click (mainWindow, importButtonArea.getCentre());
    auto confirmation = waitForWindow (confirmTitle);
    ASSERT_NE (confirmation, 0u);
    answerConfirmation (confirmation, false);
    EXPECT_TRUE (waitForWindowToGo (confirmTitle));

    // The window answers again, so no open dialog stands modal behind the cancelled question.
    click (mainWindow, importButtonArea.getCentre());
    confirmation = waitForWindow (confirmTitle);
    ASSERT_NE (confirmation, 0u);
    pressKey (confirmation, "Escape");
    EXPECT_TRUE (waitForWindowToGo (confirmTitle));

    const auto dialog = openImportDialog();
    ASSERT_NE (dialog, 0u);
    pressKey (dialog, "Escape");
    EXPECT_TRUE (waitForImportDialogsToGo());

    const auto saveDialog = openSaveDialog();
    ASSERT_NE (saveDialog, 0u);
    pressKey (saveDialog, "Escape");
    EXPECT_TRUE (waitForWindowToGo (saveDialogTitle));

    EXPECT_FALSE (pedalSawPhraseCommand());
}

TEST_F (Transfer, UnplugDuringImportIsToldAndCloseWaitsForTheTransfer)
{
    const auto input = writeWav (scratch.getChildFile ("stereo 44k.wav"), 44100.0, 2, 0.5);
    const auto stalledChunk = 3;
    pedal().firmware().failDataChunk (stalledChunk, Fault::timeOut);

    const auto dialog = openImportDialog();
    ASSERT_NE (dialog, 0u);
    chooseFile (dialog, filenameBoxInFileDialog, input);
    EXPECT_TRUE (waitForImportDialogsToGo());

    ASSERT_TRUE (waitForProgram ([&]
    {
        return pedal().firmware().getReceivedChunkSizes().size() == stalledChunk && pedal().countPendingUrbs() > 0;
    }, 10000)) << "the import did not reach the pedal";
    EXPECT_TRUE (waitForText (progressTextArea, "Importing to device", "importing"));

    // The close request is handled while the transfer hangs on the pedal: the program stays.
    desktop->requestClose (mainWindow);
    ASSERT_TRUE (waitUntilHandled (mainWindow) || ! program->isRunning()) << "the close request was not handled";
    ASSERT_TRUE (program->isRunning()) << "the program quit in the middle of a transfer";
    EXPECT_EQ (findWindows (programTitle), std::vector<unsigned long> { mainWindow });

    EXPECT_EQ (pedal().firmware().getReceivedChunkSizes(), std::vector<int> (stalledChunk, chunkSize));

    pedal().unplug();
    const auto alert = waitForWindow ("Transfer Error");
    ASSERT_NE (alert, 0u);

    // Kept once the alert has painted its light ground: before, the screen shows what lies beneath.
    Image shown;
    EXPECT_TRUE (waitForProgram ([&]
    {
        shown = capture (alert);
        return shown.isValid() && shown.getPixelAt (shown.getWidth() / 2, 4) == Colour (0xffe9e9e9);
    }));
    keep (shown, "transfer-error");

    pressKey (alert, "Return");
    EXPECT_TRUE (waitForWindowToGo ("Transfer Error"));
    EXPECT_TRUE (waitForText (progressTextArea, "Import Error", "import-error"));
    EXPECT_TRUE (waitForText (statusArea, "Pedal is not connected", "unplugged"));

    pedal().plug();
    EXPECT_TRUE (waitForText (statusArea, connected, "plugged-again"));

    EXPECT_TRUE (closeProgram()) << "exit code " << program->getExitCode();
}

//==============================================================================
/** The program on the tests' PATH without the "which" that hides the desktop's dialogs. */
class TransferThroughZenity : public Transfer
{
protected:
    void SetUp() override
    {
        const auto path = SystemStats::getEnvironmentVariable ("PATH", {});
        const auto desktopPath = path.fromFirstOccurrenceOf (QUENDRIX_WITHOUT_DIALOG_HELPERS_DIR + String (":"), false, false);

        if (! hasZenity (desktopPath))
            GTEST_SKIP() << "zenity is not installed";

        programEnvironment.set ("PATH", desktopPath);
        Transfer::SetUp();
    }

    static bool hasZenity (const String& path)
    {
        for (auto& folder : StringArray::fromTokens (path, ":", {}))
            if (File (folder).getChildFile ("zenity").existsAsFile())
                return true;

        return false;
    }
};

TEST_F (TransferThroughZenity, ExportWritesThePhraseIntoTheFileNamedInZenitysDialog)
{
    const auto phrase = storeRandomPhrase (pedal().firmware(), 100000, 11);

    click (mainWindow, exportButtonArea.getCentre());
    const auto dialog = waitForWindow (saveDialogTitle, 30000);
    ASSERT_NE (dialog, 0u);
    keepStep (dialog, "zenity-dialog");

    // Its name box holds the keyboard focus.
    const auto target = scratch.getChildFile ("through zenity.wav");
    typeText (dialog, target.getFullPathName());
    keepStep (dialog, "zenity-dialog-named");

    // As in the framework's own dialog, the first Return may only take the typed folder in.
    for (int presses = 0; presses < 2 && ! findWindows (saveDialogTitle).empty(); ++presses)
    {
        typeText (dialog, {}, "Return");
        waitForProgram ([&] { return findWindows (saveDialogTitle).empty(); }, 2000);
    }

    EXPECT_TRUE (waitForWindowToGo (saveDialogTitle));
    EXPECT_TRUE (waitForText (progressTextArea, "Export successful", "exported"));
    EXPECT_EQ (bytesOf (target), phrase);
}
