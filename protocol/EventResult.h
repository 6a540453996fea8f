#pragma once
// What one poll of a receiver decoded. One numbering serves both receivers;
// the gaps (2, 7, 12, 18-21) are never produced.

#include <cstdint>

enum class EventResult : uint8_t
{
    None          = 0,
    Rejected      = 1,
    PairedRecords = 3,
    TypeReply     = 4,
    VersionReply  = 5,
    AckCmdD1      = 6,
    AckCmd49      = 8,
    AckCmdD6      = 9,
    NameReply     = 10,
    AckCmd35      = 11,
    PinReply      = 13,
    AckCmd06      = 14,
    SettingsReply = 15,
    AckCmdD4      = 16,
    AckCmd02      = 17,
    StatusZero    = 22,
    StatusTwo     = 23,
    Event0EZero   = 24,
    IdentityBlock = 25,
    NameBlock     = 26,
    PinBlock      = 27,
    PinFlagBlock  = 28,
    WriteAck      = 29
};

/** The enumerator's name ("TypeReply"), or "Unknown". For logs and test output. */
const char* eventResultName (EventResult result);
