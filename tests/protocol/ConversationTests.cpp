// The detect, read and write conversations against the simulated receiver over a pty.

#include "SimFixture.h"

#include "protocol/Commands.h"
#include "protocol/Conversations.h"
#include "protocol/DeviceState.h"

#include <cstring>

namespace
{
using korvasim::SimulatorOptions;
using korvasim::StoredSettings;
using Clock = std::chrono::steady_clock;

std::vector<Bytes> frames (std::initializer_list<const char*> hex)
{
    std::vector<Bytes> out;
    for (const char* h : hex)
        out.push_back (hexBytes (h));
    return out;
}

class Conversation : public SimFixture {};

TEST_F (Conversation, DetectsAnHciModuleWithinTheProbe)
{
    startSim (0xF1);
    detectModule (*job);
    EXPECT_EQ (job->status, JobStatus::Done);
    EXPECT_EQ (device().typeCode, 0xF1);
    EXPECT_EQ (device().versionMajor, 0);
    EXPECT_EQ (device().versionMinor, 0);
    std::this_thread::sleep_for (std::chrono::milliseconds (50));
    EXPECT_EQ (sim->receivedFrames(), frames ({ "01 29 FC 03 07 BA 04" })) << "no CommandFrame sent";
}

TEST_F (Conversation, DetectsFramedModulesWithTheirVersion)
{
    struct Case { uint8_t type, major, minor; };
    for (const Case c : { Case { 0xF0, 0x01, 0x05 }, Case { 0xF2, 0x01, 0x07 }, Case { 0x55, 0x10, 0x23 } })
    {
        SimulatorOptions options;
        options.type = c.type;
        options.versionMajor = c.major;
        options.versionMinor = c.minor;
        startSim (options, false);
        device().typeCode = 0x99;

        detectModule (*job);
        EXPECT_EQ (job->status, JobStatus::Done);
        EXPECT_EQ (device().typeCode, c.type);
        EXPECT_EQ (device().versionMajor, c.major);
        EXPECT_EQ (device().versionMinor, c.minor);
        settle();
        EXPECT_EQ (sim->receivedFrames(), frames ({ "AA 00 02 D0 00 2E", "AA 00 02 14 90 5A",
                                                    "AA 00 02 D0 01 2D", "AA 00 02 14 90 5A" }));
        TearDown();
        sim.reset();
    }
}

TEST_F (Conversation, DetectWithNothingAnsweringFailsAfterProbeAndCountdown)
{
    startSim (0xF0);
    sim->setSilent (true);
    const auto start = Clock::now();
    detectModule (*job);
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ (job->status, JobStatus::Failed);
    EXPECT_EQ (device().typeCode, 0);
    EXPECT_GE (elapsed, std::chrono::milliseconds (210 * 10)) << "10 probe passes + 200 passes of 10 ms";
    EXPECT_EQ (sim->receivedWithOpcode (0xD0).size(), 1u);
}

TEST_F (Conversation, PairedRecordsMakeTheTypeQueryRepeat)
{
    startSim (0xF2);
    sim->setSilent (true);
    std::thread worker ([&] { detectModule (*job); });
    ASSERT_TRUE (sim->waitFor ([&] { return sim->receivedWithOpcode (0xD0).size() == 1; }));
    sim->setSilent (false);
    sim->injectPairedRecords (2);
    worker.join();
    EXPECT_EQ (job->status, JobStatus::Done);
    EXPECT_EQ (device().typeCode, 0xF2);
    EXPECT_EQ (sim->receivedWithOpcode (0xD0),
               frames ({ "AA 00 02 D0 00 2E", "AA 00 02 D0 00 2E", "AA 00 02 D0 01 2D" }));
    settle();
}

TEST_F (Conversation, ExitRequestDuringDetectLeavesRunning)
{
    startSim (0xF0);
    sim->setSilent (true);
    runWithExitAfter (300, [&] { detectModule (*job); });
    EXPECT_EQ (job->status, JobStatus::Running);
}

TEST_F (Conversation, ReadsFramedSettings)
{
    for (uint8_t type : { uint8_t (0xF0), uint8_t (0xF2) })
    {
        startSim (type);
        StoredSettings s;
        s.name = "Kitchen speaker";
        s.pin = { { '4', '3', '2', '1' } };
        s.stereo = 0;
        s.maxDevices = 1;
        s.gpoNormallyOpen = 0;
        s.ledControl = 1;
        s.restoreControl = 0;
        sim->setSettings (s);
        std::memset (&device().config, 0x7F, sizeof (DeviceConfig));

        readDeviceConfig (*job);
        EXPECT_EQ (job->status, JobStatus::Done);
        const auto& c = device().config;
        EXPECT_STREQ (reinterpret_cast<const char*> (c.name), "Kitchen speaker");
        EXPECT_STREQ (reinterpret_cast<const char*> (c.pin), "4321");
        EXPECT_EQ (c.stereo, 0);
        EXPECT_EQ (c.maxDevices, 1);
        EXPECT_EQ (c.gpoNormallyOpen, 0);
        EXPECT_EQ (c.ledControl, 1);
        EXPECT_EQ (c.restoreControl, 0);
        settle();
        EXPECT_EQ (sim->receivedFrames(), frames ({ "AA 00 01 10 EF", "AA 00 02 14 21 C9", "AA 00 01 D3 2C",
                                                    "AA 00 02 14 91 59", "AA 00 01 D5 2A", "AA 00 02 14 92 58" }));
        TearDown();
        sim.reset();
    }
}

TEST_F (Conversation, PinEventFirstEndsTheRead)
{
    startSim (0xF0);
    sim->setSilent (true);
    std::thread worker ([&] { readDeviceConfig (*job); });
    ASSERT_TRUE (sim->waitFor ([&] { return ! sim->receivedFrames().empty(); }));
    sim->injectEvent (0x92, { 0x01, '1', '1', '1', '1' });
    worker.join();
    EXPECT_EQ (job->status, JobStatus::Done);
    EXPECT_STREQ (reinterpret_cast<const char*> (device().config.pin), "1111");
    EXPECT_EQ (device().config.name[0], 0);
    EXPECT_EQ (device().config.maxDevices, 0);
    settle();
}

TEST_F (Conversation, ReadSurvivesNoisyLine)
{
    startSim (0xF2);
    sim->setSplitWrites (true);
    sim->setGarbageBetweenFrames (true);
    sim->injectEvent0E (0);
    sim->injectStatus (0);
    readDeviceConfig (*job);
    EXPECT_EQ (job->status, JobStatus::Done);
    EXPECT_STREQ (reinterpret_cast<const char*> (device().config.name), "Rulko");
    settle();
}

TEST_F (Conversation, ReadFailsOnSilenceAndOnBadChecksums)
{
    startSim (0xF0);
    sim->setSilent (true);
    readDeviceConfig (*job);
    EXPECT_EQ (job->status, JobStatus::Failed);

    sim->setSilent (false);
    sim->setCorruptChecksum (true);
    sink.take();
    job->status = JobStatus::Running;
    readDeviceConfig (*job);
    EXPECT_EQ (job->status, JobStatus::Failed);
    EXPECT_TRUE (sink.take().size() == 1) << "only the first query went out; nothing was decoded";
    expectNoViolations = false; // the dropped events were never acknowledged
}

class WriteConfig : public Conversation
{
protected:
    void fillConfig (const char* name, const char* pin, uint8_t stereo, uint8_t max, uint8_t gpo, uint8_t led, uint8_t restore)
    {
        auto& c = device().config;
        std::memset (&c, 0, sizeof (c));
        std::memcpy (c.name, name, std::strlen (name));
        std::memcpy (c.pin, pin, std::strlen (pin));
        c.stereo = stereo;
        c.maxDevices = max;
        c.gpoNormallyOpen = gpo;
        c.ledControl = led;
        c.restoreControl = restore;
    }
};

TEST_F (WriteConfig, StoresExactlyWhatWasWritten)
{
    startSim (0xF0);
    fillConfig ("abc", "1234", 1, 8, 1, 0, 1);
    writeDeviceConfig (*job);
    EXPECT_EQ (job->status, JobStatus::Done);
    settle();
    EXPECT_EQ (sim->receivedFrames(), frames ({ "AA 00 07 35 00 00 03 61 62 63 9B",
                                                "AA 00 05 06 31 32 33 34 2B",
                                                "AA 00 06 D4 01 08 01 00 01 1B",
                                                "AA 00 01 D1 2E",
                                                "AA 00 02 14 01 E9" }));
    StoredSettings expected;
    expected.name = "abc";
    expected.pin = { { '1', '2', '3', '4' } };
    expected.stereo = 1;
    expected.maxDevices = 8;
    expected.gpoNormallyOpen = 1;
    expected.ledControl = 0;
    expected.restoreControl = 1;
    EXPECT_EQ (sim->settings(), expected);
}

TEST_F (WriteConfig, EmptyPinIsWrittenAsFourZeros)
{
    startSim (0xF2);
    fillConfig ("Mono room", "", 0, 1, 0, 1, 0);
    writeDeviceConfig (*job);
    EXPECT_EQ (job->status, JobStatus::Done);
    settle();
    EXPECT_EQ (sim->receivedWithOpcode (0x06), frames ({ "AA 00 05 06 00 00 00 00 F5" }));
    const auto s = sim->settings();
    EXPECT_EQ (s.name, "Mono room");
    EXPECT_EQ (s.pin, (std::array<uint8_t, 4> { { 0, 0, 0, 0 } }));
    EXPECT_EQ (s.maxDevices, 1);
    EXPECT_EQ (s.ledControl, 1);
}

// A refusal ends the write at once, told apart from silence.
TEST_F (WriteConfig, RefusalEndsTheWriteAtOnceAndSilenceAfterTheReplyLimit)
{
    startSim (0xF0);
    sim->refuse (0x35, 0x01);
    fillConfig ("abc", "1234", 1, 8, 1, 0, 1);
    writeDeviceConfig (*job);
    EXPECT_EQ (job->status, JobStatus::Failed);
    EXPECT_EQ (job->detail, JobDetail::refused);
    settle();
    EXPECT_EQ (sim->receivedFrames().size(), 1u) << "nothing after the refused name";

    sim->clearRefusals();
    sim->clearLogs();
    sim->setSilent (true);
    job->detail = JobDetail::none;
    writeDeviceConfig (*job);
    EXPECT_EQ (job->status, JobStatus::Failed);
    EXPECT_EQ (job->detail, JobDetail::noAnswer);
    EXPECT_EQ (sim->receivedFrames().size(), 1u);
}

TEST_F (WriteConfig, SurvivesASlowRestart)
{
    SimulatorOptions options;
    options.restartDelayMs = 2500; // beyond the 200-pass limit of the other conversations
    startSim (options, false);
    fillConfig ("abc", "1234", 1, 8, 1, 0, 1);
    writeDeviceConfig (*job);
    EXPECT_EQ (job->status, JobStatus::Done);
    settle();
}

TEST_F (Conversation, ReadsHciSettings)
{
    startSim (0xF1);
    StoredSettings s;
    s.name = "Hall";
    s.pin = { { '1', '2', '3', '4' } };
    sim->setSettings (s);
    readHciConfig (*job);
    EXPECT_EQ (job->status, JobStatus::Done);
    EXPECT_STREQ (reinterpret_cast<const char*> (device().hciConfig.name), "Hall");
    EXPECT_STREQ (reinterpret_cast<const char*> (device().hciConfig.pin), "1234");
    EXPECT_EQ (sim->receivedFrames(), frames ({ "01 29 FC 03 05 00 20", "01 29 FC 03 00 47 04", "01 29 FC 03 00 B5 01" }));

    // PIN switch off: the PIN reads as empty.
    sim->setMemory (0x00B5, { 0x92 });
    job->status = JobStatus::Running;
    readHciConfig (*job);
    EXPECT_EQ (job->status, JobStatus::Done);
    EXPECT_EQ (device().hciConfig.pin[0], 0);
}

TEST_F (Conversation, HciReadFailsOnRefusalAndSilence)
{
    startSim (0xF1);
    sim->refuse (0x29, 0x12);
    readHciConfig (*job);
    EXPECT_EQ (job->status, JobStatus::Failed);
    EXPECT_EQ (sim->receivedFrames().size(), 1u);

    sim->clearRefusals();
    sim->setSilent (true);
    job->status = JobStatus::Running;
    readHciConfig (*job);
    EXPECT_EQ (job->status, JobStatus::Failed);
}

TEST_F (Conversation, WritesHciSettings)
{
    struct Case { const char* pin; uint8_t switchByte; const char* pinPacket; };
    for (const Case c : { Case { "1234", 0x82, "01 27 FC 07 00 47 04 31 32 33 34" },
                          Case { "",     0x92, "01 27 FC 07 00 47 04 00 00 00 00" } })
    {
        startSim (0xF1);
        auto& h = device().hciConfig;
        std::memset (&h, 0, sizeof (h));
        std::memcpy (h.name, "abc", 3);
        std::memcpy (h.pin, c.pin, std::strlen (c.pin));
        writeHciConfig (*job);
        EXPECT_EQ (job->status, JobStatus::Done);
        Bytes sw = hexBytes ("01 27 FC 04 00 B5 01");
        sw.push_back (c.switchByte);
        EXPECT_EQ (sim->receivedFrames(), (std::vector<Bytes> { sw, sw, hexBytes (c.pinPacket),
                                                               hexBytes ("01 27 FC 07 05 00 04 03 61 62 63") }));
        EXPECT_EQ (sim->memory (0x0500, 4), hexBytes ("03 61 62 63"));
        EXPECT_EQ (sim->memory (0x00B5, 1), Bytes { c.switchByte });
        TearDown();
        sim.reset();
    }
}

TEST_F (Conversation, HciWriteRefusedFailsAfterCountdown)
{
    startSim (0xF1);
    sim->refuse (0x27, 0x12);
    std::memcpy (device().hciConfig.name, "abc", 3);
    writeHciConfig (*job);
    EXPECT_EQ (job->status, JobStatus::Failed);
    EXPECT_EQ (sim->receivedFrames().size(), 1u);
}

TEST_F (Conversation, WrongBaudFamilyFindsNothing)
{
    // A framed receiver opened at 115200, and an HCI receiver at 921600.
    struct Case { uint8_t type; bool slow; };
    for (const Case c : { Case { 0xF0, true }, Case { 0xF1, false } })
    {
        SimulatorOptions options;
        options.type = c.type;
        startSim (options, c.slow);
        detectModule (*job);
        EXPECT_EQ (job->status, JobStatus::Failed);
        EXPECT_EQ (device().typeCode, 0);
        EXPECT_TRUE (sim->sentFrames().empty());
        EXPECT_GT (sim->noiseBytes(), 0u);
        TearDown();
        sim.reset();
    }
}

TEST_F (Conversation, PortVanishingMidConversation)
{
    startSim (0xF0);
    sim->setReplyDelayMs (200);
    std::thread worker ([&] { readDeviceConfig (*job); });
    ASSERT_TRUE (sim->waitFor ([&] { return ! sim->receivedFrames().empty(); }));
    sim->vanish();
    worker.join();
    EXPECT_EQ (job->status, JobStatus::PortError) << "a lost device is a port error, not silence";
    EXPECT_EQ (job->detail, JobDetail::portLost);

    job->status = JobStatus::Running;
    detectModule (*job);
    EXPECT_EQ (job->status, JobStatus::PortError);

    job->status = JobStatus::Running;
    std::memcpy (device().config.name, "abc", 4);
    writeDeviceConfig (*job);
    EXPECT_EQ (job->status, JobStatus::PortError);
}
}
