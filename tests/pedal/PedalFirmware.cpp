#include "PedalFirmware.h"

#include <cerrno>
#include <cstring>

namespace
{
enum Code : juce::uint32
{
    deviceInformation = 0,
    waveInformation = 1,
    writePhrase = 2,
    readPhrase = 3
};

void put (PedalFirmware::Bytes& bytes, size_t offset, juce::uint32 value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes[offset + (size_t) i] = (juce::uint8) (value >> (8 * i));
}

juce::uint32 read32 (const juce::uint8* bytes)
{
    return (juce::uint32) bytes[0] | ((juce::uint32) bytes[1] << 8) | ((juce::uint32) bytes[2] << 16) | ((juce::uint32) bytes[3] << 24);
}
}

PedalFirmware::PedalFirmware (juce::uint8 commandOut, juce::uint8 replyIn)
    : commandEndpoint (commandOut), replyEndpoint (replyIn)
{
    const juce::String text ("Quendrix sim pedal 1.0");
    deviceInfo.assign (text.toRawUTF8(), text.toRawUTF8() + text.getNumBytesAsUTF8());
}

//==============================================================================
PedalFirmware::Answer PedalFirmware::bulkOut (juce::uint8 endpoint, const juce::uint8* data, int length)
{
    const Lock l (lock);
    Answer answer;

    if (endpoint != commandEndpoint)
        return answer;

    if (phase == Phase::receiving)
    {
        auto taken = (size_t) length;

        if (chunkFails (answer, taken))
            return answer;

        taken = juce::jmin (taken, expectedBytes - phaseData.size());
        phaseData.insert (phaseData.end(), data, data + taken);
        receivedChunkSizes.push_back ((int) taken);
        answer.taken = (int) taken;

        if (phaseData.size() == expectedBytes)
        {
            phrases[phaseSlot] = std::move (phaseData);
            forgetTransfer();
        }

        return answer;
    }

    commands.emplace_back (data, data + length);

    // A new command ends whatever the host left unfinished, unread answers included.
    forgetTransfer();

    const auto code = length >= 8 ? read32 (data + 4) : noCode;
    const auto expectedLength = code == writePhrase || code == readPhrase ? 16 : 8;

    if (code > readPhrase || length != expectedLength || std::memcmp (data, "CMD", 4) != 0)
        return answer;

    auto reply = answerTo (code, data);
    Fault fault;

    if (take (Fault::withhold, code, 0, fault))
        return answer;

    if (take (Fault::replyLength, code, 0, fault))
        reply.resize ((size_t) fault.length);

    if (take (Fault::lateReply, code, 0, fault))
        quietUntilMs = juce::Time::getMillisecondCounterHiRes() + fault.length;

    replies.push_back (std::move (reply));
    return answer;
}

PedalFirmware::Answer PedalFirmware::bulkIn (juce::uint8 endpoint, int maxLength)
{
    const Lock l (lock);
    Answer answer;
    answer.kind = Answer::Kind::waiting;

    // The host asks again and again, so a late answer is one not given until its time.
    if (endpoint != replyEndpoint || juce::Time::getMillisecondCounterHiRes() < quietUntilMs)
        return answer;

    if (! replies.empty())
    {
        answer = { Answer::Kind::done, 0, -1, std::move (replies.front()) };
        replies.pop_front();
        return answer;
    }

    if (phase != Phase::sending)
        return answer;

    if (Fault fault; take (Fault::lateChunk, noCode, chunkIndex, fault))
    {
        quietUntilMs = juce::Time::getMillisecondCounterHiRes() + fault.length;
        return answer;
    }

    auto length = juce::jmin ((size_t) maxLength, phaseData.size() - phaseOffset);

    if (chunkFails (answer, length))
        return answer;

    const auto start = phaseData.begin() + (std::ptrdiff_t) phaseOffset;
    answer = { Answer::Kind::done, 0, -1, Bytes (start, start + (std::ptrdiff_t) length) };
    phaseOffset += length;
    sentChunkSizes.push_back ((int) length);

    if (phaseOffset == phaseData.size())
        forgetTransfer();

    return answer;
}

//==============================================================================
PedalFirmware::Bytes PedalFirmware::answerTo (juce::uint32 code, const juce::uint8* command)
{
    if (code == deviceInformation)
        return deviceInfo;

    if (code == waveInformation)
        return waveInfo.toBytes();

    Bytes answer (8);
    phaseSlot = read32 (command + 8);

    if (code == readPhrase)
    {
        phaseData = phrases[phaseSlot];
        phase = phaseData.empty() ? Phase::idle : Phase::sending;
        put (answer, 4, (juce::uint32) phaseData.size(), 4);
    }
    else
    {
        expectedBytes = read32 (command + 12);

        if (expectedBytes == 0)
            phrases[phaseSlot].clear();
        else
            phase = Phase::receiving;
    }

    return answer;
}

bool PedalFirmware::chunkFails (Answer& failure, size_t& length)
{
    const auto chunk = chunkIndex++;
    Fault fault;

    if (take (Fault::shortChunk, noCode, chunk, fault))
        length = juce::jmin (length, (size_t) fault.length);

    if (! take (Fault::failChunk, noCode, chunk, fault))
        return false;

    forgetTransfer();
    failure.kind = fault.dataFault == DataFault::timeOut ? Answer::Kind::waiting
                 : fault.dataFault == DataFault::unplug  ? Answer::Kind::unplug
                                                         : Answer::Kind::done;
    failure.status = -EPIPE;
    failure.taken = 0;
    return true;
}

bool PedalFirmware::take (Fault::Kind kind, juce::uint32 code, int chunk, Fault& taken)
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

void PedalFirmware::forgetTransfer()
{
    replies.clear();
    phase = Phase::idle;
    phaseData.clear();
    phaseOffset = expectedBytes = 0;
    chunkIndex = 0;
    quietUntilMs = 0;
}
