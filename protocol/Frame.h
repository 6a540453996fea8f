#pragma once
// Byte layouts sent to the module: the CommandFrame (AA, 16-bit big-endian
// length N of opcode + parameters, opcode, parameters, checksum) and the HCI
// command packet of the UART transport (01, opcode little-endian, length, parameters).

#include <cstdint>

constexpr uint8_t frameStartByte = 0xAA;

/** Largest parameter count buildFrame takes (N <= 251, high length byte 0). */
constexpr int maxFrameParams = 250;

constexpr uint8_t hciCommandPacket = 0x01;
constexpr uint8_t hciEventPacket = 0x04;

/** Two's complement of the byte sum of bytes[0..count): the checksum over
    everything after the start byte. */
uint8_t frameChecksum (const uint8_t* bytes, int count);

/** Builds a short CommandFrame into out (count + 5 bytes) and returns its length.
    count is clamped to 0..maxFrameParams. */
int encodeFrame (uint8_t* out, uint8_t opcode, const uint8_t* params, int count);

/** Builds an HCI command packet into out (paramCount + 4 bytes) and returns its length.
    paramCount is clamped to 0..255. */
int encodeHciCommand (uint8_t* out, uint16_t opcode, const uint8_t* params, int paramCount);
