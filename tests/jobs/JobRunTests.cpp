// Whole jobs as the worker runs them: open the port, dispatch on kind and
// device type, close the port, against the simulated receiver over a pty.

#include "SimFixture.h"

#include "jobs/JobDispatch.h"
#include "protocol/DeviceState.h"
#include "protocol/Pass.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>

namespace
{
using korvasim::SimulatorOptions;
using korvasim::StoredSettings;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::vector<Bytes> frames (std::initializer_list<const char*> hex)
{
    std::vector<Bytes> out;
    for (const char* h : hex)
        out.push_back (hexBytes (h));
    return out;
}

/** A job of any kind whose exit request is a plain flag. Counts the passes
    (each conversation pass asks for the exit request once) so a test can tell
    when the job is past its open and inside its loop. */
Link& onPort (Link& link, int port)
{
    link.portIndex = port;
    return link;
}

class FlagJob : public JobContext
{
public:
    /** A job on link (the receiver's, shared by the jobs run on it in turn) at port. */
    FlagJob (JobKind k, Link& onLink, int port, bool slow) : JobContext (k, onPort (onLink, port), slow) {}

    bool shouldExit() const override
    {
        passes.fetch_add (1);
        const bool exit = exitRequested.load();
        if (exit)
            exitSeen.fetch_add (1);
        return exit;
    }

    std::atomic<bool> exitRequested { false };
    mutable std::atomic<int> passes { 0 };
    mutable std::atomic<int> exitSeen { 0 };
};

/** Runs one job on its own thread, as the GUI's worker does. */
class BackgroundJob
{
public:
    BackgroundJob (JobKind k, Link& onLink, int port, bool slow) : job (k, onLink, port, slow)
    {
        thread = std::thread ([this] { runJob (job); finished = true; });
    }

    ~BackgroundJob()
    {
        job.exitRequested = true;
        if (thread.joinable())
            thread.join();
    }

    /** Waits until the job polls its exit request at least n times. */
    bool waitForPasses (int n, int timeoutMs = 5000) const
    {
        return waitUntil ([&] { return job.passes.load() >= n || finished.load(); }, timeoutMs)
               && ! finished.load();
    }

    /** Waits for the job's end; on a hang raises the exit request so the test still ends. */
    bool finish (int timeoutMs = 10000)
    {
        const bool ended = waitUntil ([&] { return finished.load(); }, timeoutMs);
        job.exitRequested = true;
        thread.join();
        return ended;
    }

    /** Raises the exit request and returns how long the job took to end. */
    milliseconds exitAndFinish()
    {
        const auto start = Clock::now();
        job.exitRequested = true;
        thread.join();
        return std::chrono::duration_cast<milliseconds> (Clock::now() - start);
    }

    FlagJob job;

private:
    template <typename Cond>
    static bool waitUntil (Cond cond, int timeoutMs)
    {
        const auto deadline = Clock::now() + milliseconds (timeoutMs);
        while (! cond())
        {
            if (Clock::now() > deadline)
                return false;
            std::this_thread::sleep_for (milliseconds (2));
        }
        return true;
    }

    std::atomic<bool> finished { false };
    std::thread thread;
};

/** True when nobody holds path: an exclusive lock on it can be taken (and is released). */
bool portIsFree (const std::string& path)
{
    const int fd = ::open (path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool free = ::flock (fd, LOCK_EX | LOCK_NB) == 0;
    ::close (fd);
    return free;
}

StoredSettings customSettings()
{
    StoredSettings s;
    s.name = "Porch";
    s.pin = { { '9', '8', '7', '6' } };
    s.stereo = 0;
    s.maxDevices = 1;
    s.gpoNormallyOpen = 0;
    s.ledControl = 1;
    s.restoreControl = 0;
    return s;
}

const char* text (const uint8_t* bytes)
{
    return reinterpret_cast<const char*> (bytes);
}

class JobRun : public SimFixture
{
protected:
    /** Starts a receiver whose port is listed but closed: runJob opens it. */
    void startReceiver (SimulatorOptions options)
    {
        startSim (options, false);
        closePort (index);
    }

    void startReceiver (uint8_t type)
    {
        SimulatorOptions options;
        options.type = type;
        startReceiver (options);
    }

    /** Runs a job to its end on this thread and returns its status. */
    JobStatus run (JobKind kind, bool slow, int port = -2)
    {
        FlagJob j (kind, job->link, port == -2 ? index : port, slow);
        runJob (j);
        return j.status;
    }

    /** Ends the current receiver so a table's next case starts afresh. */
    void nextCase()
    {
        TearDown();
        sim.reset();
    }
};

TEST_F (JobRun, NoPortSelectedEndsWithPortErrorUntouched)
{
    startReceiver (0xF0);
    device().typeCode = 0xF0;
    for (JobKind kind : { JobKind::Detect, JobKind::Listen, JobKind::RestoreDefaults })
        EXPECT_EQ (run (kind, false, 255), JobStatus::PortError);

    std::this_thread::sleep_for (milliseconds (50));
    EXPECT_TRUE (sim->receivedFrames().empty());
    EXPECT_EQ (sim->noiseBytes(), 0u);
    EXPECT_TRUE (portIsFree (sim->slavePath()));
}

// Ctrl-C between detection and a job's first command (while an image is
// checked, say): the port is not opened and the receiver hears nothing.
TEST_F (JobRun, AJobStoppedBeforeItBeganSendsNothing)
{
    startReceiver (0xF0);
    device().typeCode = 0xF0;
    for (JobKind kind : { JobKind::RestoreDefaults, JobKind::WriteConfig, JobKind::Detect })
    {
        FlagJob j (kind, job->link, index, false);
        j.exitRequested = true;
        runJob (j);
        EXPECT_EQ (j.status, JobStatus::Aborted) << int (kind);
    }
    clearPortInterrupt();
    std::this_thread::sleep_for (milliseconds (50));
    EXPECT_TRUE (sim->receivedFrames().empty());
    EXPECT_EQ (sim->noiseBytes(), 0u);
    EXPECT_TRUE (portIsFree (sim->slavePath()));
}

// Another receiver behind the detected port's name (a link re-pointed, an
// adapter re-plugged): the job sends nothing and says the device changed.
TEST_F (JobRun, AnotherDeviceBehindTheDetectedNameGetsNothing)
{
    startReceiver (0xF0);
    ASSERT_EQ (run (JobKind::Detect, false), JobStatus::Done);
    const uint64_t detected = portDeviceIdentity (index);
    EXPECT_NE (detected, 0u);

    FlagJob same (JobKind::ReadConfig, job->link, index, false);
    same.expectedDevice = detected;
    runJob (same);
    EXPECT_EQ (same.status, JobStatus::Done) << "the same device passes the check";

    FlagJob swapped (JobKind::RestoreDefaults, job->link, index, false);
    swapped.expectedDevice = detected + 1;
    std::this_thread::sleep_for (milliseconds (100));   // the read's last acknowledgement arrives
    const auto framesBefore = sim->receivedFrames().size();
    runJob (swapped);
    EXPECT_EQ (swapped.status, JobStatus::Failed);
    EXPECT_EQ (swapped.detail, JobDetail::deviceChanged);
    std::this_thread::sleep_for (milliseconds (50));
    EXPECT_EQ (sim->receivedFrames().size(), framesBefore) << "nothing was sent to the other device";
    EXPECT_TRUE (portIsFree (sim->slavePath()));
}

TEST_F (JobRun, PortHeldByAnotherProgramEndsWithPortError)
{
    startReceiver (0xF0);
    const int other = ::open (sim->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE (other, 0);
    ASSERT_EQ (::flock (other, LOCK_EX | LOCK_NB), 0);

    EXPECT_EQ (run (JobKind::Detect, false), JobStatus::PortError);
    ::close (other);

    std::this_thread::sleep_for (milliseconds (50));
    EXPECT_TRUE (sim->receivedFrames().empty());

    // Released, the same port serves the job.
    EXPECT_EQ (run (JobKind::Detect, false), JobStatus::Done);
    settle();
}

TEST_F (JobRun, KindsWithoutAConversationForTheTypeSendNothing)
{
    struct Case { JobKind kind; uint8_t typeCode; uint8_t simType; bool slow; };
    const Case cases[] = {
        { JobKind::ReadConfig,      0x00, 0xF0, false }, // before any detect
        { JobKind::WriteConfig,     0x00, 0xF0, false },
        { JobKind::RestoreDefaults, 0x00, 0xF0, false },
        { JobKind::UpdateFirmware,  0x00, 0xF0, false },
        { JobKind::ReadConfig,      0x55, 0xF0, false }, // a type the tool does not know
        { JobKind::RestoreDefaults, 0xF1, 0xF1, true  }, // the HCI module has neither
        { JobKind::UpdateFirmware,  0xF1, 0xF1, true  },
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (testing::Message() << "kind " << int (c.kind) << " type " << int (c.typeCode));
        startReceiver (c.simType);
        device().typeCode = c.typeCode;

        EXPECT_EQ (run (c.kind, c.slow), JobStatus::Running);
        std::this_thread::sleep_for (milliseconds (50));
        EXPECT_TRUE (sim->receivedFrames().empty());
        EXPECT_EQ (sim->noiseBytes(), 0u);
        EXPECT_TRUE (portIsFree (sim->slavePath())) << "the port is closed again";
        nextCase();
    }
}

TEST_F (JobRun, RestoreDefaultsEndsWithTheRestartReport)
{
    for (uint8_t type : { uint8_t (0xF0), uint8_t (0xF2) })
    {
        SCOPED_TRACE (testing::Message() << "type " << int (type));
        startReceiver (type);
        sim->setSettings (customSettings());
        device().typeCode = type;

        EXPECT_EQ (run (JobKind::RestoreDefaults, false), JobStatus::Done);
        settle();
        EXPECT_EQ (sim->receivedFrames(), frames ({ "AA 00 03 02 00 56 A5", "AA 00 02 14 01 E9" }))
            << "the restore command, then the acknowledgement of the restart report";
        EXPECT_EQ (sim->settings(), StoredSettings {});
        EXPECT_TRUE (portIsFree (sim->slavePath()));
        nextCase();
    }
}

TEST_F (JobRun, RestoreDefaultsWaitsThroughOtherReports)
{
    startReceiver (0xF2);
    sim->setSilent (true); // receives the command but leaves the restart report to the test
    device().typeCode = 0xF2;

    BackgroundJob bg (JobKind::RestoreDefaults, job->link, index, false);
    ASSERT_TRUE (sim->waitFor ([&] { return sim->receivedWithOpcode (0x02).size() == 1; }));
    sim->injectStatus (0);
    sim->injectEvent0E (3);
    sim->injectPairedRecords (1);
    ASSERT_TRUE (sim->waitFor ([&] { return sim->receivedWithOpcode (0x14).size() == 3; }))
        << "each report is acknowledged";
    ASSERT_TRUE (bg.waitForPasses (bg.job.passes.load() + 5)) << "still waiting for the restart";

    sim->injectStatus (2);
    ASSERT_TRUE (bg.finish());
    EXPECT_EQ (bg.job.status, JobStatus::Done);
    settle();
}

TEST_F (JobRun, RestoreDefaultsAtTheSlowRateIsNotHeard)
{
    startReceiver (0xF0);
    sim->setSettings (customSettings());
    device().typeCode = 0xF0;

    BackgroundJob bg (JobKind::RestoreDefaults, job->link, index, true);
    ASSERT_TRUE (bg.waitForPasses (30));
    bg.exitAndFinish();
    EXPECT_EQ (bg.job.status, JobStatus::Running);
    EXPECT_TRUE (sim->sentFrames().empty());
    EXPECT_GT (sim->noiseBytes(), 0u);
    EXPECT_EQ (sim->settings(), customSettings());
}

TEST_F (JobRun, RestoreDefaultsOnASilentReceiverStopsOnExitRequest)
{
    startReceiver (0xF2);
    sim->setSilent (true);
    device().typeCode = 0xF2;

    BackgroundJob bg (JobKind::RestoreDefaults, job->link, index, false);
    ASSERT_TRUE (bg.waitForPasses (20));
    const auto took = bg.exitAndFinish();
    EXPECT_EQ (bg.job.status, JobStatus::Running);
    EXPECT_EQ (bg.job.exitSeen.load(), 1) << "left at the first pass that saw the request";
    EXPECT_LT (took, milliseconds (2000));
    EXPECT_TRUE (portIsFree (sim->slavePath()));
}

// The one slow test: a receiver that never reports its restart gives up after
// writeConfigPassLimit passes' worth of 10 ms, as no answer.
TEST_F (JobRun, RestoreDefaultsOnASilentReceiverFailsAfterThePassLimit)
{
    startReceiver (0xF0);
    sim->setSilent (true);
    device().typeCode = 0xF0;

    const auto start = Clock::now();
    BackgroundJob bg (JobKind::RestoreDefaults, job->link, index, false);
    ASSERT_TRUE (bg.finish (90 * 1000));
    const auto took = Clock::now() - start;
    EXPECT_EQ (bg.job.status, JobStatus::Failed);
    EXPECT_EQ (bg.job.detail, JobDetail::noAnswer);
    EXPECT_GE (took, milliseconds (writeConfigPassLimit * passSleepMs));
    EXPECT_EQ (sim->receivedWithOpcode (0x02).size(), 1u);
    EXPECT_TRUE (portIsFree (sim->slavePath()));
}

TEST_F (JobRun, ListenAcknowledgesEverythingAndEndsOnExitRequest)
{
    startReceiver (0xF2);
    // Listen serves any type, also before a detect.
    device().typeCode = 0;

    BackgroundJob bg (JobKind::Listen, job->link, index, false);
    // The job looks at its exit request twice before it opens the port: a
    // third look is a pass of the conversation, on the open port.
    ASSERT_TRUE (bg.waitForPasses (3));
    sim->injectStatus (0);
    sim->injectEvent0E (7);
    sim->injectPairedRecords (2);
    sim->injectEvent (0x21, { 4, 'H', 'a', 'l', 'l' });
    sim->injectStatus (2);
    EXPECT_TRUE (sim->waitFor ([&] { return sim->receivedWithOpcode (0x14).size() >= 5; }))
        << "every event is acknowledged";
    settle();
    EXPECT_TRUE (sim->violations().empty()) << describeViolations();

    const auto took = bg.exitAndFinish();
    EXPECT_EQ (bg.job.status, JobStatus::Done);
    EXPECT_EQ (bg.job.exitSeen.load(), 1) << "left at the first pass that saw the request";
    EXPECT_LT (took, milliseconds (2000));
    EXPECT_STREQ (text (device().config.name), "Hall");
    EXPECT_EQ (sim->receivedWithOpcode (0x14).size(), 5u) << "one acknowledgement per event";
    EXPECT_TRUE (portIsFree (sim->slavePath()));
}

// Detect, read and write as the panel chains them, for each module family at
// its own rate.
TEST_F (JobRun, DetectReadWriteChain)
{
    struct Case { uint8_t type; bool slow; };
    for (const Case c : { Case { 0xF0, false }, Case { 0xF1, true }, Case { 0xF2, false } })
    {
        SCOPED_TRACE (testing::Message() << "type " << int (c.type));
        startReceiver (c.type);
        sim->setSettings (customSettings());
        const bool hci = c.type == 0xF1;

        ASSERT_EQ (run (JobKind::Detect, c.slow), JobStatus::Done);
        EXPECT_EQ (device().typeCode, c.type);

        ASSERT_EQ (run (JobKind::ReadConfig, c.slow), JobStatus::Done);
        if (hci)
        {
            EXPECT_STREQ (text (device().hciConfig.name), "Porch");
            EXPECT_STREQ (text (device().hciConfig.pin), "9876");
        }
        else
        {
            const auto& r = device().config;
            EXPECT_STREQ (text (r.name), "Porch");
            EXPECT_STREQ (text (r.pin), "9876");
            EXPECT_EQ (r.stereo, 0);
            EXPECT_EQ (r.maxDevices, 1);
            EXPECT_EQ (r.gpoNormallyOpen, 0);
            EXPECT_EQ (r.ledControl, 1);
            EXPECT_EQ (r.restoreControl, 0);
        }

        // What the form would hand over.
        StoredSettings expected = customSettings();
        expected.name = "Den";
        expected.pin = { { '2', '5', '8', '0' } };
        if (hci)
        {
            auto& h = device().hciConfig;
            std::memset (&h, 0, sizeof (h));
            std::memcpy (h.name, "Den", 3);
            std::memcpy (h.pin, "2580", 4);
        }
        else
        {
            auto& w = device().config;
            std::memset (&w, 0, sizeof (w));
            std::memcpy (w.name, "Den", 3);
            std::memcpy (w.pin, "2580", 4);
            w.stereo = expected.stereo = 1;
            w.maxDevices = expected.maxDevices = 8;
            w.gpoNormallyOpen = expected.gpoNormallyOpen = 1;
            w.ledControl = expected.ledControl = 0;
            w.restoreControl = expected.restoreControl = 1;
        }
        settle();
        sim->clearLogs();

        ASSERT_EQ (run (JobKind::WriteConfig, c.slow), JobStatus::Done);
        settle();
        if (hci)
        {
            EXPECT_EQ (sim->receivedFrames(), frames ({ "01 27 FC 04 00 B5 01 82",
                                                        "01 27 FC 04 00 B5 01 82",
                                                        "01 27 FC 07 00 47 04 32 35 38 30",
                                                        "01 27 FC 07 05 00 04 03 44 65 6E" }));
            EXPECT_EQ (sim->settings().name, expected.name);
            EXPECT_EQ (sim->settings().pin, expected.pin);
        }
        else
        {
            EXPECT_EQ (sim->receivedFrames(), frames ({ "AA 00 07 35 00 00 03 44 65 6E AA",
                                                        "AA 00 05 06 32 35 38 30 26",
                                                        "AA 00 06 D4 01 08 01 00 01 1B",
                                                        "AA 00 01 D1 2E",
                                                        "AA 00 02 14 01 E9" }));
            EXPECT_EQ (sim->settings(), expected);
        }
        EXPECT_TRUE (portIsFree (sim->slavePath()));
        nextCase();
    }
}

TEST_F (JobRun, PortVanishingMidReadIsAPortError)
{
    startReceiver (0xF0);
    device().typeCode = 0xF0;
    sim->setReplyDelayMs (200);

    BackgroundJob bg (JobKind::ReadConfig, job->link, index, false);
    ASSERT_TRUE (sim->waitFor ([&] { return ! sim->receivedFrames().empty(); }));
    sim->vanish();
    ASSERT_TRUE (bg.finish (15000)) << "the job hangs on a vanished port";
    EXPECT_EQ (bg.job.status, JobStatus::PortError);
    EXPECT_EQ (bg.job.detail, JobDetail::portLost);
}

TEST_F (JobRun, PortVanishingMidListenEndsTheListen)
{
    startReceiver (0xF0);
    BackgroundJob bg (JobKind::Listen, job->link, index, false);
    ASSERT_TRUE (bg.waitForPasses (3));    // on the open port, as above
    sim->vanish();
    ASSERT_TRUE (bg.finish (5000)) << "listen keeps waiting on the dead port";
    EXPECT_EQ (bg.job.status, JobStatus::PortError);
}
}
