#include "PedalFirmware.h"

#include <cerrno>

namespace
{
constexpr int shortCommandSize = 8;
constexpr int phraseCommandSize = 16;
constexpr int phraseAnswerSize = 8;

enum Code : juce::uint32
{
    deviceInformation = 0,
    waveInformation = 1,
    writePhrase = 2,
    readPhrase = 3
};

void putLittleEndian (std::vector<juce::uint8>& bytes, size_t offset, juce::uint32 value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes[offset + (size_t) i] = (juce::uint8) (value >> (8 * i));
}

juce::uint32 readLittleEndian32 (const juce::uint8* bytes)
{
    return (juce::uint32) bytes[0] | ((juce::uint32) bytes[1] << 8) | ((juce::uint32) bytes[2] << 16) | ((juce::uint32) bytes[3] << 24);
}
}

std::vector<juce::uint8> PedalFirmware::WaveInfo::toBytes() const
{
    std::vector<juce::uint8> bytes (24);
    putLittleEndian (bytes, 0, reserved, 4);
    putLittleEndian (bytes, 4, slotCount, 4);
    putLittleEndian (bytes, 8, sampleRateHz, 4);
    putLittleEndian (bytes, 12, sampleBits, 2);
    putLittleEndian (bytes, 14, channelCount, 2);
    putLittleEndian (bytes, 16, maxLength, 4);
    putLittleEndian (bytes, 20, transferChunkSize, 4);
    return bytes;
}

//==============================================================================
PedalFirmware::PedalFirmware (juce::uint8 commandOut, juce::uint8 replyIn)
    : commandEndpoint (commandOut), replyEndpoint (replyIn)
{
    const juce::String text ("Quendrix sim pedal 1.0");
    deviceInfo.assign (text.toRawUTF8(), text.toRawUTF8() + text.getNumBytesAsUTF8());
}

void PedalFirmware::setWaveInfo (const WaveInfo& info)
{
    const std::lock_guard<std::mutex> guard (lock);
    waveInfo = info;
}

void PedalFirmware::setDeviceInfo (std::vector<juce::uint8> bytes)
{
    const std::lock_guard<std::mutex> guard (lock);
    deviceInfo = std::move (bytes);
}

void PedalFirmware::setPhrase (juce::uint32 slot, std::vector<juce::uint8> bytes)
{
    const std::lock_guard<std::mutex> guard (lock);
    phrases[slot] = std::move (bytes);
}

std::vector<juce::uint8> PedalFirmware::getPhrase (juce::uint32 slot) const
{
    const std::lock_guard<std::mutex> guard (lock);
    const auto found = phrases.find (slot);
    return found != phrases.end() ? found->second : std::vector<juce::uint8>();
}

std::vector<std::vector<juce::uint8>> PedalFirmware::getCommands() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return commands;
}

std::vector<int> PedalFirmware::getReceivedChunkSizes() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return receivedChunkSizes;
}

std::vector<int> PedalFirmware::getSentChunkSizes() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return sentChunkSizes;
}

void PedalFirmware::withholdNextReply (juce::uint32 code)
{
    const std::lock_guard<std::mutex> guard (lock);
    faults.push_back ({ Fault::Kind::withholdReply, code });
}

void PedalFirmware::setNextReplyLength (juce::uint32 code, int length)
{
    const std::lock_guard<std::mutex> guard (lock);
    faults.push_back ({ Fault::Kind::replyLength, code, 0, length });
}

void PedalFirmware::failDataChunk (int chunk, DataFault fault)
{
    const std::lock_guard<std::mutex> guard (lock);
    faults.push_back ({ Fault::Kind::dataChunk, 0, chunk, 0, fault });
}

void PedalFirmware::shortenDataChunk (int chunk, int bytes)
{
    const std::lock_guard<std::mutex> guard (lock);
    faults.push_back ({ Fault::Kind::shortChunk, 0, chunk, bytes });
}

void PedalFirmware::delayNextReply (juce::uint32 code, int milliseconds)
{
    const std::lock_guard<std::mutex> guard (lock);
    faults.push_back ({ Fault::Kind::lateReply, code, 0, milliseconds });
}

void PedalFirmware::delayDataChunk (int chunk, int milliseconds)
{
    const std::lock_guard<std::mutex> guard (lock);
    faults.push_back ({ Fault::Kind::lateChunk, 0, chunk, milliseconds });
}

//==============================================================================
BulkFunction::Outcome PedalFirmware::bulkOut (juce::uint8 endpoint, const juce::uint8* data, int length)
{
    const std::lock_guard<std::mutex> guard (lock);

    if (endpoint != commandEndpoint)
        return Outcome::completeOut();

    return phase == Phase::receiving ? receiveChunk (data, length)
                                     : takeCommand (data, length);
}

BulkFunction::Outcome PedalFirmware::bulkIn (juce::uint8 endpoint, int maxLength)
{
    const std::lock_guard<std::mutex> guard (lock);

    // The host asks again and again, so a late answer is one not given until its time.
    if (endpoint != replyEndpoint || juce::Time::getMillisecondCounterHiRes() < quietUntilMs)
        return Outcome::waiting();

    if (! replies.empty())
    {
        auto reply = std::move (replies.front());
        replies.pop_front();
        return Outcome::completeIn (std::move (reply));
    }

    if (phase == Phase::sending)
        return sendChunk (maxLength);

    return Outcome::waiting();
}

void PedalFirmware::powerCycled()
{
    const std::lock_guard<std::mutex> guard (lock);
    startIdle();
}

//==============================================================================
BulkFunction::Outcome PedalFirmware::takeCommand (const juce::uint8* data, int length)
{
    commands.emplace_back (data, data + length);

    // A new command ends whatever the host left unfinished, unread answers included.
    startIdle();

    const auto isCommand = (length == shortCommandSize || length == phraseCommandSize)
                        && data[0] == 'C' && data[1] == 'M' && data[2] == 'D' && data[3] == 0;

    if (! isCommand)
        return Outcome::completeOut();

    const auto code = readLittleEndian32 (data + 4);
    const auto expectedLength = (code == writePhrase || code == readPhrase) ? phraseCommandSize : shortCommandSize;

    if (code > readPhrase || length != expectedLength)
        return Outcome::completeOut();

    auto answer = answerTo (code, data);
    Fault fault;

    if (takeFault (Fault::Kind::withholdReply, code, 0, fault))
        return Outcome::completeOut();

    if (takeFault (Fault::Kind::replyLength, code, 0, fault))
        answer.resize ((size_t) fault.length);

    if (takeFault (Fault::Kind::lateReply, code, 0, fault))
        quietUntilMs = juce::Time::getMillisecondCounterHiRes() + fault.length;

    replies.push_back (std::move (answer));
    return Outcome::completeOut();
}

std::vector<juce::uint8> PedalFirmware::answerTo (juce::uint32 code, const juce::uint8* command)
{
    switch (code)
    {
        case deviceInformation:
            return deviceInfo;

        case waveInformation:
            return waveInfo.toBytes();

        case readPhrase:
        {
            phaseSlot = readLittleEndian32 (command + 8);
            const auto found = phrases.find (phaseSlot);
            phaseData = found != phrases.end() ? found->second : std::vector<juce::uint8>();
            phase = phaseData.empty() ? Phase::idle : Phase::sending;

            std::vector<juce::uint8> answer (phraseAnswerSize);
            putLittleEndian (answer, 4, (juce::uint32) phaseData.size(), 4);
            return answer;
        }

        case writePhrase:
        default:
        {
            phaseSlot = readLittleEndian32 (command + 8);
            expectedBytes = readLittleEndian32 (command + 12);

            if (expectedBytes == 0)
                phrases[phaseSlot].clear();
            else
                phase = Phase::receiving;

            return std::vector<juce::uint8> (phraseAnswerSize);
        }
    }
}

BulkFunction::Outcome PedalFirmware::receiveChunk (const juce::uint8* data, int length)
{
    const auto chunk = chunkIndex++;
    Outcome failure;

    if (chunkFails (chunk, failure))
        return failure;

    Fault fault;

    auto taken = (size_t) length;

    if (takeFault (Fault::Kind::shortChunk, 0, chunk, fault))
        taken = juce::jmin (taken, (size_t) fault.length);

    taken = juce::jmin (taken, expectedBytes - phaseData.size());
    phaseData.insert (phaseData.end(), data, data + taken);
    receivedChunkSizes.push_back ((int) taken);

    if (phaseData.size() == expectedBytes)
    {
        phrases[phaseSlot] = std::move (phaseData);
        startIdle();
    }

    return Outcome::completeOut ((int) taken);
}

BulkFunction::Outcome PedalFirmware::sendChunk (int maxLength)
{
    Fault fault;

    if (takeFault (Fault::Kind::lateChunk, 0, chunkIndex, fault))
    {
        quietUntilMs = juce::Time::getMillisecondCounterHiRes() + fault.length;
        return Outcome::waiting();
    }

    const auto chunk = chunkIndex++;
    Outcome failure;

    if (chunkFails (chunk, failure))
        return failure;

    auto length = juce::jmin ((size_t) maxLength, phaseData.size() - phaseOffset);

    if (takeFault (Fault::Kind::shortChunk, 0, chunk, fault))
        length = juce::jmin (length, (size_t) fault.length);

    const auto start = phaseData.begin() + (std::ptrdiff_t) phaseOffset;
    std::vector<juce::uint8> bytes (start, start + (std::ptrdiff_t) length);
    phaseOffset += length;
    sentChunkSizes.push_back ((int) length);

    if (phaseOffset == phaseData.size())
        startIdle();

    return Outcome::completeIn (std::move (bytes));
}

bool PedalFirmware::chunkFails (int chunk, Outcome& failure)
{
    Fault fault;

    if (! takeFault (Fault::Kind::dataChunk, 0, chunk, fault))
        return false;

    startIdle();

    switch (fault.dataFault)
    {
        case DataFault::timeOut:    failure = Outcome::waiting(); break;
        case DataFault::stall:      failure = Outcome::failed (-EPIPE); break;
        case DataFault::unplug:     failure = Outcome::unplugged(); break;
    }

    return true;
}

bool PedalFirmware::takeFault (Fault::Kind kind, juce::uint32 code, int chunk, Fault& taken)
{
    for (auto it = faults.begin(); it != faults.end(); ++it)
    {
        if (it->kind == kind && it->code == code && it->chunk == chunk)
        {
            taken = *it;
            faults.erase (it);
            return true;
        }
    }

    return false;
}

void PedalFirmware::startIdle()
{
    replies.clear();
    phase = Phase::idle;
    phaseData.clear();
    phaseOffset = 0;
    expectedBytes = 0;
    chunkIndex = 0;
    quietUntilMs = 0;
}
