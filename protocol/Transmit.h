#pragma once
// Sending packets to the module: every packet is traced, then written to the
// port in exactly one write. Nothing waits or retries; a lost packet shows up
// as a missing answer.

#include <cstdint>

/** One write of count bytes to PortTable entry portIndex; nothing for an invalid index.
    The result is not examined. */
void writePacket (int portIndex, const uint8_t* bytes, int count);

/** Traces bytes with label, then writePacket. */
void sendPacket (int portIndex, const char* label, const uint8_t* bytes, int count);

/** payload = opcode then n - 1 parameters (1 <= n <= 251). Builds the frame in
    txBuffer, traces it as "< Cmd: " and writes it to DeviceState::currentPortIndex. */
void sendCommand (const uint8_t* payload, int n);
