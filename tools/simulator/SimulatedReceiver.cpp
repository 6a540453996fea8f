#include "tools/simulator/SimulatedReceiver.h"

#include "tools/simulator/SimFaults.h"
#include "tools/simulator/SimFirmwareUpdate.h"
#include "tools/simulator/SimFrameReader.h"
#include "tools/simulator/SimFramedReceiver.h"
#include "tools/simulator/SimFrames.h"
#include "tools/simulator/SimHciReceiver.h"
#include "tools/simulator/SimPty.h"
#include "tools/simulator/SimReplies.h"
#include "tools/simulator/SimWire.h"

#if defined(__linux__)
 #include <sys/prctl.h>
#endif
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <unistd.h>

namespace korvasim
{

namespace
{
using Clock = SimClock;
using Bytes = std::vector<uint8_t>;

constexpr int splitGapMs = 12;
constexpr auto idleWait = std::chrono::milliseconds (50); // upper bound on a wait; wake-ups come through the pipe

// A paced wire is kept to the microsecond. A timed sleep on a busy or virtual
// machine ends tens of microseconds late; late on every frame, the receiver
// would be slower than the wire it models. So the thread sleeps until shortly
// before a due byte and yields in a loop from there. (It does not spin while
// waiting for the tool: the pty hands over written bytes through a kernel
// worker on the writer's CPU, which a spinning writer would hold up.)
constexpr auto spinLead = std::chrono::microseconds (300);
} // namespace

bool StoredSettings::operator== (const StoredSettings& o) const
{
    return name == o.name && pin == o.pin && stereo == o.stereo && maxDevices == o.maxDevices
        && gpoNormallyOpen == o.gpoNormallyOpen && ledControl == o.ledControl
        && restoreControl == o.restoreControl;
}

struct SimulatedReceiver::Impl
{
    explicit Impl (SimulatorOptions o)
        : options (std::move (o)), framed (options), hci (options.factory), reader (isHci())
    {
    }

    // ---- configuration and the receiver's state (under m) ----
    SimulatorOptions options;
    mutable std::mutex m;
    SimFramedReceiver framed;   // types 0xF0 / 0xF2; also the event acknowledgements
    SimHciReceiver hci;         // type 0xF1; kept in step with the settings of the others
    SimFirmwareUpdate firmware; // the update family, on any type
    SimFaults faults;           // switched from outside at any time

    // ---- logs (under m) ----
    std::vector<Bytes> received, sent;
    std::vector<std::string> violationLog;
    uint64_t noise = 0;
    std::function<void (const std::string&)> logger;

    // ---- pty and thread ----
    SimPty pty;
    std::thread thread;
    std::atomic<bool> running { false };
    bool vanishRequested = false; // the thread closes the pty, so it never polls a closed fd
    int wakeRead = -1, wakeWrite = -1; // self-pipe: work queued from outside ends the thread's wait

    // ---- the unsolicited event stream (under m) ----
    int streamRate = 0;                 // events a second, 0: off
    Clock::time_point nextStreamAt {};

    // ---- the line (under m) ----
    SimFrameReader reader;
    SimWire wire;
    std::optional<Clock::time_point> heardAt; // when the frame being handled arrived; replies leave from then
    std::vector<std::string> logLines; // emitted outside the lock

    bool isHci() const { return options.type == 0xF1; }
    uint32_t expectedBaud() const { return isHci() ? 115200u : 921600u; }

    // ---- output ----

    void violation (const std::string& text) { violationLog.push_back (text); }

    /** The pace of the wire: the line's baud rate when paced, else none. */
    uint32_t wireBaud() const { return faults.wireSpeed ? pty.baud() : 0; }

    /** Ends the thread's wait so it looks at newly queued work. */
    void wake()
    {
        if (wakeWrite >= 0)
        {
            const uint8_t b = 1;
            [[maybe_unused]] const ssize_t w = ::write (wakeWrite, &b, 1); // a full pipe already wakes it
        }
    }

    /** Queues a frame with the output faults switched on; a reply delay holds it back. */
    void queueFrame (Bytes frame, int eventOpcode, bool firmwareAck, int extraDelayMs = 0, bool streamed = false)
    {
        const auto now = heardAt.value_or (Clock::now()) + std::chrono::milliseconds (faults.replyDelayMs + extraDelayMs);
        faults.spoil (frame, isHci());
        if (faults.garbage)
            wire.send (now, SimFaults::garbageBytes, wireBaud());

        std::vector<Bytes> pieces = faults.pieces (frame);

        // Acknowledgement expectations and lock-step release take effect with the
        // last piece, when the tool can have seen the whole frame.
        for (size_t i = 0; i < pieces.size(); ++i)
        {
            const bool last = i + 1 == pieces.size();
            const auto earliest = i == 0 ? now : wire.outputDue() + std::chrono::milliseconds (splitGapMs);
            std::optional<SimSentFrame> frameEnd;
            if (last)
                frameEnd = SimSentFrame { frame, eventOpcode, firmwareAck, streamed };
            wire.send (earliest, std::move (pieces[i]), wireBaud(), std::move (frameEnd));
        }
    }

    /** Sends what handling a frame produced and logs what the tool did wrong. */
    void apply (const SimReplies& out)
    {
        violationLog.insert (violationLog.end(), out.violations().begin(), out.violations().end());
        for (const auto& r : out.replies())
            queueFrame (r.frame, r.eventOpcode, r.firmwareAck, r.extraDelayMs);
    }

    /** Writes every queued byte that has crossed the wire by now; a frame counts
        as sent (logged, acknowledgement expected) with its last byte. */
    void flushOutput (Clock::time_point now)
    {
        wire.flush (now, pty.masterFd(), pty.isSocket(), [this] (SimSentFrame&& o)
        {
            sent.push_back (o.frame);
            logLines.push_back (simTraceLine ("> Evt: ", o.frame));
            if (o.eventOpcode >= 0)
                framed.eventSent (static_cast<uint8_t> (o.eventOpcode), Clock::now());
            if (o.firmwareAck)
                firmware.ackSent();
            if (o.streamed)
                framed.streamedEventSent();
        });
    }

    /** Whether the stream sends now: a framed receiver at its own speed, with a
        tool on the line (a real module talks regardless, but a pty with no reader
        would only pile the events up for the next tool to open it). */
    bool streaming() const
    {
        return streamRate > 0 && ! isHci() && ! vanishRequested && pty.isOpen() && pty.heldByTool()
            && (faults.ignoreBaud || pty.baud() == expectedBaud());
    }

    /** Queues the stream's events that are due by now. A stream that fell behind
        (a busy machine, the port let go) resumes from now rather than in a burst. */
    void streamDue (Clock::time_point now)
    {
        if (! streaming())
        {
            nextStreamAt = now;
            return;
        }
        const auto period = std::chrono::duration_cast<Clock::duration> (std::chrono::seconds (1)) / streamRate;
        if (now - nextStreamAt > std::chrono::milliseconds (100))
            nextStreamAt = now;
        for (; nextStreamAt <= now; nextStreamAt += period)
            queueFrame (encodeSimFrame (SimFramedReceiver::streamOpcode, { 0x00 }), -1, false, 0, true);
    }

    void checkAckTimeouts()
    {
        SimReplies out;
        framed.expireAcks (Clock::now(), out);
        apply (out);
    }

    // ---- input ----

    /** Hands the receiver every byte that has arrived by now, while it takes input. */
    void feedInput (Clock::time_point now)
    {
        wire.feed (now, [this] (const uint8_t* bytes, size_t n, const SimWire::Arrivals& arrivals)
        {
            return takeInput (bytes, n, arrivals);
        });
    }

    /** A stalled receiver takes nothing more from the line, a vanished one is gone. */
    bool inputHeld() const { return faults.stallReads || vanishRequested; }

    /** When the thread next has something to do: input completing a frame (or its
        header), the next output slice leaving the wire, an acknowledgement
        running out of time, or the stream's next event. A tool taking the port
        is noticed within the idle wait. */
    Clock::time_point nextWake (Clock::time_point now) const
    {
        const size_t inputNeeded = inputHeld() ? 0 : reader.bytesUntilAction();
        const auto wake = framed.nextAckDeadline (wire.nextWake (now + idleWait, inputNeeded));
        return streaming() ? std::min (wake, std::max (now, nextStreamAt)) : wake;
    }

    /** Takes bytes off the line until a fault holds input back; returns how many it took. */
    size_t takeInput (const uint8_t* bytes, size_t n, const SimWire::Arrivals& arrivals)
    {
        if (inputHeld())
            return 0;
        if (! faults.ignoreBaud && pty.baud() != expectedBaud())
        {
            // At the wrong speed a UART hears framing errors, not bytes.
            noise += n;
            reader.reset();
            return n;
        }
        for (size_t i = 0; i < n; ++i)
        {
            if (inputHeld())
                return i;
            switch (reader.step (bytes[i]))
            {
                case SimFrameReader::Step::Pending:   break;
                case SimFrameReader::Step::Noise:     ++noise; break;
                case SimFrameReader::Step::Frame:     arrived (false, arrivals.at (i)); break;
                case SimFrameReader::Step::HciPacket: arrived (true, arrivals.at (i)); break;
                case SimFrameReader::Step::BadLength:
                    violation ("frame length " + std::to_string (reader.badLength()) + " out of range");
                    break;
            }
        }
        return n;
    }

    /** A whole frame (or HCI packet) from the tool: logged, then handled unless the
        receiver vanishes on it. Faults counted in frames switch on after it. */
    void arrived (bool hciPacket, Clock::time_point at)
    {
        heardAt = at;
        handleArrived (hciPacket);
        heardAt.reset();
    }

    void handleArrived (bool hciPacket)
    {
        const Bytes& f = reader.frame();
        logReceived (f, hciPacket ? "< Cmd: " : simTraceLabel (f));
        if (faults.vanishesOnFrame())
        {
            vanishRequested = true;
            return;
        }
        if (hciPacket)
            hciCommand (f);
        else
            frameCommand (f);
        faults.frameHandled();
    }

    /** What an update delivered, so a test outside the process can compare it
        with the image's sections: their sizes and an FNV-1a hash of them, in order. */
    static std::string firmwareDigestLine (const FirmwareImageReceived& fw)
    {
        uint32_t hash = 2166136261u;
        for (const Bytes* section : { &fw.mcu, &fw.dspHeader, &fw.dsp, &fw.config })
            for (const uint8_t b : *section)
                hash = (hash ^ b) * 16777619u;
        char line[160];
        std::snprintf (line, sizeof (line), "firmware received: mcu %zu dsp-header %zu dsp %zu config %zu fnv1a %08x",
                       fw.mcu.size(), fw.dspHeader.size(), fw.dsp.size(), fw.config.size(), hash);
        return line;
    }

    void logReceived (const Bytes& frame, const char* label)
    {
        received.push_back (frame);
        logLines.push_back (simTraceLine (label, frame));
    }

    void frameCommand (const Bytes& f)
    {
        const int n = (f[1] << 8) | f[2];
        const uint8_t op = f[3];
        if (simChecksum (f.data() + 1, f.size() - 2) != f.back())
        {
            violation ("frame " + simHex (f) + " has a wrong checksum");
            return;
        }
        if (! isSimDataFrame (f) && (f[1] != 0 || n > 251))
        {
            violation ("frame " + simHex (f) + " is longer than a short frame may be");
            return;
        }

        const Bytes params (f.begin() + 4, f.end() - 1);
        SimReplies out;
        if (op == 0x14)
        {
            framed.acknowledged (params, out);
            apply (out);
            return;
        }
        if (op == 0x49)
        {
            firmwareCommand (params);
            return;
        }
        if (faults.silent)
            return;
        if (const SimFaults::Refusal* r = faults.refusalFor (op, -1))
            out.commandAck (op, r->status);
        else if (framed.command (op, params, out))
            hci.reset();
        apply (out);
    }

    void firmwareCommand (const Bytes& params)
    {
        SimReplies out;
        const auto sub = firmware.command (params, out);
        if (sub && *sub == 0x07)
            logLines.push_back (firmwareDigestLine (firmware.image()));
        if (sub && faults.vanishesOnFirmware (*sub))
            vanishRequested = true;
        else if (sub && ! faults.silent)
        {
            const SimFaults::Refusal* r = faults.refusalFor (0x49, *sub);
            firmware.ackQueued();
            out.commandAck (0x49, r != nullptr ? r->status : 0);
        }
        apply (out);
    }

    // ---- HCI (type 0xF1) ----

    void hciCommand (const Bytes& f)
    {
        const uint16_t opcode = static_cast<uint16_t> (f[1] | (f[2] << 8));
        const Bytes p (f.begin() + 4, f.end());
        if (faults.silent)
            return;

        SimReplies out;
        if (const SimFaults::Refusal* r = faults.refusalFor (static_cast<uint8_t> (opcode & 0xFF), -1))
            out.packet (encodeHciComplete (opcode, r->status, {}));
        else
            hci.command (opcode, p, out);
        apply (out);
    }

    // ---- thread ----

    /** Closes the pty when a vanish was asked for; what was in flight is lost with it. */
    void vanishIfRequested()
    {
        if (vanishRequested && pty.isOpen())
        {
            wire.clear();
            pty.close();
        }
    }

    void run()
    {
       #if defined(__linux__)
        // Wake at the due times themselves: the default 50 us of timer slack
        // per sleep would add up to a receiver slower than the wire it paces.
        ::prctl (PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        // Named, so that a benchmark can tell its CPU time from the tool's.
        ::prctl (PR_SET_NAME, "korva-sim", 0UL, 0UL, 0UL);
       #endif
        uint8_t buffer[512];
        Clock::time_point wakeAt = Clock::now();
        Clock::time_point sleepUntil = wakeAt; // wakeAt, or shortly before it when the wire is timed
        while (running.load())
        {
            int fd = -1, waiting = -1;
            {
                std::lock_guard<std::mutex> lock (m);
                vanishIfRequested();
                // A stalled receiver leaves the master unread, so the tool's writes back up.
                fd = faults.stallReads ? -1 : pty.masterFd();
                waiting = pty.waitingFd();
            }

            // Sleep until the next due time (no tick), or until the tool writes,
            // or until work is queued from outside; spin where the wire is timed.
            const auto before = Clock::now();
            const bool spin = before >= sleepUntil;
            const auto wait = spin ? Clock::duration::zero() : sleepUntil - before;
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds> (wait).count();
            const timespec timeout { static_cast<time_t> (ns / 1'000'000'000), static_cast<long> (ns % 1'000'000'000) };
            // A receiver on a socket waits for the next connection while none is served.
            pollfd pfds[2] { { wakeRead, POLLIN, 0 }, { fd >= 0 ? fd : waiting, POLLIN, 0 } };
            const int ready = ::ppoll (pfds, fd >= 0 || waiting >= 0 ? 2 : 1, &timeout, nullptr);
            if (ready > 0 && fd < 0 && waiting >= 0 && (pfds[1].revents & POLLIN) != 0)
            {
                std::lock_guard<std::mutex> lock (m);
                pty.acceptConnection();
                continue;
            }
            if (ready == 0 && Clock::now() < wakeAt)
            {
                if (spin)
                    sched_yield();
                continue;
            }

            if (ready > 0 && (pfds[0].revents & POLLIN) != 0)
                while (::read (wakeRead, buffer, sizeof (buffer)) > 0) {}

            Bytes chunk;
            if (ready > 0 && fd >= 0 && (pfds[1].revents & POLLIN) != 0)
            {
                const ssize_t got = ::read (fd, buffer, sizeof (buffer));
                if (got > 0)
                    chunk.assign (buffer, buffer + got);
                else if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
                {
                    // On a socket: the tool closed the link. What it sent before
                    // closing (a last acknowledgement) is still heard, as over a
                    // real link; what the receiver had yet to send is lost. The
                    // next connection starts between frames.
                    std::lock_guard<std::mutex> lock (m);
                    if (pty.waitingFd() < 0 && pty.dropConnection())
                    {
                        feedInput (wire.inputDue());
                        wire.clear();
                        reader.reset();
                    }
                }
            }
            else if (ready > 0 && fd >= 0 && (pfds[1].revents & (POLLHUP | POLLERR)) != 0)
            {
                // Nothing to read until the line recovers; do not spin on it.
                std::this_thread::sleep_for (std::chrono::milliseconds (2));
            }

            std::vector<std::string> lines;
            std::function<void (const std::string&)> log;
            {
                std::lock_guard<std::mutex> lock (m);
                const auto now = Clock::now();
                if (! chunk.empty())
                    wire.receive (now, std::move (chunk), wireBaud());
                feedInput (now);
                vanishIfRequested();
                streamDue (now);
                flushOutput (now);
                checkAckTimeouts();
                const auto after = Clock::now();
                wakeAt = nextWake (after);
                sleepUntil = faults.wireSpeed && wire.busy() ? wakeAt - spinLead : wakeAt;
                lines.swap (logLines);
                log = logger;
            }
            if (log)
                for (const auto& line : lines)
                    log (line);
        }
    }
};

SimulatedReceiver::SimulatedReceiver (SimulatorOptions options) : impl (std::make_unique<Impl> (std::move (options))) {}

SimulatedReceiver::~SimulatedReceiver()
{
    stop();
}

bool SimulatedReceiver::start()
{
    Impl& d = *impl;
    if (d.running.load())
        return true;

    {
        std::lock_guard<std::mutex> lock (d.m);
        d.vanishRequested = false;
        const bool opened = d.options.listenPath.empty() ? d.pty.open (d.options.linkPath)
                                                         : d.pty.listen (d.options.listenPath, d.expectedBaud());
        if (! opened)
            return false;
    }

    int wakePipe[2];
    if (::pipe (wakePipe) != 0)
    {
        std::lock_guard<std::mutex> lock (d.m);
        d.pty.close();
        return false;
    }
    for (const int fd : wakePipe)
    {
        ::fcntl (fd, F_SETFL, ::fcntl (fd, F_GETFL) | O_NONBLOCK);
        ::fcntl (fd, F_SETFD, FD_CLOEXEC);
    }
    {
        std::lock_guard<std::mutex> lock (d.m);
        d.wakeRead = wakePipe[0];
        d.wakeWrite = wakePipe[1];
    }

    d.running.store (true);
    d.thread = std::thread ([&d] { d.run(); });
    return true;
}

void SimulatedReceiver::stop()
{
    Impl& d = *impl;
    if (d.running.exchange (false) && d.thread.joinable())
    {
        {
            std::lock_guard<std::mutex> lock (d.m);
            d.wake();
        }
        d.thread.join();
    }
    std::lock_guard<std::mutex> lock (d.m);
    d.pty.close();
    for (int* fd : { &d.wakeRead, &d.wakeWrite })
        if (*fd >= 0)
        {
            ::close (*fd);
            *fd = -1;
        }
}

std::string SimulatedReceiver::slavePath() const
{
    std::lock_guard<std::mutex> lock (impl->m);
    return impl->pty.slavePath();
}

std::string SimulatedReceiver::portPath() const
{
    std::lock_guard<std::mutex> lock (impl->m);
    return impl->options.linkPath.empty() ? impl->pty.slavePath() : impl->options.linkPath;
}

uint8_t SimulatedReceiver::type() const
{
    return impl->options.type;
}

StoredSettings SimulatedReceiver::settings() const
{
    std::lock_guard<std::mutex> lock (impl->m);
    return impl->isHci() ? impl->hci.settings() : impl->framed.settings();
}

void SimulatedReceiver::setSettings (const StoredSettings& s)
{
    std::lock_guard<std::mutex> lock (impl->m);
    impl->framed.setSettings (s);
    impl->hci.writeSettings (s);
}

std::vector<uint8_t> SimulatedReceiver::memory (uint16_t location, int count) const
{
    std::lock_guard<std::mutex> lock (impl->m);
    return impl->hci.read (location, count);
}

void SimulatedReceiver::setMemory (uint16_t location, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock (impl->m);
    impl->hci.write (location, bytes);
}

std::vector<std::vector<uint8_t>> SimulatedReceiver::receivedFrames() const
{
    std::lock_guard<std::mutex> lock (impl->m);
    return impl->received;
}

std::vector<std::vector<uint8_t>> SimulatedReceiver::receivedWithOpcode (uint8_t op) const
{
    std::lock_guard<std::mutex> lock (impl->m);
    std::vector<std::vector<uint8_t>> out;
    for (const auto& f : impl->received)
    {
        const bool hci = f.size() >= 4 && f[0] == 0x01;
        if ((hci && f[1] == op) || (! hci && f.size() >= 5 && f[3] == op))
            out.push_back (f);
    }
    return out;
}

std::vector<std::vector<uint8_t>> SimulatedReceiver::sentFrames() const
{
    std::lock_guard<std::mutex> lock (impl->m);
    return impl->sent;
}

std::vector<std::string> SimulatedReceiver::violations() const
{
    std::lock_guard<std::mutex> lock (impl->m);
    return impl->violationLog;
}

std::vector<uint8_t> SimulatedReceiver::pendingAcks() const
{
    std::lock_guard<std::mutex> lock (impl->m);
    return impl->framed.pendingAcks();
}

uint64_t SimulatedReceiver::noiseBytes() const
{
    std::lock_guard<std::mutex> lock (impl->m);
    return impl->noise;
}

std::vector<FirmwareCommand> SimulatedReceiver::firmwareCommands() const
{
    std::lock_guard<std::mutex> lock (impl->m);
    return impl->firmware.commands();
}

FirmwareImageReceived SimulatedReceiver::firmware() const
{
    std::lock_guard<std::mutex> lock (impl->m);
    return impl->firmware.image();
}

void SimulatedReceiver::clearLogs()
{
    std::lock_guard<std::mutex> lock (impl->m);
    impl->received.clear();
    impl->sent.clear();
    impl->violationLog.clear();
    impl->framed.clearAcks();
    impl->firmware.clear();
    impl->noise = 0;
}

bool SimulatedReceiver::waitFor (const std::function<bool()>& cond, int timeoutMs) const
{
    const auto end = Clock::now() + std::chrono::milliseconds (timeoutMs);
    while (! cond())
    {
        if (Clock::now() >= end)
            return cond();
        std::this_thread::sleep_for (std::chrono::milliseconds (5));
    }
    return true;
}

bool SimulatedReceiver::waitForFrames (size_t count, int timeoutMs) const
{
    return waitFor ([&] { return receivedFrames().size() >= count; }, timeoutMs);
}

void SimulatedReceiver::setSilent (bool on)
{
    std::lock_guard<std::mutex> lock (impl->m);
    impl->faults.silent = on;
}

void SimulatedReceiver::silentAfterFrames (int n)
{
    std::lock_guard<std::mutex> lock (impl->m);
    if (n <= 0)
        impl->faults.silent = true;
    else
        impl->faults.silentAfter.start (n);
}

void SimulatedReceiver::setStallReads (bool on)
{
    std::lock_guard<std::mutex> lock (impl->m);
    impl->faults.stallReads = on;
    impl->wake();
}

void SimulatedReceiver::stallAfterFrames (int n)
{
    std::lock_guard<std::mutex> lock (impl->m);
    if (n <= 0)
        impl->faults.stallReads = true;
    else
        impl->faults.stallAfter.start (n);
    impl->wake();
}

void SimulatedReceiver::vanishAfterFrames (int n)
{
    if (n <= 0)
    {
        vanish();
        return;
    }
    std::lock_guard<std::mutex> lock (impl->m);
    impl->faults.vanishAfter.start (n);
}

void SimulatedReceiver::vanishOnFirmware (uint8_t subCode, int nth)
{
    std::lock_guard<std::mutex> lock (impl->m);
    impl->faults.vanishSubCode = subCode;
    impl->faults.vanishOnFirmware.start (std::max (1, nth));
}

void SimulatedReceiver::refuse (uint8_t opcode, uint8_t status, int subCode)
{
    std::lock_guard<std::mutex> lock (impl->m);
    impl->faults.refusals.push_back ({ opcode, status, subCode });
}

void SimulatedReceiver::clearRefusals()
{
    std::lock_guard<std::mutex> lock (impl->m);
    impl->faults.refusals.clear();
}

void SimulatedReceiver::setCorruptChecksum (bool on)
{
    std::lock_guard<std::mutex> lock (impl->m);
    impl->faults.corruptChecksum = on;
}

void SimulatedReceiver::setSplitWrites (bool on)
{
    std::lock_guard<std::mutex> lock (impl->m);
    impl->faults.splitWrites = on;
}

void SimulatedReceiver::setGarbageBetweenFrames (bool on)
{
    std::lock_guard<std::mutex> lock (impl->m);
    impl->faults.garbage = on;
}

void SimulatedReceiver::setReplyDelayMs (int delayMs)
{
    std::lock_guard<std::mutex> lock (impl->m);
    impl->faults.replyDelayMs = std::max (0, delayMs);
}

void SimulatedReceiver::setWireSpeed (bool on)
{
    std::lock_guard<std::mutex> lock (impl->m);
    impl->faults.wireSpeed = on;
}

void SimulatedReceiver::setIgnoreBaud (bool on)
{
    std::lock_guard<std::mutex> lock (impl->m);
    impl->faults.ignoreBaud = on;
}

void SimulatedReceiver::injectPairedRecords (int count)
{
    std::vector<uint8_t> params { static_cast<uint8_t> (count) };
    for (int r = 0; r < count; ++r)
    {
        params.push_back (static_cast<uint8_t> (r + 1));
        for (int i = 0; i < 6; ++i)
            params.push_back (static_cast<uint8_t> (0x10 * (r + 1) + i));
    }
    injectEvent (0x1F, params);
}

void SimulatedReceiver::injectStatus (uint8_t state)
{
    injectEvent (0x01, { state });
}

void SimulatedReceiver::streamEvents (int perSecond)
{
    std::lock_guard<std::mutex> lock (impl->m);
    impl->streamRate = std::clamp (perSecond, 0, 100'000);
    impl->nextStreamAt = Clock::now();
    impl->wake();
}

SimulatedReceiver::StreamCounts SimulatedReceiver::streamCounts() const
{
    std::lock_guard<std::mutex> lock (impl->m);
    return { impl->framed.streamedSent(), impl->framed.streamedAcknowledged() };
}

void SimulatedReceiver::injectEvent0E (uint8_t value)
{
    injectEvent (0x0E, { value });
}

void SimulatedReceiver::injectEvent (uint8_t opcode, const std::vector<uint8_t>& params)
{
    std::lock_guard<std::mutex> lock (impl->m);
    SimReplies out;
    out.event (opcode, params);
    impl->apply (out);
    impl->wake();
}

void SimulatedReceiver::injectRaw (const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock (impl->m);
    impl->wire.send (Clock::now(), bytes, impl->wireBaud());
    impl->wake();
}

void SimulatedReceiver::vanish()
{
    {
        std::lock_guard<std::mutex> lock (impl->m);
        impl->vanishRequested = true;
        if (! impl->running.load())
            impl->pty.close();
        impl->wake();
    }
    waitFor ([this] { std::lock_guard<std::mutex> lock (impl->m); return ! impl->pty.isOpen(); }, 2000);
}

void SimulatedReceiver::setLogger (std::function<void (const std::string&)> logger)
{
    std::lock_guard<std::mutex> lock (impl->m);
    impl->logger = std::move (logger);
}

} // namespace korvasim
