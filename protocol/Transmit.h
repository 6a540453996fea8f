#pragma once
// Sending packets to the module: every packet is traced, then written to the
// port in exactly one write. Nothing waits or retries; a lost packet shows up
// as a missing answer.

#include "protocol/Job.h"

#include <cstdint>

/** One write of count bytes to PortTable entry portIndex; nothing for an invalid index,
    and nothing while port waits are interrupted (a job is being stopped).
    The result is not examined. */
void writePacket (int portIndex, const uint8_t* bytes, int count);

/** Traces bytes with label, then writePacket; neither while port waits are interrupted. */
void sendPacket (int portIndex, const char* label, const uint8_t* bytes, int count);

/** sendPacket to the job's port, unless the job was asked to exit: once the user
    stops a job, not one more command reaches the receiver. */
void sendPacket (const JobContext& job, const char* label, const uint8_t* bytes, int count);

/** payload = opcode then n - 1 parameters (1 <= n <= 251). Builds the frame in
    txBuffer, traces it as "< Cmd: " and writes it to DeviceState::currentPortIndex. */
void sendCommand (const uint8_t* payload, int n);
