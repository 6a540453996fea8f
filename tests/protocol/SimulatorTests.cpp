// The simulated receiver's own checks, which the other suites rely on: it must
// notice what a faulty tool would do wrong, reassemble firmware exactly, and fail
// in the ways its faults promise.

#include "SimFixture.h"

#include "protocol/DeviceState.h"
#include "protocol/EventReceiver.h"
#include "protocol/Transmit.h"
#include "tests/TestResets.h"

#include <cerrno>
#include <functional>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

namespace
{
using korvasim::SimulatedReceiver;
using korvasim::SimulatorOptions;

Bytes frameOf (const Bytes& body)
{
    Bytes f;
    f.reserve (body.size() + 4);   // GCC 12 warns (-Warray-bounds) on an insert that may grow a 3-byte vector
    f.push_back (0xAA);
    f.push_back (static_cast<uint8_t> (body.size() >> 8));
    f.push_back (static_cast<uint8_t> (body.size() & 0xFF));
    f.insert (f.end(), body.begin(), body.end());
    uint8_t sum = 0;
    for (size_t i = 1; i < f.size(); ++i)
        sum = static_cast<uint8_t> (sum + f[i]);
    f.push_back (static_cast<uint8_t> (-sum));
    return f;
}

void put32 (Bytes& b, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        b.push_back (static_cast<uint8_t> (v >> s));
}

void put16 (Bytes& b, uint16_t v)
{
    b.push_back (static_cast<uint8_t> (v >> 8));
    b.push_back (static_cast<uint8_t> (v & 0xFF));
}

Bytes sectionData (uint8_t kind, uint32_t offset, const Bytes& data)
{
    Bytes b { 0x49, 0x04, kind };
    put32 (b, offset);
    put16 (b, static_cast<uint16_t> (data.size()));
    b.insert (b.end(), data.begin(), data.end());
    return b;
}

/** A whole update, one frame per command: a two-byte MCU section sent in two pieces. */
std::vector<Bytes> smallUpdate()
{
    Bytes begin { 0x49, 0x00 };
    put32 (begin, 2);
    put32 (begin, 0);
    put32 (begin, 0);
    return { frameOf (begin), frameOf ({ 0x49, 0x01, 0x12, 0x34 }),
             frameOf (sectionData (0, 0, { 0x42 })), frameOf (sectionData (0, 1, { 0x43 })),
             frameOf ({ 0x49, 0x05, 0x00 }), frameOf ({ 0x49, 0x06 }), frameOf ({ 0x49, 0x07 }) };
}

Bytes firmwareAck (uint8_t status)
{
    return frameOf ({ 0x00, 0x49, status });
}

/** The tool's end of the line with none of the tool's code in it: the pty's slave,
    raw at 921600 baud and nonblocking, driven with plain read, write and poll. */
class RawPort
{
public:
    explicit RawPort (const std::string& path) : fd (::open (path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        termios tio;
        if (fd >= 0 && ::tcgetattr (fd, &tio) == 0)
        {
            ::cfmakeraw (&tio);
            ::cfsetispeed (&tio, B921600);
            ::cfsetospeed (&tio, B921600);
            ::tcsetattr (fd, TCSANOW, &tio);
        }
    }

    /** A connection to a receiver listening on a Unix socket, as BlueZ hands one over. */
    struct Socket {};
    RawPort (Socket, const std::string& path) : fd (::socket (AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        path.copy (address.sun_path, sizeof (address.sun_path) - 1);
        if (fd >= 0 && ::connect (fd, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) != 0)
        {
            ::close (fd);
            fd = -1;
        }
    }

    ~RawPort()
    {
        if (fd >= 0)
            ::close (fd);
    }

    RawPort (const RawPort&) = delete;
    RawPort& operator= (const RawPort&) = delete;

    bool isOpen() const { return fd >= 0; }

    /** Writes all of bytes, waiting while the line is full; false if it stays full. */
    bool send (const Bytes& bytes)
    {
        size_t off = 0;
        while (off < bytes.size())
        {
            const ssize_t w = ::write (fd, bytes.data() + off, bytes.size() - off);
            if (w > 0)
                off += static_cast<size_t> (w);
            else if (w >= 0 || errno != EAGAIN || ! ready (POLLOUT))
                return false;
        }
        return true;
    }

    /** Reads count bytes, waiting for each; fewer when the line stays quiet or fails. */
    Bytes read (size_t count)
    {
        Bytes got;
        uint8_t buffer[256];
        while (got.size() < count)
        {
            const ssize_t n = ::read (fd, buffer, std::min (sizeof (buffer), count - got.size()));
            if (n > 0)
                got.insert (got.end(), buffer, buffer + n);
            else if (n == 0 || errno != EAGAIN || ! ready (POLLIN))
                break;
        }
        return got;
    }

    /** Writes filler (never a frame start) until the line stays full: the bytes
        written then, or -1 when it still drained after limit bytes. A full line that
        makes room again within a moment is only being read slowly. */
    long fill (long limit)
    {
        const Bytes filler (4096, 0x55);
        long total = 0;
        while (total < limit)
        {
            const ssize_t w = ::write (fd, filler.data(), filler.size());
            if (w > 0)
                total += w;
            else if (w >= 0 || errno != EAGAIN)
                return -1;
            else if (! ready (POLLOUT, 200))
                return total;
        }
        return -1;
    }

    /** True when the line hangs up, as it does once the receiver's end is closed. */
    bool hangsUp()
    {
        pollfd p { fd, POLLIN, 0 };
        return ::poll (&p, 1, 5000) == 1 && (p.revents & POLLHUP) != 0;
    }

private:
    bool ready (short events, int timeoutMs = 5000)
    {
        pollfd p { fd, events, 0 };
        return ::poll (&p, 1, timeoutMs) == 1 && (p.revents & events) != 0;
    }

    int fd;
};

class Simulator : public SimFixture
{
protected:
    /** A receiver of type with the raw port on it (the one before stopped and checked). */
    void startRaw (uint8_t type)
    {
        port.reset();
        if (sim != nullptr)
        {
            EXPECT_TRUE (sim->violations().empty()) << describeViolations();
            sim->stop();
        }
        SimulatorOptions options;
        options.type = type;
        sim = std::make_unique<SimulatedReceiver> (options);
        ASSERT_TRUE (sim->start());
        port = std::make_unique<RawPort> (sim->slavePath());
        ASSERT_TRUE (port->isOpen());
    }

    void TearDown() override
    {
        port.reset();
        SimFixture::TearDown();
    }

    void write (const Bytes& f) { writePacket (index, f.data(), static_cast<int> (f.size())); }

    /** Sends a frame (opcode + parameters; none when empty) and polls the tool's
        receive step until it reports something other than None. */
    EventResult exchange (const Bytes& body)
    {
        if (! body.empty())
            write (frameOf (body));
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds (5);
        while (std::chrono::steady_clock::now() < end)
        {
            const EventResult r = pollEvents (*job, false);
            if (r != EventResult::None)
                return r;
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
        }
        return EventResult::None;
    }

    std::unique_ptr<RawPort> port;
};

TEST_F (Simulator, AnswersOnlyAtItsBaudRate)
{
    startSim (0xF0);
    // The line settings the tool made are what the receiver goes by.
    const int fd = ::open (sim->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE (fd, 0);
    termios tio;
    EXPECT_EQ (::tcgetattr (fd, &tio), 0);
    EXPECT_EQ (::cfgetospeed (&tio), static_cast<speed_t> (B921600));
    ::close (fd);

    resetPortTable();
    index = registerPort (sim->slavePath());
    ASSERT_EQ (openPort (index, 115200), 1);
    write (hexBytes ("AA 00 02 D0 00 2E"));
    std::this_thread::sleep_for (std::chrono::milliseconds (100));
    EXPECT_TRUE (sim->sentFrames().empty());
    EXPECT_EQ (sim->noiseBytes(), 6u);
}

TEST_F (Simulator, RecordsMalformedFramesAndAcknowledgements)
{
    SimulatorOptions options;
    options.ackTimeoutMs = 100;
    startSim (options, false);
    expectNoViolations = false;

    write (hexBytes ("AA 00 01 10 EE"));             // wrong checksum
    write (hexBytes ("AA 00 02 14 90 5A"));          // acknowledges an event never sent
    write (hexBytes ("AA 00 02 D0 02 2C"));          // identity query with an unknown parameter
    write (hexBytes ("AA 00 04 35 00 00 05 C2"));    // name length disagrees with the frame
    sim->injectStatus (2);                           // never acknowledged
    ASSERT_TRUE (sim->waitFor ([&] { return sim->violations().size() >= 5; }));
    const auto v = sim->violations();
    auto has = [&] (const char* text)
    {
        for (const auto& line : v)
            if (line.find (text) != std::string::npos)
                return true;
        return false;
    };
    EXPECT_TRUE (has ("wrong checksum")) << describeViolations();
    EXPECT_TRUE (has ("unexpected acknowledgement of event 90")) << describeViolations();
    EXPECT_TRUE (has ("identity query")) << describeViolations();
    EXPECT_TRUE (has ("name command")) << describeViolations();
    EXPECT_TRUE (has ("event 01 was not acknowledged")) << describeViolations();
}

TEST_F (Simulator, RestoreDefaultsAnswersAfterTheRestart)
{
    startSim (0xF0);
    korvasim::StoredSettings changed;
    changed.name = "changed";
    sim->setSettings (changed);
    pollEvents (*job, true);
    EXPECT_EQ (exchange (hexBytes ("02 00 56")), EventResult::AckCmd02);
    EXPECT_EQ (exchange ({}), EventResult::StatusTwo);
    EXPECT_EQ (sim->settings().name, "Rulko");
    settle();
}

TEST_F (Simulator, ReassemblesFirmwareAndChecksLockStep)
{
    startSim (0xF2);
    pollEvents (*job, true);

    Bytes mcu (600), header (20), dsp (10), config (489);
    for (size_t i = 0; i < mcu.size(); ++i) mcu[i] = static_cast<uint8_t> (i * 3);
    for (size_t i = 0; i < header.size(); ++i) header[i] = static_cast<uint8_t> (0xA0 + i);
    for (size_t i = 0; i < dsp.size(); ++i) dsp[i] = static_cast<uint8_t> (0x50 + i);
    for (size_t i = 0; i < config.size(); ++i) config[i] = static_cast<uint8_t> (i);

    Bytes begin { 0x49, 0x00 };
    put32 (begin, 600);
    put32 (begin, 10);
    put32 (begin, 489);
    EXPECT_EQ (exchange (begin), EventResult::AckCmd49);
    // The short commands are framed by sendCommand, to the job's port.
    const uint8_t mcuStart[] = { 0x49, 0x01, 0x12, 0x34 };
    sendCommand (*job, mcuStart, 4);
    EXPECT_EQ (exchange ({}), EventResult::AckCmd49);
    EXPECT_EQ (exchange (sectionData (0, 0, Bytes (mcu.begin(), mcu.begin() + 489))), EventResult::AckCmd49);
    EXPECT_EQ (exchange (sectionData (0, 489, Bytes (mcu.begin() + 489, mcu.end()))), EventResult::AckCmd49);
    EXPECT_EQ (exchange ({ 0x49, 0x05, 0x00 }), EventResult::AckCmd49);
    Bytes hdr { 0x49, 0x02, 0x00, 0x02, 0x00, 20, 0x00, 20 };
    hdr.insert (hdr.end(), header.begin(), header.end());
    EXPECT_EQ (exchange (hdr), EventResult::AckCmd49);
    EXPECT_EQ (exchange (sectionData (1, 0, dsp)), EventResult::AckCmd49);
    EXPECT_EQ (exchange ({ 0x49, 0x05, 0x01 }), EventResult::AckCmd49);
    EXPECT_EQ (exchange ({ 0x49, 0x03, 0x00, 0x03 }), EventResult::AckCmd49);
    EXPECT_EQ (exchange (sectionData (2, 0, config)), EventResult::AckCmd49);
    EXPECT_EQ (exchange (sectionData (2, 489, {})), EventResult::AckCmd49);
    EXPECT_EQ (exchange ({ 0x49, 0x05, 0x02 }), EventResult::AckCmd49);
    EXPECT_EQ (exchange ({ 0x49, 0x06 }), EventResult::AckCmd49);
    EXPECT_EQ (exchange ({ 0x49, 0x07 }), EventResult::AckCmd49);

    const auto fw = sim->firmware();
    EXPECT_EQ (fw.mcu, mcu);
    EXPECT_EQ (fw.dspHeader, header);
    EXPECT_EQ (fw.dsp, dsp);
    EXPECT_EQ (fw.config, config);
    EXPECT_EQ (fw.mcuTag, 0x1234);
    EXPECT_EQ (fw.dspHeaderSize, 20);
    EXPECT_TRUE (fw.closed);

    std::vector<int> subCodes, sizes;
    for (const auto& c : sim->firmwareCommands())
    {
        subCodes.push_back (c.subCode);
        sizes.push_back (c.dataBytes);
    }
    EXPECT_EQ (subCodes, (std::vector<int> { 0, 1, 4, 4, 5, 2, 4, 5, 3, 4, 4, 5, 6, 7 }));
    EXPECT_EQ (sizes, (std::vector<int> { -1, -1, 489, 111, -1, 20, 10, -1, -1, 489, 0, -1, -1, -1 }));
    EXPECT_TRUE (sim->violations().empty()) << describeViolations();

    // Two commands without waiting for the acknowledgement in between.
    sim->setReplyDelayMs (100);
    write (frameOf (begin));
    write (frameOf ({ 0x49, 0x01, 0x12, 0x34 }));
    ASSERT_TRUE (sim->waitFor ([&] { return ! sim->violations().empty(); }));
    EXPECT_NE (sim->violations()[0].find ("before the previous acknowledgement"), std::string::npos);
    expectNoViolations = false;
}

TEST_F (Simulator, RefusesOnlyTheFirmwareSubCodeAskedFor)
{
    const struct
    {
        const char* name;
        uint8_t subCode;
    } cases[] = {
        { "SectionData", 0x04 },
        { "UpdateClose", 0x07 },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        startRaw (0xF2);
        sim->refuse (0x49, 0x03, c.subCode);
        for (const Bytes& frame : smallUpdate())
        {
            ASSERT_TRUE (port->send (frame));
            EXPECT_EQ (port->read (7), firmwareAck (frame[4] == c.subCode ? 0x03 : 0x00)) << "sub-code " << int (frame[4]);
        }
        const auto fw = sim->firmware();
        EXPECT_EQ (fw.mcu, (Bytes { 0x42, 0x43 })) << "a refused frame still arrives";
        EXPECT_TRUE (fw.closed);
    }
}

TEST_F (Simulator, StalledReadsBackUpTheLineUntilResumed)
{
    startRaw (0xF0);
    sim->setStallReads (true);
    const long written = port->fill (1L << 20);
    ASSERT_GT (written, 0) << "the line kept draining";
    EXPECT_EQ (sim->noiseBytes(), 0u);

    sim->setStallReads (false);
    EXPECT_TRUE (sim->waitFor ([&] { return sim->noiseBytes() == static_cast<uint64_t> (written); }));
    ASSERT_TRUE (port->send (frameOf ({ 0x06, 0x00, 0x00, 0x00, 0x00 })));
    EXPECT_EQ (port->read (7), frameOf ({ 0x00, 0x06, 0x00 }));
}

TEST_F (Simulator, FaultsStrikeMidTransfer)
{
    enum class Then { Unanswered, LineFills, HangsUp };
    const struct
    {
        const char* name;
        std::function<void (SimulatedReceiver&)> arm;
        size_t answered;             // frames of the update answered before the fault shows
        Then then;                   // what the next frame meets
    } cases[] = {
        { "silent after 3 frames", [] (SimulatedReceiver& s) { s.silentAfterFrames (3); }, 3, Then::Unanswered },
        { "stalled after 3 frames", [] (SimulatedReceiver& s) { s.stallAfterFrames (3); }, 3, Then::LineFills },
        { "vanished on the 4th frame", [] (SimulatedReceiver& s) { s.vanishAfterFrames (4); }, 3, Then::HangsUp },
        { "vanished on the 2nd SectionData", [] (SimulatedReceiver& s) { s.vanishOnFirmware (0x04, 2); }, 3, Then::HangsUp },
    };
    const auto update = smallUpdate();
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        startRaw (0xF2);
        c.arm (*sim);
        for (size_t i = 0; i < c.answered; ++i)
        {
            ASSERT_TRUE (port->send (update[i]));
            ASSERT_EQ (port->read (7), firmwareAck (0x00));
        }
        ASSERT_TRUE (port->send (update[c.answered]));
        switch (c.then)
        {
            case Then::Unanswered:
            {
                // Sent once the frame is in, the marker would queue behind an answer to it.
                ASSERT_TRUE (sim->waitForFrames (c.answered + 1));
                const Bytes marker = frameOf ({ 0x00, 0x7F, 0x00 });
                sim->injectRaw (marker);
                EXPECT_EQ (port->read (marker.size()), marker) << "the frame was answered";
                break;
            }
            case Then::LineFills:
                EXPECT_GT (port->fill (1L << 20), 0) << "the line kept draining";
                EXPECT_EQ (sim->receivedFrames().size(), c.answered);
                break;
            case Then::HangsUp:
                EXPECT_TRUE (port->hangsUp());
                EXPECT_EQ (sim->sentFrames().size(), c.answered) << "the last frame was answered";
                break;
        }
    }
}

// The unsolicited stream of a chatty receiver runs only while a tool holds the
// port (the tool opens it exclusively); its events are counted with their
// acknowledgements rather than owed one by one.
TEST_F (Simulator, StreamsStatusEventsWhileAToolHoldsThePort)
{
    using namespace std::chrono_literals;

    // A line opened without exclusive access, as a terminal program does, hears nothing.
    startRaw (0xF0);
    sim->streamEvents (200);
    std::this_thread::sleep_for (300ms);
    EXPECT_EQ (sim->streamCounts().sent, 0u);
    port.reset();

    startSim (0xF0);
    pollEvents (*job, true);
    sim->streamEvents (200);
    auto listen = [this] (std::chrono::milliseconds span)
    {
        int heard = 0;
        for (const auto end = std::chrono::steady_clock::now() + span; std::chrono::steady_clock::now() < end;)
            if (pollEvents (*job, false) == EventResult::StatusZero)
                ++heard;
            else
                std::this_thread::sleep_for (1ms);
        return heard;
    };
    int heard = listen (1000ms);
    sim->streamEvents (0);
    heard += listen (200ms);

    const auto counts = sim->streamCounts();
    EXPECT_GE (heard, 50) << "about 200 a second";
    EXPECT_LE (heard, 300) << "about 200 a second";
    EXPECT_EQ (counts.sent, static_cast<uint64_t> (heard));
    EXPECT_TRUE (sim->waitFor ([&] { return sim->streamCounts().acknowledged == counts.sent; }));
    EXPECT_EQ (sim->sentFrames().back(), hexBytes ("AA 00 02 01 00 FD"));

    // Let go of the port: the stream holds, and resumes when the port is taken again.
    closePort (index);
    sim->streamEvents (200);
    std::this_thread::sleep_for (300ms);
    EXPECT_EQ (sim->streamCounts().sent, counts.sent);
    ASSERT_EQ (openPort (index, 921600u), 1);
    EXPECT_TRUE (sim->waitFor ([&] { return sim->streamCounts().sent > counts.sent; }));
    sim->streamEvents (0);
}

TEST_F (Simulator, WireSpeedPacingStillAnswers)
{
    startSim (0xF0);
    sim->setWireSpeed (true);
    pollEvents (*job, true);
    EXPECT_EQ (exchange ({ 0xD0, 0x00 }), EventResult::TypeReply);
    settle();
}
TEST_F (Simulator, ASocketLinkHearsWhatTheToolSentBeforeClosingAndStartsAfresh)
{
    // Behind a Bluetooth link each connection is a socket, which the tool may close
    // right after its last write (an acknowledgement): at wire speed those bytes
    // are still crossing the wire when the receiver sees the close.
    char dir[] = "/tmp/korva-sim-link-XXXXXX";
    ASSERT_NE (::mkdtemp (dir), nullptr);
    SimulatorOptions options;
    options.listenPath = std::string (dir) + "/receiver.sock";
    sim = std::make_unique<SimulatedReceiver> (options);
    ASSERT_TRUE (sim->start());
    sim->setWireSpeed (true);

    const Bytes query = hexBytes ("AA 00 02 D0 00 2E");
    Bytes queries;
    for (int i = 0; i < 20; ++i)
        queries.insert (queries.end(), query.begin(), query.end());
    const Bytes halfQuery (query.begin(), query.begin() + 4);

    sim->setSilent (true);   // frames are still heard, and nothing is owed an acknowledgement
    const Bytes* const lastWrites[] = { &queries, &halfQuery };
    for (const Bytes* lastWrite : lastWrites)
    {
        RawPort link (RawPort::Socket {}, options.listenPath);
        ASSERT_TRUE (link.isOpen());
        EXPECT_TRUE (link.send (*lastWrite));
    }
    EXPECT_TRUE (sim->waitForFrames (20)) << sim->receivedFrames().size() << " of 20 frames heard";
    sim->setSilent (false);

    // The half frame went with its connection: the next one starts between frames.
    {
        RawPort link (RawPort::Socket {}, options.listenPath);
        ASSERT_TRUE (link.send (query));
        EXPECT_EQ (link.read (14), hexBytes ("AA 00 03 00 D0 00 2D AA 00 03 90 00 F0 7D"));
        EXPECT_TRUE (link.send (hexBytes ("AA 00 02 14 90 5A")));
        settle();
    }
    EXPECT_EQ (sim->receivedFrames().size(), 22u);
    EXPECT_TRUE (sim->violations().empty()) << describeViolations();
    sim->stop();
    sim.reset();
    ::rmdir (dir);
}
}
