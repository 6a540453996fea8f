#include "tools/simulator/SimWire.h"

#include <algorithm>
#include <cerrno>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

namespace korvasim
{

namespace
{
constexpr size_t fifoBytes = 16; // paced output reaches the tool in slices this large, like a UART FIFO
}

SimClock::time_point SimWire::Span::doneAt (size_t count) const
{
    if (baud == 0)
        return start;
    return start + std::chrono::nanoseconds (static_cast<long long> (count) * 10'000'000'000LL / baud);
}

size_t SimWire::Span::doneBy (SimClock::time_point now) const
{
    if (now < start)
        return 0;
    if (baud == 0 || now >= doneAt (bytes.size()))
        return bytes.size();
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds> (now - start).count();
    return std::min (bytes.size(), static_cast<size_t> (elapsed * static_cast<long long> (baud) / 10'000'000'000LL));
}

void SimWire::send (SimClock::time_point earliest, std::vector<uint8_t> bytes, uint32_t baud,
                    std::optional<SimSentFrame> frameEnd)
{
    Span o;
    o.start = std::max (earliest, lastDue);
    o.baud = baud;
    o.bytes = std::move (bytes);
    o.frameEnd = std::move (frameEnd);
    lastDue = o.doneAt (o.bytes.size());
    out.push_back (std::move (o));
}

void SimWire::receive (SimClock::time_point now, std::vector<uint8_t> chunk, uint32_t baud)
{
    Span s;
    s.start = baud != 0 ? std::max (now, inputBusyUntil) : now;
    s.baud = baud;
    s.bytes = std::move (chunk);
    inputBusyUntil = s.doneAt (s.bytes.size());
    in.push_back (std::move (s));
}

SimClock::time_point SimWire::Arrivals::at (size_t i) const
{
    return span.doneAt (offset + i + 1);
}

void SimWire::feed (SimClock::time_point now,
                    const std::function<size_t (const uint8_t*, size_t, const Arrivals&)>& take)
{
    while (! in.empty())
    {
        Span& front = in.front();
        const size_t ready = front.doneBy (now);
        if (ready > front.done)
        {
            const size_t offered = ready - front.done;
            const Arrivals arrivals { front, front.done };
            const size_t taken = std::min (offered, take (front.bytes.data() + front.done, offered, arrivals));
            front.done += taken;
            if (taken < offered)
                return;
        }
        if (ready < front.bytes.size())
            return;
        in.pop_front();
    }
}

void SimWire::flush (SimClock::time_point now, int fd, bool socket, const std::function<void (SimSentFrame&&)>& sent)
{
    while (! out.empty() && out.front().start <= now)
    {
        Span& front = out.front();
        const size_t ready = front.doneBy (now);
        if (fd >= 0)
        {
            size_t off = front.done;
            while (off < ready)
            {
                const ssize_t w = socket ? ::send (fd, front.bytes.data() + off, ready - off, MSG_NOSIGNAL)
                                         : ::write (fd, front.bytes.data() + off, ready - off);
                if (w > 0)
                    off += static_cast<size_t> (w);
                else if (w < 0 && (errno == EAGAIN || errno == EINTR))
                    std::this_thread::sleep_for (std::chrono::milliseconds (1));
                else
                    break;
            }
        }
        front.done = ready;
        if (ready < front.bytes.size())
            break;

        std::optional<SimSentFrame> frame = std::move (front.frameEnd);
        out.pop_front();
        if (frame)
            sent (std::move (*frame));
    }
}

SimClock::time_point SimWire::nextWake (SimClock::time_point at, size_t inputNeeded) const
{
    if (! in.empty() && inputNeeded > 0)
    {
        const Span& s = in.front();
        at = std::min (at, s.doneAt (std::min (s.bytes.size(), s.done + inputNeeded)));
    }
    if (! out.empty())
    {
        const Span& s = out.front();
        at = std::min (at, s.doneAt (std::min (s.bytes.size(), s.done + fifoBytes)));
    }
    return at;
}

SimClock::time_point SimWire::inputDue() const
{
    SimClock::time_point due {};
    for (const Span& s : in)
        due = std::max (due, s.doneAt (s.bytes.size()));
    return due;
}

void SimWire::clear()
{
    out.clear();
    in.clear();
}

} // namespace korvasim
