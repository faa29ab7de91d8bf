#include "TransferFixture.h"

#include <cstdlib>
#include <thread>

void TransferFixture::SetUp()
{
    // The testbed already exists: its library has read TMPDIR, once per process.
    if (const auto* previous = std::getenv ("TMPDIR"))
        previousTmpDir = previous;

    // mkdtemp cannot hand two tests running in parallel the same folder.
    auto folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                      .getChildFile ("transfer-test-XXXXXX").getFullPathName().toStdString();
    ASSERT_NE (::mkdtemp (folder.data()), nullptr);
    scratch = juce::File (folder);
    ::setenv ("TMPDIR", scratch.getFullPathName().toRawUTF8(), 1);

    pedal = &addPedal (describePedal());
    createComponent().stopTimer (MainComponent::timerId);

    // The device list's selection answers asynchronously with a second wave-information query;
    // it must not meet a worker at the pedal.
    drainMessages();

    ASSERT_EQ (access->deviceRecords().size(), 1) << "the pedal was not found";
    ASSERT_TRUE (access->selectedDeviceKey().isNotEmpty());
}

void TransferFixture::TearDown()
{
    if (component != nullptr)
    {
        // A worker still running would outlive the component it writes to.
        if (workerMayRun)
        {
            EXPECT_TRUE (waitForWorkerEnd()) << "a worker did not finish";
        }

        takeAlerts();
    }

    MainComponentFixture::TearDown();

    if (previousTmpDir.has_value())
        ::setenv ("TMPDIR", previousTmpDir->c_str(), 1);
    else
        ::unsetenv ("TMPDIR");

    scratch.deleteRecursively();
}

void TransferFixture::startWorker (void (MainComponent::*worker)(), const juce::File& path, int slot)
{
    sentChunksAtStart = firmware().getSentChunkSizes().size();
    receivedChunksAtStart = firmware().getReceivedChunkSizes().size();
    access->prepareTransfer (path.getFullPathName(), slot);
    access->uiRequestFlags().takeControlsRequest();
    workerMayRun = true;
    std::thread (worker, component.get()).detach();
}

void TransferFixture::startExport (const juce::File& target, int slot)
{
    startWorker (&MainComponent::receiveWaveFile, target, slot);
}

void TransferFixture::startImport (const juce::File& input, int slot)
{
    startWorker (&MainComponent::sentWaveFile, input, slot);
}

bool TransferFixture::waitForWorkerEnd (int timeoutMs)
{
    const auto ended = waitFor ([this]
    {
        return ! access->busy().load() && controlsRequest() == UiRequestFlags::enableControls;
    }, timeoutMs);

    workerMayRun = workerMayRun && ! ended;
    return ended;
}

bool TransferFixture::waitForPendingChunk (size_t chunk, bool pedalSends)
{
    return waitFor ([&] { return chunksSinceStart (pedalSends).size() == chunk && pedal->countPendingUrbs() > 0; });
}

void TransferFixture::expectEnding (const juce::String& text, const juce::String& alertTitle, const juce::String& alertMessage)
{
    ASSERT_TRUE (waitForWorkerEnd());
    EXPECT_EQ (progressText(), text);
    const auto alerts = takeAlerts();

    if (alertTitle.isEmpty())
    {
        EXPECT_TRUE (alerts.empty());
        return;
    }

    ASSERT_EQ (alerts.size(), 1u);
    EXPECT_EQ (alerts[0].title, alertTitle);
    EXPECT_EQ (alerts[0].message, alertMessage);
    EXPECT_EQ (alerts[0].icon, juce::MessageBoxIconType::WarningIcon);
    EXPECT_EQ (alerts[0].buttons, juce::StringArray ("OK"));
}

std::vector<int> TransferFixture::chunksSinceStart (bool pedalSends) const
{
    const auto chunks = pedalSends ? firmware().getSentChunkSizes() : firmware().getReceivedChunkSizes();
    return { chunks.begin() + (std::ptrdiff_t) (pedalSends ? sentChunksAtStart : receivedChunksAtStart), chunks.end() };
}

UsbDeviceDescription TransferFixture::pedalWithoutInterface()
{
    UsbDeviceDescription description;
    description.configurations = { { 1, {} } };
    return description;
}

void TransferFixture::setWaveInfo (const std::function<void (PedalFirmware::WaveInfo&)>& change)
{
    PedalFirmware::WaveInfo info;
    change (info);
    firmware().setWaveInfo (info);
}

std::vector<juce::uint8> TransferFixture::pattern (size_t size, int seed)
{
    std::vector<juce::uint8> bytes (size);

    // No period that a chunk size could hide a misplaced chunk behind.
    juce::Random random (seed);

    for (auto& byte : bytes)
        byte = (juce::uint8) random.nextInt (256);

    return bytes;
}

juce::MemoryBlock TransferFixture::wavHeader (int channels, int rate, int bits, juce::uint32 dataSize)
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

juce::File TransferFixture::writeWav (const juce::String& name, juce::uint32 totalSize, int channels, int rate, int bits) const
{
    const auto dataSize = totalSize - 44;
    auto bytes = wavHeader (channels, rate, bits, dataSize);
    const auto noise = pattern (dataSize, (int) totalSize);
    bytes.append (noise.data(), noise.size());

    const auto file = scratchFile (name);
    EXPECT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));
    return file;
}

std::vector<juce::uint8> TransferFixture::bytesOf (const juce::File& file)
{
    juce::MemoryBlock block;

    if (! file.loadFileAsData (block))
        return {};

    return { (const juce::uint8*) block.getData(), (const juce::uint8*) block.getData() + block.getSize() };
}
