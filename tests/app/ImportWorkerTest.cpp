#include "helpers/ProcessLimits.h"
#include "helpers/TransferFixture.h"

#include "AudioConversion.h"
#include "ImportError.h"

using Fault = PedalFirmware::DataFault;

namespace
{
constexpr juce::uint32 writePhraseCode = 2;
constexpr int chunk = 4096;
constexpr int wavHeaderSize = 44;

/** What the user is left with after an import. */
struct Ending
{
    juce::String text;
    float progress = 0;
    std::vector<ShownAlert> alerts;
};

std::vector<juce::uint8> writePhraseCommand (juce::uint32 slot, juce::uint32 size)
{
    std::vector<juce::uint8> bytes { 'C', 'M', 'D', 0, 2, 0, 0, 0 };

    for (auto value : { slot, size })
        for (int i = 0; i < 4; ++i)
            bytes.push_back ((juce::uint8) (value >> (8 * i)));

    return bytes;
}

/** A plain 44-byte PCM header; the framework's writer makes the same one. */
juce::MemoryBlock wavHeader (int channels, int rate, int bits, juce::uint32 dataSize)
{
    juce::MemoryOutputStream out;
    out.write ("RIFF", 4);
    out.writeInt ((int) (dataSize + 36));
    out.write ("WAVEfmt ", 8);
    out.writeInt (16);
    out.writeShort (1);
    out.writeShort ((short) channels);
    out.writeInt (rate);
    out.writeInt (rate * channels * bits / 8);
    out.writeShort ((short) (channels * bits / 8));
    out.writeShort ((short) bits);
    out.write ("data", 4);
    out.writeInt ((int) dataSize);
    return out.getMemoryBlock();
}
}

class ImportWorker : public TransferFixture
{
protected:
    Ending runImport (const juce::File& input, int slot = 0)
    {
        startImport (input, slot);
        EXPECT_TRUE (waitForWorkerEnd());
        return { progressText(), progress(), takeAlerts() };
    }

    /** A WAV file of noise with exactly this many bytes, in the given format. */
    juce::File writeWav (const juce::String& name, juce::uint32 totalSize, int channels = 2, int rate = 44100, int bits = 16)
    {
        const auto dataSize = totalSize - (juce::uint32) wavHeaderSize;
        auto bytes = wavHeader (channels, rate, bits, dataSize);
        const auto noise = pattern (dataSize, (int) totalSize);
        bytes.append (noise.data(), noise.size());

        const auto file = scratchFile (name);
        EXPECT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));
        return file;
    }

    size_t countWriteCommands()
    {
        size_t count = 0;

        for (auto& command : firmware().getCommands())
            if (command.size() == 16 && command[4] == writePhraseCode)
                ++count;

        return count;
    }

    static void expectAlert (const Ending& ending, const juce::String& title, const juce::String& message)
    {
        EXPECT_EQ (ending.text, "Import Error");
        ASSERT_EQ (ending.alerts.size(), 1u);
        EXPECT_EQ (ending.alerts[0].title, title);
        EXPECT_EQ (ending.alerts[0].message, message);
        EXPECT_EQ (ending.alerts[0].icon, juce::MessageBoxIconType::WarningIcon);
        EXPECT_EQ (ending.alerts[0].buttons, juce::StringArray ("OK"));
    }
};

TEST_F (ImportWorker, FileInThePedalsFormatArrivesByteForByteInChunksAndItsCopyGoes)
{
    setWaveInfo ([] (auto& info) { info.slotCount = 0; });   // not the import's concern

    const struct
    {
        const char* what;
        int slot;
        juce::uint32 size;
        int shortChunk, shortBytes;     // a chunk that takes fewer bytes (-1: none)
        std::vector<int> chunks;
        float progress;                 // where the last chunk started: no 100 is written
    } cases[] {
        { "several chunks",     5, 9 * chunk + 3000, -1, 0,    { chunk, chunk, chunk, chunk, chunk, chunk, chunk, chunk, chunk, 3000 },
                                                                (float) (9.0 * chunk * 100.0 / (9 * chunk + 3000)) },
        { "empty slot list",   -1, 1000,             -1, 0,    { 1000 },                                0.0f },
        { "short chunk",        0, 3 * chunk,         1, 1000, { chunk, 1000, chunk, chunk - 1000 },    (float) ((2.0 * chunk + 1000) * 100.0 / (3 * chunk)) },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto input = writeWav ("take.wav", c.size);

        if (c.shortChunk >= 0)
            firmware().shortenDataChunk (c.shortChunk, c.shortBytes);

        const auto chunksBefore = firmware().getReceivedChunkSizes().size();
        const auto ending = runImport (input, c.slot);

        EXPECT_EQ (firmware().getPhrase ((juce::uint32) c.slot), bytesOf (input));
        EXPECT_EQ (ending.text, "Import successful");
        EXPECT_TRUE (ending.alerts.empty());
        EXPECT_EQ (firmware().getCommands().back(), writePhraseCommand ((juce::uint32) c.slot, c.size));
        const auto chunks = firmware().getReceivedChunkSizes();
        EXPECT_EQ (std::vector<int> (chunks.begin() + (std::ptrdiff_t) chunksBefore, chunks.end()), c.chunks);
        EXPECT_FLOAT_EQ (ending.progress, c.progress);
        EXPECT_FALSE (getTemporaryWavFile().exists());
    }

    EXPECT_EQ (access->waveInfo().slotCount, 0u);
}

TEST_F (ImportWorker, OtherFormatsArriveAsTheConversionWritesThem)
{
    const auto input = writeWav ("mono48k.wav", 44 + 3 * 30000, 1, 48000, 24);

    EXPECT_EQ (runImport (input).text, "Import successful");
    EXPECT_FALSE (getTemporaryWavFile().exists());

    ASSERT_TRUE (convertToDeviceWav (input.getFullPathName(), 44100, 16, 2, 1 << 29).succeeded());
    EXPECT_EQ (firmware().getPhrase (0), bytesOf (getTemporaryWavFile()));
    EXPECT_GT (firmware().getPhrase (0).size(), (size_t) 100000);
}

TEST_F (ImportWorker, ProgressCountsTheChunksSentAndATimeOutIsATransferError)
{
    const auto input = writeWav ("take.wav", 4 * chunk);
    firmware().failDataChunk (2, Fault::timeOut);
    PedalProtocol::timeouts().importChunkMs = 600;

    startImport (input);

    ASSERT_TRUE (waitForPendingChunk (2, false));
    EXPECT_EQ (progress(), 25.0f);
    EXPECT_EQ (progressText(), "Importing to device");
    EXPECT_TRUE (access->busy().load());
    EXPECT_EQ (controlsRequest(), UiRequestFlags::disableControls);
    EXPECT_TRUE (getTemporaryWavFile().existsAsFile());

    ASSERT_TRUE (waitForWorkerEnd());
    expectAlert ({ progressText(), progress(), takeAlerts() }, "Transfer Error", "Error Code fffffff9");
    EXPECT_EQ (progress(), 25.0f);
    EXPECT_FALSE (getTemporaryWavFile().exists());
    EXPECT_TRUE (firmware().getPhrase (0).empty());

    // And all four, without the fault: the last value is the last chunk's start.
    EXPECT_EQ (runImport (input).progress, 75.0f);
    EXPECT_EQ (firmware().getPhrase (0), bytesOf (input));
}

TEST_F (ImportWorker, PedalMayTakeSecondsToAcceptAChunk)
{
    // The program waits a minute for a chunk: a few seconds in, it still waits.
    useProgramTimeouts();
    firmware().failDataChunk (0, Fault::timeOut);
    startImport (writeWav ("take.wav", chunk));
    ASSERT_TRUE (waitForPendingChunk (0, false));
    EXPECT_FALSE (waitForWorkerEnd (2500));

    pedal->unplug();
    ASSERT_TRUE (waitForWorkerEnd());
    expectAlert ({ progressText(), progress(), takeAlerts() }, "Transfer Error", "Error Code fffffffc");
}

TEST_F (ImportWorker, TransferFailuresAreToldWithTheLibrarysCode)
{
    const auto input = writeWav ("take.wav", 3 * chunk);

    struct Case { const char* what; std::function<void (PedalFirmware&)> arm; const char* message; };

    // A pedal that takes nothing would otherwise be sent the same bytes forever.
    const Case cases[] {
        { "stall",          [] (PedalFirmware& f) { f.failDataChunk (1, Fault::stall); },  "Error Code fffffff7" },
        { "takes nothing",  [] (PedalFirmware& f) { f.shortenDataChunk (1, 0); },          "Error Code ffffffff" },
        { "unplugged",      [] (PedalFirmware& f) { f.failDataChunk (1, Fault::unplug); }, "Error Code fffffffc" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        firmware().powerCycled();   // a pedal still waiting for bytes would take the next command as data
        c.arm (firmware());

        const auto ending = runImport (input);

        expectAlert (ending, "Transfer Error", c.message);
        EXPECT_EQ (ending.progress, 0.0f);
        EXPECT_FALSE (getTemporaryWavFile().exists());
        EXPECT_TRUE (firmware().getPhrase (0).empty());
    }
}

TEST_F (ImportWorker, PedalInformationThatCannotBeUsedIsAReadInfoError)
{
    const auto input = writeWav ("take.wav", 2000);

    using Info = PedalFirmware::WaveInfo;
    struct Case { const char* what; std::function<void (PedalFirmware&)> arm; std::function<void (Info&)> info; };

    const std::vector<Case> cases {
        { "device information empty",       [] (PedalFirmware& f) { f.setNextReplyLength (0, 0); }, {} },
        { "device information times out",   [] (PedalFirmware& f) { f.withholdNextReply (0); },     {} },
        { "wave information of 23 bytes",   [] (PedalFirmware& f) { f.setNextReplyLength (1, 23); }, {} },
        { "wave information of 25 bytes",   [] (PedalFirmware& f) { f.setNextReplyLength (1, 25); }, {} },
        { "wave information times out",     [] (PedalFirmware& f) { f.withholdNextReply (1); },     {} },
        { "sample rate 0",                  {}, [] (Info& i) { i.sampleRateHz = 0; } },
        { "no channels",                    {}, [] (Info& i) { i.channelCount = 0; } },
        { "length limit 0",                 {}, [] (Info& i) { i.maxLength = 0; } },
        { "chunk size 0",                   {}, [] (Info& i) { i.transferChunkSize = 0; } },
        { "0 bits",                         {}, [] (Info& i) { i.sampleBits = 0; } },
        { "12 bits",                        {}, [] (Info& i) { i.sampleBits = 12; } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        setWaveInfo (c.info ? c.info : [] (Info&) {});

        if (c.arm)
            c.arm (firmware());

        expectAlert (runImport (input), "Read info from device error", {});
        EXPECT_EQ (countWriteCommands(), 0u);
        EXPECT_FALSE (getTemporaryWavFile().exists());
    }

    // A reply of the right length is kept, even one the import cannot use.
    EXPECT_EQ (access->waveInfo().sampleBits, 12);
}

TEST_F (ImportWorker, InputThatCannotBeSentIsToldAndNothingIsWritten)
{
    const auto notASound = scratchFile ("notes.wav");
    ASSERT_TRUE (notASound.replaceWithText ("not a sound at all"));
    const auto commandsBefore = firmware().getCommands().size();

    // A missing input is told without opening the pedal.
    for (const auto& input : { scratchFile ("missing.wav"), scratchFile ({}), juce::File() })
    {
        SCOPED_TRACE (input.getFullPathName());
        expectAlert (runImport (input), "Input file", "file not exists");
    }

    EXPECT_EQ (firmware().getCommands().size(), commandsBefore);

    expectAlert (runImport (notASound), "Audio Format", "Format error ,check you input file");
    EXPECT_FALSE (getTemporaryWavFile().exists());

    pedal->unplug();
    expectAlert (runImport (writeWav ("take.wav", 2000)), "open usb device error", {});
    EXPECT_EQ (countWriteCommands(), 0u);
    EXPECT_FALSE (getTemporaryWavFile().exists());
}

TEST_F (ImportWorker, FileExactlyAtTheLimitIsSentAndOneByteMoreIsNot)
{
    // At 8 bits the limit is the length limit itself, so it can sit at any byte.
    const juce::uint32 size = 5001;
    const auto input = writeWav ("take.wav", size, 2, 44100, 8);

    setWaveInfo ([] (auto& info) { info.sampleBits = 8; info.maxLength = size; });
    EXPECT_EQ (runImport (input).text, "Import successful");
    EXPECT_EQ (firmware().getPhrase (0), bytesOf (input));

    setWaveInfo ([] (auto& info) { info.sampleBits = 8; info.maxLength = size - 1; });
    const auto commandsBefore = countWriteCommands();

    expectAlert (runImport (input, 1), "Input audio file size is too large",
                 "After decode to wave format.\nFile size is 5.001 KB ,larger than 5.000 KB.\n"
                 "You should reduce the length of the audio file.");
    EXPECT_EQ (countWriteCommands(), commandsBefore);
    EXPECT_FALSE (getTemporaryWavFile().exists());

    // A limit that wraps to zero in 32 bits refuses every file.
    setWaveInfo ([] (auto& info) { info.maxLength = 268435456u; });   // x 16 bits is 2^32
    expectAlert (runImport (writeWav ("short.wav", 100)), "Input audio file size is too large",
                 "After decode to wave format.\nFile size is 100 B ,larger than 0 B.\n"
                 "You should reduce the length of the audio file.");
}

TEST_F (ImportWorker, AHeaderClaimingGigabytesIsToldAsTooLargeBeforeAnythingIsWritten)
{
    // 44 bytes whose data chunk claims 4 GiB of 16-bit mono: 2^31 - 1 frames at the pedal's
    // 44100 Hz, 16-bit stereo, 8.6 GB once converted. Nothing near that may be written.
    auto bytes = wavHeader (1, 44100, 16, 0xffffffffu);
    const auto input = scratchFile ("claims.wav");
    ASSERT_TRUE (input.replaceWithData (bytes.getData(), bytes.getSize()));

    Ending ending;

    {
        const auto limit = ScopedProcessLimit::fileSize (64 << 20);
        ending = runImport (input);
    }

    const PedalFirmware::WaveInfo info;
    const auto limit = (juce::uint32) (info.maxLength * 2u);
    const auto expected = describeImportError (decodedFileTooLarge, 0, 104 + (juce::int64) 0x7fffffff * 4, limit);
    expectAlert (ending, "Input audio file size is too large", expected.message);
    EXPECT_EQ (countWriteCommands(), 0u);
    EXPECT_FALSE (getTemporaryWavFile().exists());
}

TEST_F (ImportWorker, FileTooLargeForMemoryIsATransferErrorAndNothingIsSent)
{
    // A sparse file: only its header is ever written to disk by the test.
    constexpr juce::uint32 size = 384u << 20;
    const auto input = scratchFile ("long.wav");

    {
        juce::FileOutputStream out (input);
        ASSERT_TRUE (out.write (wavHeader (2, 44100, 16, size - wavHeaderSize).getData(), wavHeaderSize));
        ASSERT_TRUE (out.setPosition (size - 1));
        ASSERT_TRUE (out.writeByte (0));
    }

    setWaveInfo ([] (auto& info) { info.maxLength = 0x0fffffffu; });

    Ending ending;

    {
        const auto limit = ScopedProcessLimit::addressSpace (256u << 20);
        ending = runImport (input);
    }

    expectAlert (ending, "Transfer Error", "Error Code fffffff5");
    EXPECT_EQ (countWriteCommands(), 0u);
    EXPECT_FALSE (getTemporaryWavFile().exists());
}

//==============================================================================
/** A pedal that lists other endpoints before 0x01 and 0x81, and talks on those two. */
class TransfersWithSeveralEndpoints : public ImportWorker
{
protected:
    UsbDeviceDescription describePedal() const override
    {
        return UsbDeviceDescription::withEndpoints ({ 0x02, 0x82, 0x01, 0x81 });
    }
};

TEST_F (TransfersWithSeveralEndpoints, ImportTalksOnTheDefaultEndpointsAndExportOnTheFirstOnes)
{
    const auto input = writeWav ("take.wav", 2000);
    EXPECT_EQ (runImport (input).text, "Import successful");
    EXPECT_EQ (firmware().getPhrase (0), bytesOf (input));

    // The export keeps the first endpoints listed, where this pedal does not answer.
    startExport (scratchFile ("out.wav"));
    ASSERT_TRUE (waitForWorkerEnd());
    EXPECT_EQ (progressText(), "Error Code fffffff9");
    EXPECT_EQ (takeAlerts().size(), 1u);
}

TEST (ImportErrorAlerts, AFileTooLargeBeforeAnyConversionIsToldWithBothSizes)
{
    // The only alert no import above can reach: every input is converted first.
    const auto shown = describeImportError (fileTooLarge, 0, 1536, 1000);
    EXPECT_EQ (shown.title, "Input audio file size is too large");
    EXPECT_EQ (shown.message, "File size is 1.536 KB ,larger than 1.000 KB.\nYou should reduce the length of the audio file.");
}
