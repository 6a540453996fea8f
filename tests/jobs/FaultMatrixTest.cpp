// Every job kind against every fault the simulated receiver can inject: each
// cell must end in its expected status and detail within a stated limit,
// never report success for a failure, and send nothing after a refusal. The
// matrix is printed as a table, so the tool's behaviour under faults shows at
// a glance.

#include "../firmware/FirmwareFixtures.h"
#include "BluezStandIn.h"
#include "ProtocolTestSupport.h"
#include "PtySupport.h"

#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareUpdate.h"
#include "jobs/JobDispatch.h"
#include "protocol/DeviceState.h"
#include "serial/BluezBus.h"
#include "tools/imagebuilder/ImageBuilder.h"
#include "tools/simulator/SimulatedReceiver.h"
#include "tests/TestResets.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>

namespace
{
using Clock = std::chrono::steady_clock;

enum class Fault { none, silence, refusal, garbage, split, badChecksum, wrongBaud, stall, vanish };

const char* faultName (Fault f)
{
    switch (f)
    {
        case Fault::none:        return "none";
        case Fault::silence:     return "silence";
        case Fault::refusal:     return "refusal";
        case Fault::garbage:     return "garbage";
        case Fault::split:       return "split frames";
        case Fault::badChecksum: return "bad checksum";
        case Fault::wrongBaud:   return "wrong baud";
        case Fault::stall:       return "line stops draining";
        case Fault::vanish:      return "vanishes";
    }
    return "?";
}

struct JobCase
{
    const char* name;
    JobKind kind;
    uint8_t type;
    bool slow;           // the family's baud rate: 115200 for 0xF1
    uint8_t refusedOp;   // the command the refusal fault refuses (0: the job sends none)
};

const JobCase jobs[] = {
    { "detect F0",  JobKind::Detect,          0xF0, false, 0xD0 },
    { "detect F1",  JobKind::Detect,          0xF1, true,  0x29 },
    { "read F2",    JobKind::ReadConfig,      0xF2, false, 0x10 },
    { "read F1",    JobKind::ReadConfig,      0xF1, true,  0x29 },
    { "write F0",   JobKind::WriteConfig,     0xF0, false, 0x35 },
    { "write F1",   JobKind::WriteConfig,     0xF1, true,  0x27 },
    { "restore F0", JobKind::RestoreDefaults, 0xF0, false, 0x02 },
    { "update F0",  JobKind::UpdateFirmware,  0xF0, false, 0x49 },
    { "listen F0",  JobKind::Listen,          0xF0, false, 0 },
};

struct Expected
{
    JobStatus status;
    JobDetail detail;
    int limitMs;         // the cell must end within this
};

constexpr int replyLimitMs = 2000 + 1500;             // one reply limit, with room for a loaded machine
constexpr int detectLimitMs = 2 * 2100 + 1500;        // both families: probe and reply limit each
constexpr int restartLimitMs = 30000 + 3000;          // the restore's restart, the update's UpdateBegin

Expected expectedFor (const JobCase& job, Fault fault)
{
    const bool detect = job.kind == JobKind::Detect;
    const bool slowLimit = job.kind == JobKind::RestoreDefaults || job.kind == JobKind::UpdateFirmware;
    const Expected noAnswer { JobStatus::Failed, JobDetail::noAnswer,
                              detect ? detectLimitMs : slowLimit ? restartLimitMs : replyLimitMs };

    if (job.kind == JobKind::Listen)
        return fault == Fault::vanish ? Expected { JobStatus::PortError, JobDetail::portLost, replyLimitMs }
                                      : Expected { JobStatus::Done, JobDetail::none, replyLimitMs };

    switch (fault)
    {
        case Fault::none:
        case Fault::garbage:
        case Fault::split:
            return { JobStatus::Done, JobDetail::none, detect ? detectLimitMs : replyLimitMs };

        case Fault::badChecksum:
            if (job.type == 0xF1)   // HCI events carry no checksum
                return { JobStatus::Done, JobDetail::none, detect ? detectLimitMs : replyLimitMs };
            return noAnswer;

        case Fault::silence:
        case Fault::stall:
            return noAnswer;

        case Fault::refusal:
            // Refusals end a job at once where the answer cannot come any more;
            // queries the receiver may repeat wait for their limit.
            if (detect || (job.kind == JobKind::ReadConfig && job.type != 0xF1))
                return noAnswer;
            return { JobStatus::Failed, JobDetail::refused, replyLimitMs };

        case Fault::wrongBaud:
            if (detect)
                return { JobStatus::Failed, JobDetail::otherFamily, detectLimitMs };
            return noAnswer;

        case Fault::vanish:
            return { JobStatus::PortError, JobDetail::portLost, replyLimitMs };
    }
    return noAnswer;
}

/** Cells that would only repeat a slow path already covered by another fault. */
bool skipped (const JobCase& job, Fault fault)
{
    const bool slowLimit = job.kind == JobKind::RestoreDefaults || job.kind == JobKind::UpdateFirmware;
    if (slowLimit && (fault == Fault::badChecksum || fault == Fault::wrongBaud || fault == Fault::stall))
        return true;                       // the same silence as the silence cell
    return job.kind == JobKind::Listen && fault == Fault::refusal;   // listen sends no command
}

/** A job of any kind whose exit request is a plain flag. */
class MatrixJob : public JobContext
{
public:
    MatrixJob (JobKind k, Link& onLink, bool slow) : JobContext (k, onLink, slow) {}
    bool shouldExit() const override { return exitRequested.load(); }
    std::atomic<bool> exitRequested { false };
};

struct Cell
{
    std::string outcome;
    long ms = 0;
};

const char* statusName (JobStatus s)
{
    switch (s)
    {
        case JobStatus::NotStarted: return "NotStarted";
        case JobStatus::Failed:     return "Failed";
        case JobStatus::PortError:  return "PortError";
        case JobStatus::Done:       return "Done";
        case JobStatus::Aborted:    return "Aborted";
        case JobStatus::Running:    return "Running";
    }
    return "?";
}

const char* detailName (JobDetail d)
{
    switch (d)
    {
        case JobDetail::none:        return "";
        case JobDetail::noAnswer:    return " (no answer)";
        case JobDetail::refused:     return " (refused)";
        case JobDetail::portLost:    return " (port lost)";
        case JobDetail::otherFamily: return " (other family)";
        case JobDetail::refusedMidUpdate: return " (refused mid-update)";
        case JobDetail::deviceChanged: return " (device changed)";
    }
    return "";
}

/** A simulated receiver of type on a listed port, and link on it with its
    DeviceState as a detect would have left it for kind, the form's settings to
    write, and an accepted image for an update. */
void prepareReceiver (korvasim::SimulatedReceiver& sim, Link& link, JobKind kind, uint8_t type,
                      const std::string& portName = {})
{
    resetPortTable();
    EXPECT_TRUE (sim.start());
    link.portIndex = portName.empty() ? registerPort (sim.slavePath()) : addPort (portName.c_str());
    EXPECT_GE (link.portIndex, 0);

    auto& state = link.device;
    if (kind != JobKind::Detect)
        state.typeCode = type;
    std::strcpy (reinterpret_cast<char*> (state.config.name), "Matrix");
    std::strcpy (reinterpret_cast<char*> (state.config.pin), "1234");
    state.config.stereo = 1;
    state.config.maxDevices = 8;
    std::strcpy (reinterpret_cast<char*> (state.hciConfig.name), "Matrix");
    std::strcpy (reinterpret_cast<char*> (state.hciConfig.pin), "1234");

    if (kind == JobKind::UpdateFirmware)
    {
        fixtures::TempFile file (imagebuilder::buildImage (fixtures::imageRecipe()));
        link.image = acceptFirmwareFile (file.path, 1);
        EXPECT_NE (link.image, nullptr);
    }
}

class FaultMatrix : public testing::Test
{
protected:
    void TearDown() override
    {
        resetPortTable();
    }

    /** bluetooth: the receiver is reached through BlueZ, its port the socket BlueZ
        hands over (the stand-in's), and the "vanishes" fault is the link dropping. */
    Cell runCell (const JobCase& c, Fault fault, BluezStandIn* bluetooth = nullptr)
    {
        korvasim::SimulatorOptions options;
        options.type = c.type;
        std::string portName;
        if (bluetooth != nullptr)
        {
            // A receiver of its own per cell, paired afresh.
            static int cells = 0;
            const int cell = ++cells;
            char mac[18];
            std::snprintf (mac, sizeof (mac), "00:11:22:AA:%02X:%02X", (cell >> 8) & 0xFF, cell & 0xFF);
            options.listenPath = bluetooth->listenPath (mac);
            bluetooth->addReceiver (mac, "Matrix", "external");
            BluetoothDevice device;
            for (int i = 0; i < 500 && ! BluezBus::instance().findDevice (mac, device); ++i)
                std::this_thread::sleep_for (std::chrono::milliseconds (10));
            portName = std::string ("bt:") + mac;
        }
        korvasim::SimulatedReceiver sim (options);
        Link link;
        prepareReceiver (sim, link, c.kind, c.type, portName);

        switch (fault)
        {
            case Fault::none:        break;
            case Fault::silence:     sim.setSilent (true); break;
            case Fault::refusal:     sim.refuse (c.refusedOp, 0x01); break;
            case Fault::garbage:     sim.setGarbageBetweenFrames (true); break;
            case Fault::split:       sim.setSplitWrites (true); break;
            case Fault::badChecksum: sim.setCorruptChecksum (true); break;
            case Fault::wrongBaud:   break;
            case Fault::stall:       sim.stallAfterFrames (0); break;
            case Fault::vanish:
                if (c.kind == JobKind::UpdateFirmware)
                    sim.vanishOnFirmware (0x04, 3);   // mid-section, as an adapter pulled during the update
                else
                    sim.setReplyDelayMs (300);        // so it vanishes mid-job
                break;
        }

        const bool slow = fault == Fault::wrongBaud ? ! c.slow : c.slow;
        MatrixJob job (c.kind, link, slow);

        const auto start = Clock::now();
        std::atomic<bool> finished { false };
        std::thread worker ([&] { runJob (job); finished = true; });

        if (fault == Fault::vanish && c.kind != JobKind::UpdateFirmware)
        {
            // Mid-job: once the receiver has heard the job's first packet (for
            // listen, once the job has settled into its wait).
            if (c.kind == JobKind::Listen)
                std::this_thread::sleep_for (std::chrono::milliseconds (200));
            else
                sim.waitFor ([&] { return ! sim.receivedFrames().empty(); }, 10000);
            sim.vanish();
        }
        else if (c.kind == JobKind::Listen)
        {
            std::this_thread::sleep_for (std::chrono::milliseconds (300));
            job.exitRequested = true;
            interruptPortWaits();
        }

        const auto limit = std::chrono::milliseconds (expectedFor (c, fault).limitMs);
        while (! finished && Clock::now() - start < limit)
            std::this_thread::sleep_for (std::chrono::milliseconds (5));

        if (! finished)
        {
            ADD_FAILURE() << c.name << " / " << faultName (fault) << ": still running after " << limit.count() << " ms";
            job.exitRequested = true;
            interruptPortWaits();
        }
        worker.join();
        const long ms = (long) std::chrono::duration_cast<std::chrono::milliseconds> (Clock::now() - start).count();

        const Expected want = expectedFor (c, fault);
        EXPECT_EQ (job.status, want.status) << c.name << " / " << faultName (fault);
        EXPECT_EQ (job.detail, want.detail) << c.name << " / " << faultName (fault);

        if (fault == Fault::refusal && want.detail == JobDetail::refused)
        {
            // Nothing after the refused command.
            std::this_thread::sleep_for (std::chrono::milliseconds (100));
            const auto frames = sim.receivedFrames();
            EXPECT_FALSE (frames.empty());
            if (! frames.empty())
            {
                const auto& last = frames.back();
                const uint8_t op = last[0] == 0x01 ? last[1] : last[3];   // HCI opcode low byte, or frame opcode
                EXPECT_EQ (op, c.refusedOp) << c.name << ": something was sent after the refusal";
            }
        }

        if (fault != Fault::vanish)
            sim.stop();

        return { std::string (statusName (job.status)) + detailName (job.detail), ms };
    }
};

TEST_F (FaultMatrix, EveryJobUnderEveryFaultEndsHonestlyInTime)
{
    const Fault faults[] = { Fault::none, Fault::silence, Fault::refusal, Fault::garbage, Fault::split,
                             Fault::badChecksum, Fault::wrongBaud, Fault::stall, Fault::vanish };

    std::map<std::pair<int, int>, Cell> table;
    for (int j = 0; j < (int) std::size (jobs); ++j)
        for (int f = 0; f < (int) std::size (faults); ++f)
            if (! skipped (jobs[j], faults[f]))
                table[{ j, f }] = runCell (jobs[j], faults[f]);

    std::printf ("\n%-11s", "job \\ fault");
    for (Fault f : faults)
        std::printf (" | %-27s", faultName (f));
    std::printf ("\n");
    for (int j = 0; j < (int) std::size (jobs); ++j)
    {
        std::printf ("%-11s", jobs[j].name);
        for (int f = 0; f < (int) std::size (faults); ++f)
        {
            char text[64] = "-";
            if (auto it = table.find ({ j, f }); it != table.end())
                std::snprintf (text, sizeof (text), "%s %.1fs", it->second.outcome.c_str(), it->second.ms / 1000.0);
            std::printf (" | %-27s", text);
        }
        std::printf ("\n");
    }
}
}

namespace
{
// Over a Bluetooth link (the socket BlueZ hands over), every job ends as over a
// serial line: done on a working link, and a lost port when the link drops
// mid-job, mid-update included.
TEST_F (FaultMatrix, EveryJobOverABluetoothLinkEndsHonestlyWhenItDrops)
{
    BluezStandIn bluez;
    ASSERT_TRUE (bluez.ready());
    bluez.addAdapter();

    std::printf ("\n%-11s | %-27s | %-27s\n", "Bluetooth", faultName (Fault::none), "link drops");
    for (const auto& c : jobs)
    {
        const Cell working = runCell (c, Fault::none, &bluez);
        const Cell dropped = runCell (c, Fault::vanish, &bluez);
        std::printf ("%-11s | %-27s | %-27s\n", c.name,
                     (working.outcome + " " + std::to_string (working.ms) + "ms").c_str(),
                     (dropped.outcome + " " + std::to_string (dropped.ms) + "ms").c_str());
    }
}

// A refusal of any command of a write or an update ends the job at once, as
// refused, with nothing sent after the refused command. Once UpdateBegin (sub-code
// 0) was acknowledged, a refusal says the update did not complete.
TEST_F (FaultMatrix, RefusalOfEachCommandEndsAtOnce)
{
    struct Case { JobKind kind; uint8_t op; int sub; };
    const Case cases[] = {
        { JobKind::WriteConfig, 0x35, -1 }, { JobKind::WriteConfig, 0x06, -1 },
        { JobKind::WriteConfig, 0xD4, -1 }, { JobKind::WriteConfig, 0xD1, -1 },
        { JobKind::UpdateFirmware, 0x49, 0x00 }, { JobKind::UpdateFirmware, 0x49, 0x01 },
        { JobKind::UpdateFirmware, 0x49, 0x02 }, { JobKind::UpdateFirmware, 0x49, 0x03 },
        { JobKind::UpdateFirmware, 0x49, 0x04 }, { JobKind::UpdateFirmware, 0x49, 0x05 },
        { JobKind::UpdateFirmware, 0x49, 0x06 }, { JobKind::UpdateFirmware, 0x49, 0x07 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (testing::Message() << "op " << std::hex << int (c.op) << " sub " << c.sub);
        korvasim::SimulatorOptions options;
        options.type = 0xF0;
        korvasim::SimulatedReceiver sim (options);
        Link link;
        prepareReceiver (sim, link, c.kind, 0xF0);
        sim.refuse (c.op, 0x01, c.sub);

        MatrixJob job (c.kind, link, false);
        runJob (job);
        EXPECT_EQ (job.status, JobStatus::Failed);
        const bool begun = c.kind == JobKind::UpdateFirmware && c.sub != 0x00;
        EXPECT_EQ (job.detail, begun ? JobDetail::refusedMidUpdate : JobDetail::refused);

        std::this_thread::sleep_for (std::chrono::milliseconds (50));
        const auto frames = sim.receivedFrames();
        ASSERT_FALSE (frames.empty());
        EXPECT_EQ (frames.back()[3], c.op) << "something was sent after the refusal";
        if (c.sub >= 0)
        {
            EXPECT_EQ (frames.back()[4], c.sub);
        }
        sim.stop();
    }
}
}
