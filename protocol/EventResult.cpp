#include "protocol/EventResult.h"

const char* eventResultName (EventResult result)
{
    switch (result)
    {
        case EventResult::None:          return "None";
        case EventResult::Rejected:      return "Rejected";
        case EventResult::PairedRecords: return "PairedRecords";
        case EventResult::TypeReply:     return "TypeReply";
        case EventResult::VersionReply:  return "VersionReply";
        case EventResult::AckCmdD1:      return "AckCmdD1";
        case EventResult::AckCmd49:      return "AckCmd49";
        case EventResult::AckCmdD6:      return "AckCmdD6";
        case EventResult::NameReply:     return "NameReply";
        case EventResult::AckCmd35:      return "AckCmd35";
        case EventResult::PinReply:      return "PinReply";
        case EventResult::AckCmd06:      return "AckCmd06";
        case EventResult::SettingsReply: return "SettingsReply";
        case EventResult::AckCmdD4:      return "AckCmdD4";
        case EventResult::AckCmd02:      return "AckCmd02";
        case EventResult::StatusZero:    return "StatusZero";
        case EventResult::StatusTwo:     return "StatusTwo";
        case EventResult::Event0EZero:   return "Event0EZero";
        case EventResult::IdentityBlock: return "IdentityBlock";
        case EventResult::NameBlock:     return "NameBlock";
        case EventResult::PinBlock:      return "PinBlock";
        case EventResult::PinFlagBlock:  return "PinFlagBlock";
        case EventResult::WriteAck:      return "WriteAck";
    }
    return "Unknown";
}
