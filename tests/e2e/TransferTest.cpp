#include "ProgramFixture.h"
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

constexpr int chunkSize = 4096;

/** The framework's own file dialog is 600 x 500; its filename box runs along its foot. */
constexpr Point<int> filenameBoxInFileDialog { 300, 436 };

/** The save dialog is a child of the main window, centred there although it is larger: only a
    strip of its filename box shows, at the window's foot.
*/
const Point<int> filenameBoxOfSaveDialog = Point<int> ((621 - 600) / 2, (385 - 500) / 2) + filenameBoxInFileDialog;

std::vector<uint8> bytesOf (const File& file)
{
    MemoryBlock block;
    file.loadFileAsData (block);
    return { (const uint8*) block.getData(), (const uint8*) block.getData() + block.getSize() };
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
    void SetUp() override
    {
        ProgramFixture::SetUp();
        ASSERT_FALSE (HasFatalFailure());

        pedal().plug();
        startProgram();
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

    /** Export button; the save dialog covers the main window's texts while it is open. */
    bool openSaveDialog()
    {
        click (mainWindow, exportButtonArea.getCentre());
        return waitForCover (true);
    }

    bool waitForCover (bool covered)
    {
        Image shown;
        const auto seen = waitForProgram ([&]
        {
            shown = capture (mainWindow);
            return readText (shown, statusArea, { connected }).isEmpty() == covered;
        }, 10000);

        keep (shown, covered ? "save-dialog" : "save-dialog-gone");
        return seen;
    }

    bool pedalSawPhraseCommand()
    {
        for (auto& command : pedal().firmware().getCommands())
            if (command.size() >= 8 && (command[4] == sentWavData || command[4] == readWavData))
                return true;

        return false;
    }
};

TEST_F (Transfer, ExportWritesThePhraseByteForByte)
{
    std::vector<uint8> phrase (200000);
    Random random (7);

    for (auto& byte : phrase)
        byte = (uint8) random.nextInt (256);

    pedal().firmware().setPhrase (0, phrase);

    ASSERT_TRUE (openSaveDialog());
    const auto target = scratch.getChildFile ("exported.wav");
    chooseFile (mainWindow, filenameBoxOfSaveDialog, target);

    EXPECT_TRUE (waitForText (progressTextArea, "Export successful", "exported"));
    EXPECT_EQ (bytesOf (target), phrase);
    EXPECT_TRUE (findWindows ("Export Error").empty());
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

    ASSERT_TRUE (openSaveDialog());
    pressKey (mainWindow, "Escape");
    EXPECT_TRUE (waitForCover (false));

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
    keepStep (alert, "transfer-error");

    pressKey (alert, "Return");
    EXPECT_TRUE (waitForWindowToGo ("Transfer Error"));
    EXPECT_TRUE (waitForText (progressTextArea, "Import Error", "import-error"));
    EXPECT_TRUE (waitForText (statusArea, "Pedal is not connected", "unplugged"));

    pedal().plug();
    EXPECT_TRUE (waitForText (statusArea, connected, "plugged-again"));

    EXPECT_TRUE (closeProgram()) << "exit code " << program->getExitCode();
}
