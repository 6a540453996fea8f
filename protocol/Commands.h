#pragma once
// The command catalogue: every command the tool sends, as fixed byte images
// (checksums precomputed) or as small encoders for the variable ones, plus the
// opcodes, event codes and HCI memory locations they involve.

#include <cstdint>

// CommandFrame opcodes sent.
constexpr uint8_t opRestoreDefaults = 0x02;
constexpr uint8_t opWritePin        = 0x06;
constexpr uint8_t opQueryName       = 0x10;
constexpr uint8_t opEventAck        = 0x14;
constexpr uint8_t opWriteName       = 0x35;
constexpr uint8_t opFirmware        = 0x49;
constexpr uint8_t opQueryIdentity   = 0xD0; // parameter 0: type, 1: version
constexpr uint8_t opApplySettings   = 0xD1;
constexpr uint8_t opQuerySettings   = 0xD3;
constexpr uint8_t opWriteSettings   = 0xD4;
constexpr uint8_t opQueryPin        = 0xD5;
constexpr uint8_t opD6              = 0xD6; // only ever seen in acknowledgements

// Event opcodes received.
constexpr uint8_t evtCommandAck    = 0x00; // p0 opcode, p1 status (0 accepted)
constexpr uint8_t evtStatus        = 0x01;
constexpr uint8_t evt0E            = 0x0E;
constexpr uint8_t evtPairedRecords = 0x1F;
constexpr uint8_t evtName          = 0x21;
constexpr uint8_t evtIdentity      = 0x90;
constexpr uint8_t evtSettings      = 0x91;
constexpr uint8_t evtPin           = 0x92;

// HCI vendor opcodes and the module memory they reach.
constexpr uint16_t hciReadMemory  = 0xFC29;
constexpr uint16_t hciWriteMemory = 0xFC27;
constexpr uint8_t hciCommandComplete = 0x0E;
constexpr uint16_t locIdentity  = 0x07BA; // "MCHP"
constexpr uint16_t locNameRecord = 0x0500; // length byte, then the name
constexpr uint16_t locPin       = 0x0047; // 4 ASCII digits
constexpr uint16_t locPinSwitch = 0x00B5; // 0x82 PIN on, anything else off
constexpr uint8_t pinSwitchOn  = 0x82;
constexpr uint8_t pinSwitchOff = 0x92;

/** Longest device name in a name command or name record. */
constexpr int maxNameLength = 32;

// Fixed CommandFrames.
constexpr uint8_t cmdRestoreDefaults[] = { 0xAA, 0x00, 0x03, 0x02, 0x00, 0x56, 0xA5 };
constexpr uint8_t cmdQueryName[]       = { 0xAA, 0x00, 0x01, 0x10, 0xEF };
constexpr uint8_t cmdQueryType[]       = { 0xAA, 0x00, 0x02, 0xD0, 0x00, 0x2E };
constexpr uint8_t cmdQueryVersion[]    = { 0xAA, 0x00, 0x02, 0xD0, 0x01, 0x2D };
constexpr uint8_t cmdApplySettings[]   = { 0xAA, 0x00, 0x01, 0xD1, 0x2E };
constexpr uint8_t cmdQuerySettings[]   = { 0xAA, 0x00, 0x01, 0xD3, 0x2C };
constexpr uint8_t cmdQueryPin[]        = { 0xAA, 0x00, 0x01, 0xD5, 0x2A };

// Fixed HCI memory reads.
constexpr uint8_t hciReadIdentity[]  = { 0x01, 0x29, 0xFC, 0x03, 0x07, 0xBA, 0x04 };
constexpr uint8_t hciReadName[]      = { 0x01, 0x29, 0xFC, 0x03, 0x05, 0x00, 0x20 };
constexpr uint8_t hciReadPin[]       = { 0x01, 0x29, 0xFC, 0x03, 0x00, 0x47, 0x04 };
constexpr uint8_t hciReadPinSwitch[] = { 0x01, 0x29, 0xFC, 0x03, 0x00, 0xB5, 0x01 };

/** Length of a zero-terminated name field, at most maxNameLength. */
int nameLength (const uint8_t* name);

/** 0x35: 00 00 n name[0..n) with n = nameLength(name), framed into out.
    Returns the frame length (n + 8). */
int buildNameCommand (uint8_t* out, const uint8_t* name);

/** 0x06: the four PIN bytes, or four zeros when any of them is 0. Framed into
    out; returns 9. */
int buildPinCommand (uint8_t* out, const uint8_t* pin);

/** 0xD4: stereo, maxDevices, gpoNormallyOpen, ledControl, restoreControl, each
    as given. Framed into out; returns 10. */
int buildSettingsCommand (uint8_t* out, uint8_t stereo, uint8_t maxDevices, uint8_t gpoNormallyOpen,
                          uint8_t ledControl, uint8_t restoreControl);

/** 0x14 acknowledging event opcode into out (6 bytes); returns 6. */
int encodeEventAck (uint8_t* out, uint8_t eventOpcode);

/** HCI write of the PIN switch (0x82 when pinOn, else 0x92) into out; returns 8. */
int encodeHciPinSwitchWrite (uint8_t* out, bool pinOn);

/** HCI write of the four PIN bytes as given (zeros included) into out; returns 11. */
int encodeHciPinWrite (uint8_t* out, const uint8_t* pin);

/** HCI write of the name record (n, then n bytes, n = nameLength(name)) into out;
    returns n + 8. out must hold 40 bytes. */
int encodeHciNameWrite (uint8_t* out, const uint8_t* name);
