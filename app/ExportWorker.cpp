#include "MainComponent.h"
#include "TransferBuffer.h"
#include "WarningAlert.h"

using namespace juce;

namespace
{
constexpr size_t fileBufferSize = 16384;
constexpr size_t writePieceSize = 1 << 20;
constexpr int readPhraseReplySize = 8;

/** How an export ended, as the user is told: the progress text (empty: the label keeps what it
    shows) and whether an "Export Error" alert comes with it.
*/
struct ExportOutcome
{
    String text;
    bool alert = false;
    String alertMessage;

    static ExportOutcome unchanged()                        { return {}; }
    static ExportOutcome failed()                           { return { "Export fail", false, {} }; }
    static ExportOutcome succeeded()                        { return { "Export successful", false, {} }; }
    static ExportOutcome fileError (const Result& result)   { return { "Export fail", true, result.getErrorMessage() }; }

    static ExportOutcome libraryError (int r)
    {
        const auto text = PedalProtocol::errorCodeText (r);
        return { text, true, text };
    }
};

/** The target, empty, from its first byte. */
Result openEmptyTarget (FileOutputStream& stream)
{
    if (stream.failedToOpen())
        return stream.getStatus();

    // An old file that survived its deletion would otherwise be appended to.
    return stream.setPosition (0) ? stream.truncate() : Result::fail ("The old file cannot be replaced");
}

/** Writes and flushes the bytes, then checks that the file holds all of them. The framework's
    stream reports a short write only as false, and a short flush not at all; one write of more
    than 2 GB would be cut short by the system.
*/
Result writeAll (FileOutputStream& stream, const uint8* data, size_t numBytes)
{
    const auto start = stream.getPosition();
    size_t written = 0;

    while (written < numBytes)
    {
        const auto before = stream.getPosition();
        const auto ok = stream.write (data + written, jmin (numBytes - written, writePieceSize));
        const auto moved = (size_t) (stream.getPosition() - before);

        // After a short write the next one names the cause (a full disk, a size limit).
        if (! ok && (stream.getStatus().failed() || moved == 0))
            break;

        written += moved;
    }

    stream.flush();

    if (stream.getStatus().failed())
        return stream.getStatus();

    if (written < numBytes || stream.getFile().getSize() != start + (int64) numBytes)
        return Result::fail ("The file could not be written in full");

    return Result::ok();
}

/** How the phrase's transfers ended. */
struct Reception
{
    uint32 received = 0;
    int lastResult = 0;     // the last transfer's result; negative when one failed
    bool stalled = false;   // a transfer delivered nothing
};

/** Reads the phrase the pedal announced in chunks, into phrase, or where phrase is null one chunk
    at a time into a small buffer that is dropped: once announced, the pedal sends the phrase
    whatever we can keep of it, and would answer the next command with the rest.
*/
Reception readPhrase (KuvLibUSB_Device& device, uint8* phrase, uint32 size, uint32 chunk, std::atomic<float>& progress)
{
    HeapBlock<uint8> dropped;

    if (phrase == nullptr)
    {
        dropped.allocate (jmin (size, chunk), false);

        if (dropped == nullptr)
            return { 0, LIBUSB_ERROR_NO_MEM, false };
    }

    const auto timeoutMs = PedalProtocol::timeouts().exportChunkMs.load();
    Reception reception;

    while (reception.received < size)
    {
        const auto remainder = size - reception.received;
        const auto length = (int) jmin (remainder, chunk, (uint32) std::numeric_limits<int>::max());
        const auto isLast = (uint32) length == remainder && remainder < chunk;

        reception.lastResult = PedalProtocol::bulkTransfer (device.deviceHandle, device.inEndpoint,
                                                            phrase != nullptr ? phrase + reception.received : dropped.get(),
                                                            length, timeoutMs);

        progress.store ((float) (reception.received * 100.0 / size));

        if (reception.lastResult < 0)
            break;

        // A last, short transfer counts in full; what it did not deliver stays zero.
        const auto count = isLast ? remainder : (uint32) reception.lastResult;

        // A pedal that keeps delivering nothing would hold the export (and the program) forever.
        if (count == 0)
        {
            reception.stalled = true;
            break;
        }

        reception.received += count;
    }

    return reception;
}

/** The data phase: the phrase in chunks into memory, then into the target file. Where the phrase
    cannot be held or the target cannot be opened, the phrase is still read, then the failure told.
*/
ExportOutcome receivePhrase (KuvLibUSB_Device& device, uint32 size, uint32 chunk, const File& target,
                             std::atomic<float>& progress)
{
    TransferBuffer phrase;

    if (! phrase.allocate (size))
    {
        readPhrase (device, nullptr, size, chunk, progress);
        return ExportOutcome::libraryError (LIBUSB_ERROR_NO_MEM);
    }

    target.deleteFile();
    FileOutputStream stream (target, fileBufferSize);

    if (const auto opened = openEmptyTarget (stream); opened.failed())
    {
        phrase.release();
        readPhrase (device, nullptr, size, chunk, progress);
        return ExportOutcome::fileError (opened);
    }

    const auto reception = readPhrase (device, phrase.getData(), size, chunk, progress);

    // The bytes received before a failure are kept: they are what the pedal sent.
    const auto written = writeAll (stream, phrase.getData(), reception.received);
    phrase.release();
    progress.store (100.0f);

    if (reception.lastResult < 0)
        return ExportOutcome::libraryError (reception.lastResult);

    if (written.failed())
        return ExportOutcome::fileError (written);

    return reception.stalled ? ExportOutcome::failed() : ExportOutcome::succeeded();
}
} // namespace

void MainComponent::receiveWaveFile()
{
    if (! hasDeviceRecords())
        return;

    handOverProgressText ("Exporting");

    const auto slot = (uint32) recordIndex;
    const File target (transferPath);

    beginTransfer();

    auto outcome = ExportOutcome::unchanged();

    {
        KuvLibUSB_Device device;

        outcome = [&]
        {
            const auto opened = PedalProtocol::openRecord (device, copySelectedRecord());

            if (opened == PedalProtocol::OpenResult::notOpened)
                return ExportOutcome::unchanged();

            if (opened == PedalProtocol::OpenResult::notSetUp)
                return ExportOutcome::failed();

            uint8 reply[PedalProtocol::replyBufferSize];
            const auto info = PedalProtocol::readDeviceAndWaveInfo (device, reply);

            if (! info.valid)
                return info.result < 0 ? ExportOutcome::libraryError (info.result) : ExportOutcome::unchanged();

            storeWaveInfo (info.waveInfo);
            progressValue.store (0.0f);

            const auto r = PedalProtocol::exchange (device, PedalCommand::makePhrase (readWavData, slot, 0), reply);

            if (r < 0)
                return ExportOutcome::libraryError (r);

            // A reply of the wrong length carries no phrase size to trust.
            if (r != readPhraseReplySize)
                return ExportOutcome::failed();

            const auto size = ByteOrder::littleEndianInt (reply + 4);

            if (size == 0)
                return ExportOutcome::unchanged();

            // Transfers of no bytes would never get through the phrase.
            if (info.waveInfo.transferChunkSize == 0)
                return ExportOutcome::failed();

            return receivePhrase (device, size, info.waveInfo.transferChunkSize, target, progressValue);
        }();
    }

    if (outcome.text.isNotEmpty())
        handOverProgressText (outcome.text);

    if (outcome.alert)
        showWarningAlert ("Export Error", outcome.alertMessage);

    endTransfer();
}
