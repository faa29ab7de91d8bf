#pragma once

#include "BulkFunction.h"

#include <deque>
#include <map>
#include <mutex>

/** The pedal's side of its bulk command protocol, with a phrase stored per slot.

    A command is one OUT transfer: "CMD", NUL and a little-endian code (8 bytes) for the device
    information (0) and the wave information (1); the phrase commands add a slot and an argument
    (16 bytes): write a phrase (2, argument = bytes that follow) and read a phrase (3). Each
    command is answered in one IN transfer; a read's answer carries the phrase size in bytes 4-7
    and the phrase follows in as many IN transfers as the host asks for; a write's answer is
    followed by the phrase in OUT transfers, stored in the slot once all of it has arrived.
    Anything else on the command endpoint is recorded and left unanswered. A new command drops an
    unread answer and ends a phrase read, but while a write waits for its bytes, everything sent
    is taken as phrase data.

    Faults are armed by the test and fire once, where they were asked for. Every method may be
    called from any thread.
*/
class PedalFirmware : public BulkFunction
{
public:
    struct WaveInfo
    {
        juce::uint32 reserved = 0;
        juce::uint32 slotCount = 99;
        juce::uint32 sampleRateHz = 44100;
        juce::uint16 sampleBits = 16;
        juce::uint16 channelCount = 2;
        juce::uint32 maxLength = 44100 * 2 * 60;
        juce::uint32 transferChunkSize = 4096;

        /** The 24 bytes on the wire, little-endian. */
        std::vector<juce::uint8> toBytes() const;
    };

    enum class DataFault
    {
        timeOut,    // the chunk never completes: the host's transfer times out
        stall,      // the chunk fails with -EPIPE
        unplug      // the pedal is pulled out instead of moving the chunk
    };

    PedalFirmware (juce::uint8 commandEndpoint, juce::uint8 replyEndpoint);

    void setWaveInfo (const WaveInfo& info);
    void setDeviceInfo (std::vector<juce::uint8> bytes);

    void setPhrase (juce::uint32 slot, std::vector<juce::uint8> bytes);
    std::vector<juce::uint8> getPhrase (juce::uint32 slot) const;

    /** Every transfer taken as a command, byte for byte, in order of arrival. */
    std::vector<std::vector<juce::uint8>> getCommands() const;

    /** The bytes of each phrase chunk taken from the host, and of each one given to it. */
    std::vector<int> getReceivedChunkSizes() const;
    std::vector<int> getSentChunkSizes() const;

    //==============================================================================
    /** The next command with this code gets no answer; the host's read of it times out. */
    void withholdNextReply (juce::uint32 code);

    /** The next answer to this code is cut or padded with zeros to this many bytes (0: empty). */
    void setNextReplyLength (juce::uint32 code, int length);

    /** Chunk N (from 0) of the next phrase transfer, in either direction, fails this way; the
        transfer is abandoned.
    */
    void failDataChunk (int chunk, DataFault fault);

    /** Chunk N of the next phrase transfer moves only this many bytes, without an error. */
    void shortenDataChunk (int chunk, int bytes);

    /** The next answer to this code, or chunk N of the next phrase read, comes this many
        milliseconds after the host asks for it.
    */
    void delayNextReply (juce::uint32 code, int milliseconds);
    void delayDataChunk (int chunk, int milliseconds);

    //==============================================================================
    Outcome bulkOut (juce::uint8 endpoint, const juce::uint8* data, int length) override;
    Outcome bulkIn (juce::uint8 endpoint, int maxLength) override;
    void powerCycled() override;

private:
    enum class Phase { idle, sending, receiving };

    struct Fault
    {
        enum class Kind { withholdReply, replyLength, dataChunk, shortChunk, lateReply, lateChunk };

        Kind kind = Kind::withholdReply;
        juce::uint32 code = 0;
        int chunk = 0;
        int length = 0;
        DataFault dataFault = DataFault::timeOut;
    };

    Outcome takeCommand (const juce::uint8* data, int length);
    Outcome receiveChunk (const juce::uint8* data, int length);
    Outcome sendChunk (int maxLength);
    std::vector<juce::uint8> answerTo (juce::uint32 code, const juce::uint8* command);
    bool takeFault (Fault::Kind kind, juce::uint32 code, int chunk, Fault& taken);

    /** Whether an armed fault ends the transfer at this chunk, and how. */
    bool chunkFails (int chunk, Outcome& failure);
    void startIdle();

    const juce::uint8 commandEndpoint, replyEndpoint;

    mutable std::mutex lock;
    WaveInfo waveInfo;
    std::vector<juce::uint8> deviceInfo;
    std::map<juce::uint32, std::vector<juce::uint8>> phrases;
    std::vector<Fault> faults;

    std::vector<std::vector<juce::uint8>> commands;
    std::vector<int> receivedChunkSizes, sentChunkSizes;

    std::deque<std::vector<juce::uint8>> replies;
    Phase phase = Phase::idle;
    juce::uint32 phaseSlot = 0;
    std::vector<juce::uint8> phaseData;
    size_t phaseOffset = 0;
    size_t expectedBytes = 0;
    int chunkIndex = 0;
    double quietUntilMs = 0;    // nothing is answered before this millisecond counter

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PedalFirmware)
};
