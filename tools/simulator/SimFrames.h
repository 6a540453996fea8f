#pragma once
// The receiver's own frame helpers: deliberately separate from the tool's
// protocol code so that a fault there cannot hide itself here.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvasim
{

/** Two's complement of the byte sum of bytes[0..count). */
uint8_t simChecksum (const uint8_t* bytes, size_t count);

/** AA, 16-bit length, opcode, params, checksum. */
std::vector<uint8_t> encodeSimFrame (uint8_t opcode, const std::vector<uint8_t>& params);

/** HCI Command Complete event (04 0E ...) for the command opcode, with its return parameters. */
std::vector<uint8_t> encodeHciComplete (uint16_t opcode, uint8_t status, const std::vector<uint8_t>& ret);

/** A frame cut in three (its first two bytes, then the rest halved), as a
    UART that pauses mid-frame delivers it. Frames of three bytes or fewer stay whole. */
std::vector<std::vector<uint8_t>> splitSimFrame (const std::vector<uint8_t>& frame);

/** Big-endian fields of the update family's parameters. */
uint32_t simBe32 (const uint8_t* p);
uint16_t simBe16 (const uint8_t* p);

/** Uppercase hex with spaces, for violation texts ("AA 00 01 D1 2E"). */
std::string simHex (const std::vector<uint8_t>& bytes);

/** One byte as two lowercase hex digits, for opcodes in violation texts. */
std::string simHex2 (unsigned value);

/** The update family's data frames (DspHeader, SectionData): the only frames that may
    be longer than a short frame. frame is a whole CommandFrame. */
bool isSimDataFrame (const std::vector<uint8_t>& frame);

/** The tool's trace label for a CommandFrame it sent. */
const char* simTraceLabel (const std::vector<uint8_t>& frame);

/** A line in the tool's trace format (label, then lowercase hex). */
std::string simTraceLine (const char* label, const std::vector<uint8_t>& bytes);

} // namespace korvasim
