#pragma once
// Receive step for CommandFrame modules (types 0xF0, 0xF2): reads the job's
// port, assembles frames, traces and decodes one frame per poll, and
// acknowledges every event (command acknowledgements excepted).

#include "protocol/ByteRing.h"
#include "protocol/EventResult.h"
#include "protocol/FrameAssembler.h"
#include "protocol/Job.h"

#include <cstdint>

constexpr uint16_t rxRingSize = 1024;
constexpr uint16_t ackQueueSize = 10;

/** Bytes read from the port, waiting for the assembler. */
ByteRing& rxRing();

/** Opcodes of decoded events still to be acknowledged. */
ByteRing& ackQueue();

/** The assembler state that survives between polls. */
FrameAssembler& frameAssembler();

/** One poll: reads once from worker.portIndex, then works through the buffered
    bytes and decodes at most one frame. With reset: empties the receiver, sets
    worker.waitTicks = 200 and returns None without reading. */
EventResult pollEvents (JobContext& worker, bool reset);

/** pollEvents without the port: appends bytes[0..n) as if read (dropped whole when
    they do not fit), then does the rest of a poll. Acknowledgements still go to
    worker.portIndex. For tests and fuzzing. */
EventResult feedEvents (JobContext& worker, const uint8_t* bytes, int n);

/** Tests: empties rxRing and ackQueue and resets the assembler. */
void resetEventReceiver();
