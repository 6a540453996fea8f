// The simulated receiver's own checks, which the other suites rely on: it must
// notice what a faulty tool would do wrong, and reassemble firmware exactly.

#include "SimFixture.h"

#include "protocol/DeviceState.h"
#include "protocol/EventReceiver.h"
#include "protocol/Transmit.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace
{
using korvasim::SimulatorOptions;

Bytes frameOf (const Bytes& body)
{
    Bytes f { 0xAA, static_cast<uint8_t> (body.size() >> 8), static_cast<uint8_t> (body.size() & 0xFF) };
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

class Simulator : public SimFixture
{
protected:
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

    Bytes sectionData (uint8_t kind, uint32_t offset, const Bytes& data)
    {
        Bytes b { 0x49, 0x04, kind };
        put32 (b, offset);
        put16 (b, static_cast<uint16_t> (data.size()));
        b.insert (b.end(), data.begin(), data.end());
        return b;
    }
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
    // The short commands go through sendCommand to the panel's port.
    deviceState().currentPortIndex = index;
    const uint8_t mcuStart[] = { 0x49, 0x01, 0x12, 0x34 };
    sendCommand (mcuStart, 4);
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

TEST_F (Simulator, RefusesAFirmwareSubCode)
{
    startSim (0xF0);
    sim->refuse (0x49, 0x03, 0x04);
    pollEvents (*job, true);
    Bytes begin { 0x49, 0x00 };
    put32 (begin, 1);
    put32 (begin, 0);
    put32 (begin, 0);
    EXPECT_EQ (exchange (begin), EventResult::AckCmd49);
    EXPECT_EQ (exchange ({ 0x49, 0x01, 0x00, 0x01 }), EventResult::AckCmd49);
    EXPECT_EQ (exchange (sectionData (0, 0, { 0x42 })), EventResult::Rejected);
    EXPECT_EQ (sim->firmware().mcu, Bytes { 0x42 }) << "the frame itself arrived";
}

TEST_F (Simulator, WireSpeedPacingStillAnswers)
{
    startSim (0xF0);
    sim->setWireSpeed (true);
    pollEvents (*job, true);
    EXPECT_EQ (exchange ({ 0xD0, 0x00 }), EventResult::TypeReply);
    settle();
}
}
