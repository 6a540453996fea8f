#pragma once
// The bytes in flight between the tool and the receiver. Paced at a baud rate,
// each byte crosses the wire 10 bits after the one before it, so the receiver
// hears a frame and answers it as late as a real module would; at baud 0 bytes
// cross at once.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace korvasim
{

using SimClock = std::chrono::steady_clock;

/** A frame whose last byte has gone out: what the receiver logs and tracks then. */
struct SimSentFrame
{
    std::vector<uint8_t> frame;
    int eventOpcode = -1;        // event that the tool must acknowledge
    bool firmwareAck = false;    // the acknowledgement of a 0x49 command
    bool streamed = false;       // one of the unsolicited status stream's events
};

class SimWire
{
public:
    /** Queues output to leave from earliest on, after what is queued before it.
        frameEnd: the bytes end this frame, which counts as sent with them. */
    void send (SimClock::time_point earliest, std::vector<uint8_t> bytes, uint32_t baud,
               std::optional<SimSentFrame> frameEnd = std::nullopt);

    /** When the last queued output has left the wire. */
    SimClock::time_point outputDue() const { return lastDue; }

    /** Input read from the pty at now: paced, its bytes arrive one after another
        from when the wire is free. */
    void receive (SimClock::time_point now, std::vector<uint8_t> chunk, uint32_t baud);

private:
    struct Span;

public:
    /** When each of the bytes handed to take arrived: byte i at at (i). */
    struct Arrivals
    {
        const Span& span;
        size_t offset = 0;   // span's bytes taken before these
        SimClock::time_point at (size_t i) const;
    };

    /** Hands take every input byte that has arrived by now, with their arrival
        times. take returns how many it consumed; when fewer, the rest waits for
        the next feed. */
    void feed (SimClock::time_point now, const std::function<size_t (const uint8_t*, size_t, const Arrivals&)>& take);

    /** Writes to fd (when open) every output byte that has crossed the wire by now;
        sent is called for each frame whose last byte went. On a socket whose tool
        has gone the bytes are lost, without SIGPIPE. */
    void flush (SimClock::time_point now, int fd, bool socket, const std::function<void (SimSentFrame&&)>& sent);

    /** The earlier of at and when there is next something to do: inputNeeded more
        input bytes arrived (0: input is not being taken), or the next FIFO's worth
        of output gone. */
    SimClock::time_point nextWake (SimClock::time_point at, size_t inputNeeded) const;

    /** When every input byte received so far has crossed the wire. */
    SimClock::time_point inputDue() const;

    /** Whether bytes are in flight either way. */
    bool busy() const { return ! out.empty() || ! in.empty(); }

    /** Drops everything in flight (the line is gone). */
    void clear();

private:
    /** Bytes on the wire from start on, one every 10 bits at baud (all at once when baud is 0). */
    struct Span
    {
        SimClock::time_point start;
        uint32_t baud = 0;
        std::vector<uint8_t> bytes;
        size_t done = 0;           // bytes already written (output) or taken (input)
        std::optional<SimSentFrame> frameEnd;

        /** When the count-th byte has fully crossed the wire. */
        SimClock::time_point doneAt (size_t count) const;

        /** How many bytes have fully crossed the wire by now. */
        size_t doneBy (SimClock::time_point now) const;
    };

    std::deque<Span> out, in;
    SimClock::time_point lastDue {};         // when the last queued output leaves the wire
    SimClock::time_point inputBusyUntil {};  // when the last input read arrives over the wire
};

} // namespace korvasim
