#pragma once
// Decodes one complete CommandFrame from the module (opcode + parameters) into
// a link's DeviceState and an EventResult. Identity events (0x90) fill only the reported
// type and version: detection alone decides what the device is.
//
// Only the count bytes of the frame are ever read. A parameter the decoding
// needs but the frame does not carry counts as absent:
//  - 0x00 without its status byte, 0x90 without its type/version bytes, 0x91
//    with fewer than 5 settings, 0x92 (PIN present) with fewer than 4 digits:
//    None, DeviceState untouched, no debugger text;
//  - 0x21 stores only the name bytes present (at most the announced length, at most 32);
//  - 0x1F prints only the whole 7-byte records present.

#include "protocol/DeviceState.h"
#include "protocol/EventResult.h"

#include <cstdint>
#include <string>

/** Decodes body[0..count) into device: body[0] is the opcode. count >= 1. */
EventResult decodeEvent (DeviceState& device, const uint8_t* body, int count);

/** The debugger text for a command refused with a non-zero status. */
std::string refusedCommandText (uint8_t opcode, uint8_t status);
