#pragma once
// Decodes one HCI Command Complete event: [0] command packets, [1..2] opcode
// little-endian, [3] status, then for a memory read [4..5] location big-endian,
// [6] data length d, [7..] d data bytes.
//
// Only the length parameters of the event are read. Events too short to carry
// an opcode (length 0 to 2), memory reads without location and data length,
// and reads whose data lack the bytes a location's decoding needs are Rejected.

#include "protocol/DeviceState.h"
#include "protocol/EventResult.h"

#include <cstdint>

/** Decodes params[0..length) into device's hciConfig. */
EventResult decodeHciEvent (DeviceState& device, const uint8_t* params, int length);
