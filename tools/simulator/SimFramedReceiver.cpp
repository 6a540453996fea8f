#include "tools/simulator/SimFramedReceiver.h"

#include "tools/simulator/SimFrames.h"

#include <algorithm>

namespace korvasim
{

namespace
{
using Bytes = std::vector<uint8_t>;

bool pinIsEmpty (const std::array<uint8_t, 4>& pin)
{
    return pin[0] == 0 && pin[1] == 0 && pin[2] == 0 && pin[3] == 0;
}

void expectParams (uint8_t op, const Bytes& params, size_t count, SimReplies& out)
{
    if (params.size() != count)
        out.violation ("command " + simHex2 (op) + " with " + std::to_string (params.size())
                       + " parameters, expected " + std::to_string (count));
}
} // namespace

SimFramedReceiver::SimFramedReceiver (const SimulatorOptions& o) : options (o), stored (o.factory) {}

bool SimFramedReceiver::command (uint8_t op, const Bytes& p, SimReplies& out)
{
    switch (op)
    {
        case 0x02:
            if (p != Bytes { 0x00, 0x56 })
                out.violation ("restore defaults with parameters " + simHex (p));
            out.commandAck (op, 0);
            stored = options.factory;
            out.event (0x01, { 0x02 }, options.restartDelayMs);
            return true;

        case 0x06:
            expectParams (op, p, 4, out);
            if (p.size() == 4)
            {
                const bool allZero = p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 0;
                const bool anyZero = p[0] == 0 || p[1] == 0 || p[2] == 0 || p[3] == 0;
                if (anyZero && ! allZero)
                    out.violation ("PIN " + simHex (p) + " is neither four digits nor four zeros");
                std::copy (p.begin(), p.end(), stored.pin.begin());
            }
            out.commandAck (op, 0);
            break;

        case 0x10:
        {
            expectParams (op, p, 0, out);
            out.commandAck (op, 0);
            const size_t len = std::min<size_t> (stored.name.size(), 32);
            Bytes event (1 + len);
            event[0] = static_cast<uint8_t> (len);
            std::copy_n (stored.name.begin(), len, event.begin() + 1);
            out.event (0x21, event);
            break;
        }

        case 0x35:
            if (p.size() < 3 || p[0] != 0 || p[1] != 0 || p.size() != size_t (p[2]) + 3 || p[2] > 32)
                out.violation ("name command with parameters " + simHex (p));
            else
                stored.name.assign (p.begin() + 3, p.end());
            out.commandAck (op, 0);
            break;

        case 0xD0:
            expectParams (op, p, 1, out);
            out.commandAck (op, 0);
            if (! p.empty() && p[0] == 0)
                out.event (0x90, { 0x00, options.type });
            else if (! p.empty() && p[0] == 1)
                out.event (0x90, { 0x01, options.versionMajor, options.versionMinor });
            else
                out.violation ("identity query with parameters " + simHex (p));
            break;

        case 0xD1:
            expectParams (op, p, 0, out);
            out.commandAck (op, 0);
            out.event (0x01, { 0x02 }, options.restartDelayMs);
            break;

        case 0xD3:
            expectParams (op, p, 0, out);
            out.commandAck (op, 0);
            out.event (0x91, { stored.stereo, stored.gpoNormallyOpen, stored.ledControl,
                               stored.restoreControl, stored.maxDevices });
            break;

        case 0xD4:
            expectParams (op, p, 5, out);
            if (p.size() == 5)
            {
                if (p[0] > 1 || (p[1] != 1 && p[1] != 8) || p[2] > 1 || p[3] > 1 || p[4] > 1)
                    out.violation ("settings " + simHex (p) + " out of range");
                stored.stereo = p[0];
                stored.maxDevices = p[1];
                stored.gpoNormallyOpen = p[2];
                stored.ledControl = p[3];
                stored.restoreControl = p[4];
            }
            out.commandAck (op, 0);
            break;

        case 0xD5:
            expectParams (op, p, 0, out);
            out.commandAck (op, 0);
            if (pinIsEmpty (stored.pin))
                out.event (0x92, { 0x00, 0x00, 0x00, 0x00, 0x00 });
            else
                out.event (0x92, { 0x01, stored.pin[0], stored.pin[1], stored.pin[2], stored.pin[3] });
            break;

        default:
            out.violation ("unknown command " + simHex2 (op));
            out.commandAck (op, 0x01);
            break;
    }
    return false;
}

void SimFramedReceiver::eventSent (uint8_t op, SimClock::time_point sentAt)
{
    pending.push_back ({ op, sentAt });
}

void SimFramedReceiver::acknowledged (const Bytes& p, SimReplies& out)
{
    if (p.size() != 1)
    {
        out.violation ("acknowledgement with " + std::to_string (p.size()) + " parameters");
        return;
    }
    if (p[0] == 0x00)
        out.violation ("acknowledgement of a command acknowledgement");
    for (auto it = pending.begin(); it != pending.end(); ++it)
        if (it->opcode == p[0])
        {
            pending.erase (it);
            return;
        }
    if (p[0] == streamOpcode && streamAcked < streamSent)
    {
        ++streamAcked;
        return;
    }
    out.violation ("unexpected acknowledgement of event " + simHex2 (p[0]));
}

void SimFramedReceiver::clearAcks()
{
    pending.clear();
    streamSent = streamAcked = 0;
}

void SimFramedReceiver::expireAcks (SimClock::time_point now, SimReplies& out)
{
    const auto limit = now - std::chrono::milliseconds (options.ackTimeoutMs);
    for (auto it = pending.begin(); it != pending.end();)
    {
        if (it->sentAt < limit)
        {
            out.violation ("event " + simHex2 (it->opcode) + " was not acknowledged");
            it = pending.erase (it);
        }
        else
        {
            ++it;
        }
    }
}

SimClock::time_point SimFramedReceiver::nextAckDeadline (SimClock::time_point at) const
{
    if (pending.empty())
        return at;
    return std::min (at, pending.front().sentAt + std::chrono::milliseconds (options.ackTimeoutMs));
}

std::vector<uint8_t> SimFramedReceiver::pendingAcks() const
{
    std::vector<uint8_t> out;
    for (const auto& p : pending)
        out.push_back (p.opcode);
    return out;
}

} // namespace korvasim
