#pragma once

#include <juce_core/juce_core.h>

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
class PedalFirmware
{
public:
    using Bytes = std::vector<juce::uint8>;

    struct WaveInfo
    {
        juce::uint32 reserved = 0;
        juce::uint32 slotCount = 99;
        juce::uint32 sampleRateHz = 44100;
        juce::uint16 sampleBits = 16;
        juce::uint16 channelCount = 2;
        juce::uint32 maxLength = 44100 * 2 * 60;
        juce::uint32 transferChunkSize = 4096;

        /** The 24 bytes on the wire: the fields in order, little-endian as on this machine. */
        Bytes toBytes() const       { const auto* bytes = reinterpret_cast<const juce::uint8*> (this); return { bytes, bytes + 24 }; }
    };

    static_assert (sizeof (WaveInfo) == 24, "the wave information has no padding");

    enum class DataFault
    {
        timeOut,    // the chunk never completes: the host's transfer times out
        stall,      // the chunk fails with -EPIPE
        unplug      // the pedal is pulled out instead of moving the chunk
    };

    /** What becomes of one bulk URB. */
    struct Answer
    {
        enum class Kind { done, waiting, unplug };

        Kind kind = Kind::done;
        int status = 0;         // 0 or a negative errno, as the kernel reports it
        int taken = -1;         // OUT: bytes taken, -1 for all of them
        Bytes data;             // IN: bytes delivered
    };

    PedalFirmware (juce::uint8 commandEndpoint, juce::uint8 replyEndpoint);

    void setWaveInfo (const WaveInfo& info)                     { const Lock l (lock); waveInfo = info; }
    void setDeviceInfo (Bytes bytes)                            { const Lock l (lock); deviceInfo = std::move (bytes); }
    void setPhrase (juce::uint32 slot, Bytes bytes)             { const Lock l (lock); phrases[slot] = std::move (bytes); }
    Bytes getPhrase (juce::uint32 slot) const                   { const Lock l (lock); return phrases.count (slot) != 0 ? phrases.at (slot) : Bytes(); }

    /** Every transfer taken as a command, byte for byte, in order of arrival. */
    std::vector<Bytes> getCommands() const                      { const Lock l (lock); return commands; }

    /** The bytes of each phrase chunk taken from the host, and of each one given to it. */
    std::vector<int> getReceivedChunkSizes() const              { const Lock l (lock); return receivedChunkSizes; }
    std::vector<int> getSentChunkSizes() const                  { const Lock l (lock); return sentChunkSizes; }

    //==============================================================================
    /** The next command with this code gets no answer; the host's read of it times out. */
    void withholdNextReply (juce::uint32 code)                  { arm ({ Fault::withhold, code }); }

    /** The next answer to this code is cut or padded with zeros to this many bytes (0: empty). */
    void setNextReplyLength (juce::uint32 code, int length)     { arm ({ Fault::replyLength, code, 0, length }); }

    /** Chunk N (from 0) of the next phrase transfer, in either direction, fails this way; the
        transfer is abandoned.
    */
    void failDataChunk (int chunk, DataFault fault)             { arm ({ Fault::failChunk, noCode, chunk, 0, fault }); }

    /** Chunk N of the next phrase transfer moves only this many bytes, without an error. */
    void shortenDataChunk (int chunk, int bytes)                { arm ({ Fault::shortChunk, noCode, chunk, bytes }); }

    /** The next answer to this code, or chunk N of the next phrase read, comes this many
        milliseconds after the host asks for it.
    */
    void delayNextReply (juce::uint32 code, int milliseconds)   { arm ({ Fault::lateReply, code, 0, milliseconds }); }
    void delayDataChunk (int chunk, int milliseconds)           { arm ({ Fault::lateChunk, noCode, chunk, milliseconds }); }

    //==============================================================================
    /** Asked by the device for each OUT URB, and again and again for its oldest pending IN URB
        of an endpoint until that completes; both answer at once.
    */
    Answer bulkOut (juce::uint8 endpoint, const juce::uint8* data, int length);
    Answer bulkIn (juce::uint8 endpoint, int maxLength);

    /** The pedal was plugged in or pulled out: whatever was under way is forgotten. */
    void powerCycled()                                          { const Lock l (lock); forgetTransfer(); }

private:
    using Lock = std::lock_guard<std::mutex>;
    static constexpr juce::uint32 noCode = 0xffffffff;

    struct Fault
    {
        enum Kind { withhold, replyLength, failChunk, shortChunk, lateReply, lateChunk };

        Kind kind;
        juce::uint32 code = noCode;
        int chunk = 0;
        int length = 0;
        DataFault dataFault = DataFault::timeOut;
    };

    void arm (Fault fault)                                      { const Lock l (lock); faults.push_back (fault); }
    bool take (Fault::Kind kind, juce::uint32 code, int chunk, Fault& taken);
    Bytes answerTo (juce::uint32 code, const juce::uint8* command);

    /** Counts a phrase chunk; true when a fault ends the transfer there, else what it may move. */
    bool chunkFails (Answer& failure, size_t& length);
    void forgetTransfer();

    const juce::uint8 commandEndpoint, replyEndpoint;

    mutable std::mutex lock;
    WaveInfo waveInfo;
    Bytes deviceInfo;
    std::map<juce::uint32, Bytes> phrases;
    std::vector<Fault> faults;
    std::vector<Bytes> commands;
    std::vector<int> receivedChunkSizes, sentChunkSizes;

    std::deque<Bytes> replies;
    enum class Phase { idle, sending, receiving } phase = Phase::idle;
    juce::uint32 phaseSlot = 0;
    Bytes phaseData;
    size_t phaseOffset = 0, expectedBytes = 0;
    int chunkIndex = 0;
    double quietUntilMs = 0;    // nothing is answered before this millisecond counter

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PedalFirmware)
};
