#include "AudioConversion.h"
#include "ImportError.h"
#include "MainComponent.h"
#include "TransferBuffer.h"
#include "WarningAlert.h"

using namespace juce;

namespace
{
/** What an import found: its result, and what the alert's message needs. */
struct ImportResult
{
    ImportError error = noImportError;
    int transferResult = 0;     // r of the failing transfer, for transferError
    int64 size = 0;             // the file to send, for the size errors
    uint32 limit = 0;

    static ImportResult failed (ImportError error, int transferResult = 0)
    {
        ImportResult result;
        result.error = error;
        result.transferResult = transferResult;
        return result;
    }

    static ImportResult tooLarge (ImportError error, int64 size, uint32 limit)
    {
        auto result = failed (error);
        result.size = size;
        result.limit = limit;
        return result;
    }
};

/** The pedal's format and chunking must make sense before anything is converted or sent. */
bool isUsableForImport (const WaveInfo& info) noexcept
{
    return info.sampleRateHz != 0
        && info.channelCount != 0
        && info.maxLength != 0
        && info.transferChunkSize != 0
        && info.sampleBits != 0
        && info.sampleBits % 8 == 0;
}

/** Checks the file to send against the pedal's limit, reads it whole and sends it in chunks. */
ImportResult sendFile (KuvLibUSB_Device& device, const String& sendPath, bool isConverted, uint32 slot,
                       const WaveInfo& info, const std::function<void (const String&)>& setProgressText,
                       std::atomic<float>& progress)
{
    FileInputStream stream { File (sendPath) };

    // Unreadable after a successful conversion: nothing trustworthy to send.
    if (stream.failedToOpen() || ! stream.setPosition (0))
        return ImportResult::failed (formatError);

    const auto fileSize = stream.getTotalLength();

    if (fileSize > (int64) info.sizeLimit())
        return ImportResult::tooLarge (isConverted ? decodedFileTooLarge : fileTooLarge, fileSize, info.sizeLimit());

    TransferBuffer file;

    switch (file.load (stream, fileSize))
    {
        case TransferBuffer::LoadResult::loaded:
            break;

        case TransferBuffer::LoadResult::noMemory:
            return ImportResult::failed (transferError, LIBUSB_ERROR_NO_MEM);

        // Whatever the buffer holds then is not the file: it must not reach the pedal.
        case TransferBuffer::LoadResult::shortRead:
            return ImportResult::failed (formatError);
    }

    const auto size = (uint32) fileSize;   // below the limit, so below 2^29
    uint8 reply[PedalProtocol::replyBufferSize];

    // The pedal's answer to the write command says nothing we act on.
    PedalProtocol::exchange (device, PedalCommand::makePhrase (sentWavData, slot, size), reply);

    setProgressText ("Importing to device");

    const auto chunk = info.transferChunkSize;
    const auto timeoutMs = PedalProtocol::timeouts().importChunkMs.load();

    for (uint32 offset = 0; offset < size;)
    {
        const auto length = (int) jmin (size - offset, chunk);
        auto r = PedalProtocol::bulkTransfer (device.deviceHandle, device.outEndpoint, file.getData() + offset,
                                              length, timeoutMs);

        // A pedal that takes nothing would hold the import (and the program) forever.
        if (r == 0)
            r = LIBUSB_ERROR_IO;

        if (r < 0)
            return ImportResult::failed (transferError, r);

        progress.store ((float) (offset * 100.0 / size));
        offset += (uint32) r;
    }

    setProgressText ("Import successful");
    return {};
}
} // namespace

void MainComponent::sentWaveFile()
{
    if (! hasDeviceRecords())
        return;

    beginTransfer();
    handOverProgressText ("Importing");

    const auto inputPath = transferPath;
    const auto slot = (uint32) recordIndex;
    const auto temporaryFile = getTemporaryWavFile();
    bool converted = false;
    ImportResult result;

    {
        KuvLibUSB_Device device;

        result = [&]
        {
            if (! File (inputPath).existsAsFile())
                return ImportResult::failed (fileNotExists);

            handOverProgressText ("Getting device info");

            if (PedalProtocol::openRecord (device, copySelectedRecord()) != PedalProtocol::OpenResult::ready)
                return ImportResult::failed (openDeviceError);

            PedalProtocol::preferDefaultEndpoints (device);

            uint8 reply[PedalProtocol::replyBufferSize];
            const auto info = PedalProtocol::readDeviceAndWaveInfo (device, reply);

            if (info.valid)
                storeWaveInfo (info.waveInfo);

            if (! info.valid || ! isUsableForImport (info.waveInfo))
                return ImportResult::failed (readInfoError);

            handOverProgressText ("Decoding input file");

            const auto& wave = info.waveInfo;

            const auto conversion = convertToDeviceWav (inputPath, (double) wave.sampleRateHz, wave.sampleBits,
                                                        wave.channelCount, (int64) wave.sizeLimit());

            // Too large is known before anything is written: the alert names the size the file would have.
            if (conversion.outcome == ConversionResult::tooLarge)
                return ImportResult::tooLarge (decodedFileTooLarge, conversion.size, wave.sizeLimit());

            if (! conversion.succeeded())
                return ImportResult::failed (formatError);

            converted = true;
            const auto sendPath = temporaryFile.getFullPathName();

            return sendFile (device, sendPath, sendPath != inputPath, slot, wave,
                             [this] (const String& text) { handOverProgressText (text); }, progressValue);
        }();
    }

    if (result.error != noImportError)
    {
        handOverProgressText ("Import Error");
        const auto alert = describeImportError (result.error, result.transferResult, result.size, result.limit);
        showWarningAlert (alert.title, alert.message);
    }

    // Whatever happened after the conversion, the converted copy goes.
    if (converted && temporaryFile.getFullPathName() != inputPath)
        temporaryFile.deleteFile();

    endTransfer();
}
