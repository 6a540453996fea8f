#pragma once
// Sending packets to the module: every packet is traced to the job's link, then
// written to the job's port in exactly one write. Nothing waits or retries; a
// lost packet shows up as a missing answer.

#include "protocol/Job.h"

#include <cstdint>

/** One write of count bytes to PortTable entry portIndex; nothing for an invalid index,
    and nothing while port waits are interrupted (a job is being stopped).
    The result is not examined. */
void writePacket (int portIndex, const uint8_t* bytes, int count);

/** Traces bytes with label on the job's link, then writes them to the job's
    port; nothing once the job was asked to exit or port waits are interrupted:
    once the user stops a job, not one more command reaches the receiver. */
void sendPacket (const JobContext& job, const char* label, const uint8_t* bytes, int count);

/** payload = opcode then n - 1 parameters (1 <= n <= 251). Frames it in the
    link's transmit buffer and sends it as "< Cmd: " on the job's port. */
void sendCommand (const JobContext& job, const uint8_t* payload, int n);
