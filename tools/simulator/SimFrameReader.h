#pragma once
// Assembles what the tool sends, byte by byte, into CommandFrames (AA ...) or,
// for the HCI receiver, command packets (01 ...). Bytes outside a frame are noise.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvasim
{

class SimFrameReader
{
public:
    /** What a byte completed. */
    enum class Step { Pending, Noise, Frame, HciPacket, BadLength };

    /** The largest data chunk of the update family; longer frames are refused. */
    static constexpr int maxChunk = 489;

    explicit SimFrameReader (bool hciPackets) : hci (hciPackets) {}

    Step step (uint8_t b);

    /** The frame or packet that the last Frame / HciPacket step completed. */
    const std::vector<uint8_t>& frame() const { return bytes; }

    /** The length field that the last BadLength step rejected. */
    int badLength() const { return need; }

    /** Bytes still to come before the receiver can act: the rest of the frame
        when its length is known, else the rest of its header. */
    size_t bytesUntilAction() const;

    /** Drops a partly received frame (the line went bad under it). */
    void reset() { state = State::Start; }

private:
    enum class State { Start, LenHigh, LenLow, Body, Checksum, HciOpLow, HciOpHigh, HciLen, HciParams };

    bool hci;
    State state = State::Start;
    std::vector<uint8_t> bytes;
    int need = 0;
};

} // namespace korvasim
