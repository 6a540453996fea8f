#pragma once
// What the tool knows about the receiver on one link.

#include <cstdint>

enum DeviceTypeCode : uint8_t
{
    NoDevice = 0x00,
    TypeRulko = 0xF0,     // framed commands, model "Rulko"
    TypeHci = 0xF1,       // HCI memory reads/writes, model "zVARNELO7QX"
    TypeDoru = 0xF2       // framed commands, model "DORU-415QX"
};

struct DeviceConfig
{
    uint8_t name[33];         // at most 32 bytes of text, then a zero byte
    uint8_t pin[5];           // 4 ASCII digits, then zero; pin[0] == 0: no PIN
    uint8_t stereo;           // 1 stereo (L,R), 0 mono (L+R)
    uint8_t maxDevices;       // 1 or 8
    uint8_t gpoNormallyOpen;  // 1 normally open, 0 normally closed
    uint8_t ledControl;
    uint8_t restoreControl;
};
static_assert (sizeof (DeviceConfig) == 43, "DeviceConfig is 43 bytes");

struct HciConfig
{
    uint8_t name[33];
    uint8_t pin[5];
};
static_assert (sizeof (HciConfig) == 38, "HciConfig is 38 bytes");

struct DeviceState
{
    uint8_t typeCode = 0;
    uint8_t versionMajor = 0;
    uint8_t versionMinor = 0;

    /** What the receiver's last identity events said. Only detection takes them
        as the type and version above: a stray identity event during another job
        must not turn a framed receiver into another type mid-job. */
    uint8_t reportedTypeCode = 0;
    uint8_t reportedVersionMajor = 0;
    uint8_t reportedVersionMinor = 0;

    DeviceConfig config {};
    HciConfig hciConfig {};
};
