#pragma once
// What a CommandFrame receiver (types 0xF0 and 0xF2) does with each command:
// its stored settings, its answers and events, and the event acknowledgements
// it waits for from the tool. The update family (0x49) is SimFirmwareUpdate's.

#include "tools/simulator/SimReplies.h"
#include "tools/simulator/SimWire.h"
#include "tools/simulator/SimulatedReceiver.h"

#include <cstdint>
#include <vector>

namespace korvasim
{

class SimFramedReceiver
{
public:
    explicit SimFramedReceiver (const SimulatorOptions& options);

    const StoredSettings& settings() const { return stored; }
    void setSettings (const StoredSettings& s) { stored = s; }

    /** Acts on command op and answers it. True when it restored the factory settings. */
    bool command (uint8_t op, const std::vector<uint8_t>& params, SimReplies& out);

    // ---- event acknowledgements ----

    /** Event op reached the tool at sentAt; its acknowledgement is due within the timeout. */
    void eventSent (uint8_t op, SimClock::time_point sentAt);

    /** The tool's acknowledgement (0x14) with its parameters. */
    void acknowledged (const std::vector<uint8_t>& params, SimReplies& out);

    /** Reports and forgets the events whose acknowledgement is overdue at now. */
    void expireAcks (SimClock::time_point now, SimReplies& out);

    /** The earlier of at and when the oldest acknowledgement runs out. */
    SimClock::time_point nextAckDeadline (SimClock::time_point at) const;

    /** Events still waiting for their acknowledgement, oldest first. */
    std::vector<uint8_t> pendingAcks() const;
    void clearAcks();

    // ---- the unsolicited status stream ----

    /** Opcode of the stream's events (status, state 0). */
    static constexpr uint8_t streamOpcode = 0x01;

    /** A stream event reached the tool. Stream events are counted, not owed one by
        one: one sent as the tool lets go of the port is lost through no fault of it. */
    void streamedEventSent() { ++streamSent; }

    /** Stream events sent, and acknowledgements taken as theirs. */
    uint64_t streamedSent() const { return streamSent; }
    uint64_t streamedAcknowledged() const { return streamAcked; }

private:
    struct PendingAck
    {
        uint8_t opcode;
        SimClock::time_point sentAt;
    };

    SimulatorOptions options;
    StoredSettings stored;
    std::vector<PendingAck> pending;
    uint64_t streamSent = 0, streamAcked = 0;
};

} // namespace korvasim
