#include "serial/BluezText.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace
{
    std::string lower (std::string s)
    {
        std::transform (s.begin(), s.end(), s.begin(), [] (unsigned char c) { return (char) std::tolower (c); });
        return s;
    }

    struct FaultRule
    {
        const char* errorName;   // matched exactly; nullptr: any name
        const char* inMessage;   // matched within the lowercase message; nullptr: any message
        PortFault fault;
    };

    // First match wins. BlueZ reports most connection failures as
    // org.bluez.Error.Failed with the socket error's text or a "br-connection-…" reason.
    const FaultRule faultRules[] =
    {
        { "org.freedesktop.DBus.Error.ServiceUnknown", nullptr,  PortFault::bluetoothUnavailable },
        { "org.freedesktop.DBus.Error.NameHasNoOwner", nullptr,  PortFault::bluetoothUnavailable },
        { "org.freedesktop.DBus.Error.NoServer",       nullptr,  PortFault::bluetoothUnavailable },
        { "org.freedesktop.DBus.Error.Disconnected",   nullptr,  PortFault::bluetoothUnavailable },
        { "org.freedesktop.DBus.Error.UnknownObject",  nullptr,  PortFault::notPaired },
        { "org.freedesktop.DBus.Error.UnknownMethod",  nullptr,  PortFault::notPaired },
        { "org.bluez.Error.DoesNotExist",              nullptr,  PortFault::notPaired },
        { "org.bluez.Error.NotReady",                  nullptr,  PortFault::bluetoothOff },
        { "org.freedesktop.DBus.Error.NoReply",        nullptr,  PortFault::connectTimeout },
        { "org.freedesktop.DBus.Error.Timeout",        nullptr,  PortFault::connectTimeout },
        { "org.freedesktop.DBus.Error.TimedOut",       nullptr,  PortFault::connectTimeout },
        { "org.bluez.Error.AlreadyConnected",          nullptr,  PortFault::linkBusy },
        { "org.bluez.Error.InProgress",                nullptr,  PortFault::linkBusy },
        { "org.bluez.Error.NotAvailable",              nullptr,  PortFault::receiverUnreachable },
        { nullptr, "not powered",               PortFault::bluetoothOff },
        { nullptr, "adapter-not-powered",       PortFault::bluetoothOff },
        { nullptr, "resource not ready",        PortFault::bluetoothOff },
        { nullptr, "page timeout",              PortFault::receiverUnreachable },
        { nullptr, "page-timeout",              PortFault::receiverUnreachable },
        { nullptr, "host is down",              PortFault::receiverUnreachable },
        { nullptr, "no route to host",          PortFault::receiverUnreachable },
        { nullptr, "connection timed out",      PortFault::receiverUnreachable },
        { nullptr, "connection refused",        PortFault::receiverUnreachable },
        { nullptr, "profile-unavailable",       PortFault::receiverUnreachable },
        { nullptr, "busy",                      PortFault::linkBusy },
        { nullptr, "already connected",         PortFault::linkBusy },
        { nullptr, "operation already in progress", PortFault::linkBusy },
    };
}

std::string bluetoothPortName (const std::string& address)
{
    std::string upper = address;
    std::transform (upper.begin(), upper.end(), upper.begin(), [] (unsigned char c) { return (char) std::toupper (c); });
    return bluetoothPortPrefix + upper;
}

bool bluetoothAddressOf (const char* name, std::string& address)
{
    if (name == nullptr)
        return false;

    const size_t prefixLength = std::strlen (bluetoothPortPrefix);
    if (std::strlen (name) != prefixLength + 17 || lower (std::string (name, prefixLength)) != bluetoothPortPrefix)
        return false;

    const char* a = name + prefixLength;
    std::string result;
    for (int i = 0; i < 17; ++i)
    {
        const unsigned char c = (unsigned char) a[i];
        if (i % 3 == 2 ? c != ':' : ! std::isxdigit (c))
            return false;
        result += (char) std::toupper (c);
    }
    address = result;
    return true;
}

bool isSerialPortProfile (const std::string& uuid)
{
    return lower (uuid) == serialPortProfileUuid;
}

PortFault bluezConnectFault (const std::string& errorName, const std::string& message)
{
    const std::string text = lower (message);
    for (const auto& rule : faultRules)
    {
        if (rule.errorName != nullptr && errorName != rule.errorName)
            continue;
        if (rule.inMessage != nullptr && text.find (rule.inMessage) == std::string::npos)
            continue;
        return rule.fault;
    }
    return PortFault::other;
}
