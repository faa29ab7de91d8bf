#include "ProgramFixture.h"
#include "helpers/FrameworkFileDialog.h"

#include "AudioConversion.h"
#include "PedalProtocol.h"

using namespace juce;

namespace
{
constexpr auto confirmTitle = "Export to device";
constexpr auto openDialogTitle = "Choose a wave file to load.";
constexpr auto saveDialogTitle = "save as a Wave PCM(*.wav)";

std::vector<uint8> bytesOf (const File& file)
{
    MemoryBlock block;
    file.loadFileAsData (block);
    return { (const uint8*) block.getData(), (const uint8*) block.getData() + block.getSize() };
}

/** A phrase of random bytes. */
std::vector<uint8> randomPhrase (size_t size)
{
    std::vector<uint8> phrase (size);
    Random random ((int64) size);

    for (auto& byte : phrase)
        byte = (uint8) random.nextInt (256);

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

/** What the program must have stored: the file in the pedal's format, converted here the same way. */
std::vector<uint8> convertedForThePedal (const File& input)
{
    const PedalFirmware::WaveInfo info;
    EXPECT_TRUE (convertToDeviceWav (input.getFullPathName(), info.sampleRateHz, info.sampleBits, info.channelCount, 1 << 29).succeeded());
    return bytesOf (getTemporaryWavFile());
}
}

class Transfer : public ProgramFixture
{
protected:
    void SetUp() override
    {
        ProgramFixture::SetUp();
        ASSERT_FALSE (HasFatalFailure());

        pedal->plug();
        startProgram();
        ASSERT_FALSE (HasFatalFailure());
        ASSERT_TRUE (waitForText (statusArea, "Pedal is connected", "ready"));
    }

    /** Import button, then the question, answered with "Replace" or "Cancel" where its buttons lie. */
    unsigned long clickImport (const char* answer)
    {
        click (mainWindow, importButtonArea.getCentre());
        const auto question = waitForWindow (confirmTitle);

        if (question != 0 && answer != nullptr)
        {
            const auto size = capture (question, "question").getBounds();
            click (question, { size.getWidth() / 2 + (String (answer) == "Replace" ? 35 : -35), size.getHeight() - 34 });
        }

        return question;
    }

    /** "Replace", then the open dialog, whose window it returns. */
    unsigned long openImportDialog()
    {
        return clickImport ("Replace") != 0 ? waitForWindow (openDialogTitle) : 0;
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
        return waitForWindow (saveDialogTitle);
    }

    bool pedalSawPhraseCommand()
    {
        for (auto& command : pedal->firmware().getCommands())
            if (command.size() >= 8 && (command[4] == sentWavData || command[4] == readWavData))
                return true;

        return false;
    }

    /** Ctrl-C once the transfer has moved chunks beyond those before it: the program finishes
        the transfer, then ends cleanly.
    */
    void interruptMidTransfer (const std::function<size_t()>& chunksMoved)
    {
        const auto before = chunksMoved();
        EXPECT_TRUE (waitForProgram ([&] { return chunksMoved() > before; })) << "the transfer did not start";
        interruptProgram();
        const auto movedAtSignal = chunksMoved();

        EXPECT_TRUE (waitForProgram ([this] { return ! program->isRunning(); }, 60000));
        EXPECT_EQ (program->getExitCode(), 0);
        EXPECT_FALSE (program->getOutput().contains ("Sanitizer")) << program->getOutput();
        EXPECT_LT (movedAtSignal, chunksMoved()) << "the transfer had ended before the signal";
    }

    /** Whether the save dialog shows its title and its Save and Cancel buttons, each drawn where
        and as the framework draws it.
    */
    bool saveDialogReads (const Image& shown)
    {
        FrameworkFileDialog layout (saveDialogTitle, FileBrowserComponent::saveMode | FileBrowserComponent::canSelectFiles, scratch);
        auto& lookAndFeel = layout.getLookAndFeel();
        auto content = layout.box.getContentComponent()->getBounds().reduced (6);
        TextLayout title;
        title.createLayout (lookAndFeel.createFileChooserHeaderText (saveDialogTitle, {}), (float) content.getWidth());
        auto reads = shows (shown, layout.titleArea(), [&] (Graphics& g) { title.draw (g, content.removeFromTop ((int) title.getHeight()).toFloat()); });

        for (auto* text : { "Save", "Cancel" })
        {
            auto* button = dynamic_cast<TextButton*> (ComponentSearch::findButton (layout, text));
            const auto bounds = layout.getLocalArea (button, button->getLocalBounds());
            button->setEnabled (true);

            // Inside the button's outline, so only its text is compared.
            reads = reads && shows (shown, bounds.reduced (4), [&] (Graphics& g)
            {
                g.setOrigin (bounds.getPosition());
                lookAndFeel.drawButtonText (g, *button, false, false);
            });
        }

        return reads;
    }
};

TEST_F (Transfer, ExportWritesThePhraseThroughTheSaveDialogAndCtrlCWaitsForTheWholeFile)
{
    const auto phrase = randomPhrase (3000000);
    pedal->firmware().setPhrase (0, phrase);

    // Escape in the save dialog starts nothing.
    auto dialog = openSaveDialog();
    ASSERT_NE (dialog, 0u);
    pressKey (dialog, "Escape");
    EXPECT_TRUE (waitForWindowToGo (saveDialogTitle));
    EXPECT_FALSE (pedalSawPhraseCommand());

    const auto target = scratch.getChildFile ("exported.wav");
    ASSERT_TRUE (target.replaceWithText ("an older take"));
    dialog = openSaveDialog();
    ASSERT_NE (dialog, 0u);
    EXPECT_EQ (getGeometry (dialog).withZeroOrigin(), Rectangle<int> (600, 500));

    // With a name typed its Save button is enabled.
    click (dialog, { 300, 436 });
    typeText (dialog, target.getFullPathName());
    Image shown;
    EXPECT_TRUE (waitForProgram ([&] { return saveDialogReads (shown = capture (dialog)); })) << "the save dialog cannot be read";
    keep (shown, "save-dialog-named");

    // Return, the Save button's shortcut, takes the typed path in; the framework then asks before
    // it lets the file be replaced, and Return answers "Overwrite".
    pressKey (dialog, "Return");
    const auto question = waitForWindow ("File already exists");
    ASSERT_NE (question, 0u);
    capture (question, "overwrite-question");
    pressKey (question, "Return");
    EXPECT_TRUE (waitForWindowToGo ("File already exists"));
    EXPECT_TRUE (waitForWindowToGo (saveDialogTitle));

    EXPECT_TRUE (waitForText (progressTextArea, "Export successful", "exported"));
    EXPECT_EQ (bytesOf (target), phrase);
    EXPECT_TRUE (findWindows ("Export Error").empty());

    // Ctrl-C in the middle of the next export.
    const auto interrupted = scratch.getChildFile ("interrupted.wav");
    dialog = openSaveDialog();
    ASSERT_NE (dialog, 0u);
    chooseFile (dialog, interrupted);
    interruptMidTransfer ([this] { return pedal->firmware().getSentChunkSizes().size(); });
    EXPECT_EQ (bytesOf (interrupted), phrase);
}

TEST_F (Transfer, ImportReplacesThePhraseWithTheConvertedFileAndCtrlCWaitsForTheWholePhrase)
{
    // Cancel or Escape at each step starts nothing, and the window answers again after each.
    ASSERT_NE (clickImport ("Cancel"), 0u);
    EXPECT_TRUE (waitForWindowToGo (confirmTitle));
    const auto question = clickImport (nullptr);
    ASSERT_NE (question, 0u);
    pressKey (question, "Escape");
    EXPECT_TRUE (waitForWindowToGo (confirmTitle));
    auto dialog = openImportDialog();
    ASSERT_NE (dialog, 0u);
    pressKey (dialog, "Escape");
    EXPECT_TRUE (waitForImportDialogsToGo());
    EXPECT_FALSE (pedalSawPhraseCommand());

    const auto input = writeWav (scratch.getChildFile ("mono 22k.wav"), 22050.0, 1, 1.0);
    dialog = openImportDialog();
    ASSERT_NE (dialog, 0u);
    capture (dialog, "open-dialog");
    chooseFile (dialog, input);
    EXPECT_TRUE (waitForImportDialogsToGo());
    EXPECT_TRUE (waitForText (progressTextArea, "Import successful", "imported"));
    EXPECT_FALSE (getTemporaryWavFile().exists()) << "the program left its converted file behind";
    EXPECT_EQ (pedal->firmware().getPhrase (0), convertedForThePedal (input));

    // Ctrl-C in the middle of the next import.
    const auto longInput = writeWav (scratch.getChildFile ("long.wav"), 44100.0, 2, 15.0);
    dialog = openImportDialog();
    ASSERT_NE (dialog, 0u);
    chooseFile (dialog, longInput);
    interruptMidTransfer ([this] { return pedal->firmware().getReceivedChunkSizes().size(); });
    EXPECT_EQ (pedal->firmware().getPhrase (0), convertedForThePedal (longInput));
}

TEST_F (Transfer, UnplugDuringImportIsToldAndCloseWaitsForTheTransfer)
{
    const auto input = writeWav (scratch.getChildFile ("stereo 44k.wav"), 44100.0, 2, 0.5);
    const auto stalledChunk = 3;
    pedal->firmware().failDataChunk (stalledChunk, PedalFirmware::DataFault::timeOut);

    const auto dialog = openImportDialog();
    ASSERT_NE (dialog, 0u);
    chooseFile (dialog, input);
    EXPECT_TRUE (waitForImportDialogsToGo());

    ASSERT_TRUE (waitForProgram ([&]
    {
        return pedal->firmware().getReceivedChunkSizes().size() == stalledChunk && pedal->countPendingUrbs() > 0;
    })) << "the import did not reach the pedal";
    EXPECT_TRUE (waitForText (progressTextArea, "Importing to device", "importing"));

    // The close request is handled while the transfer hangs on the pedal: the program stays.
    desktop->requestClose (mainWindow);
    ASSERT_TRUE (waitUntilHandled (mainWindow) || ! program->isRunning()) << "the close request was not handled";
    ASSERT_TRUE (program->isRunning()) << "the program quit in the middle of a transfer";
    EXPECT_EQ (findWindows (programTitle), std::vector<unsigned long> { mainWindow });
    EXPECT_EQ (pedal->firmware().getReceivedChunkSizes(), std::vector<int> (stalledChunk, 4096));

    pedal->unplug();
    const auto alert = waitForWindow ("Transfer Error");
    ASSERT_NE (alert, 0u);

    // Kept once the alert has painted its light ground: before, the screen shows what lies beneath.
    Image shown;
    EXPECT_TRUE (waitForProgram ([&] { return (shown = capture (alert)).isValid() && shown.getPixelAt (shown.getWidth() / 2, 4) == Colour (0xffe9e9e9); }));
    keep (shown, "transfer-error");

    pressKey (alert, "Return");
    EXPECT_TRUE (waitForWindowToGo ("Transfer Error"));
    EXPECT_TRUE (waitForText (progressTextArea, "Import Error", "import-error"));
    EXPECT_TRUE (waitForText (statusArea, "Pedal is not connected", "unplugged"));
    EXPECT_TRUE (closeProgram()) << "exit code " << program->getExitCode();
}

//==============================================================================
/** The program on the tests' PATH without the "which" that hides the desktop's dialogs. */
class TransferThroughZenity : public Transfer
{
protected:
    void SetUp() override
    {
        const auto desktopPath = testsPath.fromFirstOccurrenceOf (QUENDRIX_WITHOUT_DIALOG_HELPERS_DIR + String (":"), false, false);
        bool hasZenity = false;

        for (auto& folder : StringArray::fromTokens (desktopPath, ":", {}))
            hasZenity = hasZenity || File (folder).getChildFile ("zenity").existsAsFile();

        if (! hasZenity)
            GTEST_SKIP() << "zenity is not installed";

        // The program inherits this process's environment.
        ::setenv ("PATH", desktopPath.toRawUTF8(), 1);
        Transfer::SetUp();
    }

    void TearDown() override
    {
        Transfer::TearDown();
        ::setenv ("PATH", testsPath.toRawUTF8(), 1);
    }

    const String testsPath = SystemStats::getEnvironmentVariable ("PATH", {});
};

TEST_F (TransferThroughZenity, ExportWritesThePhraseIntoTheFileNamedInZenitysDialog)
{
    const auto phrase = randomPhrase (100000);
    pedal->firmware().setPhrase (0, phrase);

    click (mainWindow, exportButtonArea.getCentre());
    const auto dialog = waitForWindow (saveDialogTitle, 30000);
    ASSERT_NE (dialog, 0u);

    // Its name box holds the keyboard focus.
    const auto target = scratch.getChildFile ("through zenity.wav");
    typeText (dialog, target.getFullPathName());
    capture (dialog, "zenity-dialog-named");

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
