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

/** Uppercase hex with spaces, for violation texts ("AA 00 01 D1 2E"). */
std::string simHex (const std::vector<uint8_t>& bytes);

/** A line in the tool's trace format (label, then lowercase hex). */
std::string simTraceLine (const char* label, const std::vector<uint8_t>& bytes);

} // namespace korvasim
