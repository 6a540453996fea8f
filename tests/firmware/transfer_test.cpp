// The firmware transfer against the simulated receiver over a pseudo-terminal.

#include "FirmwareFixtures.h"

#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareUpdate.h"
#include "protocol/DeviceState.h"
#include "protocol/Job.h"
#include "protocol/TraceSink.h"
#include "serial/PortTable.h"
#include "tools/simulator/SimulatedReceiver.h"
#include "tests/TestResets.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

using imagebuilder::ImageRecipe;
using korvasim::SimulatedReceiver;

namespace
{
/** Counts the long firmware frames as they are traced, and can act on a count. */
class CountingSink : public TraceSink
{
public:
    bool traceWanted() const override { return true; }

    void postTraceLine (std::string line) override
    {
        if (line == "< Cmd: aa00024907ae")
            closeSent = true;
        if (line.rfind ("< DSPHDR: ", 0) != 0)
            return;
        const int n = ++dataFrames;
        if (onDataFrame)
            onDataFrame (n);
    }

    std::atomic<int> dataFrames { 0 };
    std::atomic<bool> closeSent { false };   // UpdateClose went out
    std::function<void (int)> onDataFrame;   // runs on the transfer's thread
};

class TestJob : public JobContext
{
public:
    explicit TestJob (Link& onLink) : JobContext (JobKind::UpdateFirmware, onLink, false) {}

    bool shouldExit() const override
    {
        if (exitAfterDataFrames >= 0 && counter != nullptr && counter->dataFrames >= exitAfterDataFrames)
            return true;
        if (eachPass)
            eachPass();
        // A transfer has no time limit of its own; a broken one must not hang the test.
        return std::chrono::steady_clock::now() > deadline;
    }

    const CountingSink* counter = nullptr;
    int exitAfterDataFrames = -1;
    std::function<void()> eachPass;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + std::chrono::seconds (60);
};

class TransferTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        korvasim::SimulatorOptions options;
        options.type = 0xF0;
        sim = std::make_unique<SimulatedReceiver> (options);
        ASSERT_TRUE (sim->start());

        ::setenv ("KORVA_EXTRA_PORTS", sim->portPath().c_str(), 1);
        const int count = enumeratePorts();
        for (int i = 0; i < count; ++i)
            if (portDeviceName (i) == sim->portPath())
                port = i;
        ASSERT_GE (port, 0);
        ASSERT_EQ (openPort (port, 921600), 1);

        link.portIndex = port;
        link.traceSink = &counter;
    }

    void TearDown() override
    {
        resetPortTable();
        if (sim)
            sim->stop();
        ::unsetenv ("KORVA_EXTRA_PORTS");
    }

    void accept (const ImageRecipe& recipe)
    {
        fixtures::TempFile file (imagebuilder::buildImage (recipe));
        link.image = acceptFirmwareFile (file.path, 1);
        ASSERT_NE (link.image, nullptr);
    }

    JobStatus runTransfer (TestJob& job)
    {
        job.counter = &counter;
        // Each job opens its port afresh, as the worker does, which leaves
        // behind whatever an earlier transfer's module still sent.
        closePort (port);
        EXPECT_EQ (openPort (port, 921600), 1);
        transferFirmware (job);
        // The acknowledgement of UpdateClose, which the verdict does not wait
        // for, lands in the port after the transfer; let it arrive before the
        // next one starts.
        std::this_thread::sleep_for (std::chrono::milliseconds (50));
        return job.status;
    }

    JobStatus runTransfer()
    {
        TestJob job (link);
        return runTransfer (job);
    }

    /** n of each SectionData frame of kind, in order. */
    std::vector<int> chunks (int kind) const
    {
        std::vector<int> out;
        for (const auto& c : sim->firmwareCommands())
            if (c.subCode == 0x04 && c.sectionKind == kind)
                out.push_back (c.dataBytes);
        return out;
    }

    std::vector<int> subCodes() const
    {
        std::vector<int> out;
        for (const auto& c : sim->firmwareCommands())
            out.push_back (c.subCode);
        return out;
    }

    bool received (size_t commands) const
    {
        return sim->waitFor ([&] { return sim->firmwareCommands().size() >= commands; }, 5000);
    }

    std::unique_ptr<SimulatedReceiver> sim;
    CountingSink counter;
    int port = -1;
    Link link;   // the receiver's: its image, progress and trace sink
};

//==============================================================================
TEST_F (TransferTest, ReceiverReassemblesTheImage)
{
    const ImageRecipe recipe = fixtures::imageRecipe (5000, 700, 9000, 1200, 3);
    accept (recipe);

    EXPECT_EQ (runTransfer(), JobStatus::Done);
    ASSERT_TRUE (sim->waitFor ([&] { return sim->firmware().closed; }));

    const korvasim::FirmwareImageReceived fw = sim->firmware();
    EXPECT_EQ (fw.mcuSize, 5000u);
    EXPECT_EQ (fw.dspSize, 9000u);
    EXPECT_EQ (fw.configSize, 1200u);
    EXPECT_EQ (fw.mcuTag, recipe.mcuTagValue);
    EXPECT_EQ (fw.dspHeaderTag, recipe.dspHeaderTagValue);
    EXPECT_EQ (fw.configTag, recipe.configTagValue);
    EXPECT_EQ (fw.dspHeaderSize, 700);
    EXPECT_TRUE (fw.mcu == recipe.mcuCode);
    EXPECT_TRUE (fw.dspHeader == recipe.dspHeader);
    EXPECT_TRUE (fw.dsp == recipe.dspCode);
    EXPECT_TRUE (fw.config == recipe.config);
    EXPECT_TRUE (fw.ended);
    EXPECT_TRUE (sim->violations().empty()) << sim->violations().front();
    EXPECT_DOUBLE_EQ (link.updateProgress.load(), 1.0);
}

TEST_F (TransferTest, ChunkCountsAtTheLimit)
{
    struct Case { uint32_t mcu, config; std::vector<int> mcuChunks, configChunks; };
    const Case cases[] = {
        { 978, 489, { 489, 489 }, { 489, 0 } },
        { 979, 490, { 489, 489, 1 }, { 489, 1 } },
    };

    for (const Case& c : cases)
    {
        sim->clearLogs();
        accept (fixtures::imageRecipe (c.mcu, 20, 30, c.config));
        EXPECT_EQ (runTransfer(), JobStatus::Done);
        ASSERT_TRUE (sim->waitFor ([&] { return sim->firmware().closed; }));
        EXPECT_EQ (chunks (0), c.mcuChunks);
        EXPECT_EQ (chunks (2), c.configChunks);
        EXPECT_TRUE (sim->violations().empty()) << sim->violations().front();
    }
}

// Without a DSP or configuration section the update can only end Failed after
// the MCU section was written: such a file is refused before anything is sent.
TEST_F (TransferTest, MissingDspOrConfigurationIsRefusedBeforeAnythingIsSent)
{
    for (const bool dspEmpty : { true, false })
    {
        sim->clearLogs();
        fixtures::TempFile file (imagebuilder::buildImage (fixtures::imageRecipe (600, 10, dspEmpty ? 0 : 40, dspEmpty ? 50 : 0)));
        EXPECT_FALSE (acceptFirmwareFile (file.path, 1));
        EXPECT_TRUE (sim->receivedFrames().empty());
    }
}

TEST_F (TransferTest, RefusedBeginFailsBeforeAnyData)
{
    accept (fixtures::imageRecipe());
    sim->refuse (0x49, 0x01, 0x00);

    EXPECT_EQ (runTransfer(), JobStatus::Failed);
    std::this_thread::sleep_for (std::chrono::milliseconds (100));
    EXPECT_EQ (subCodes(), std::vector<int> { 0 });
    EXPECT_EQ (counter.dataFrames, 0);
}

TEST_F (TransferTest, StatusTwoIsIgnoredAndStatusZeroFails)
{
    accept (fixtures::imageRecipe (3000, 20, 3000, 100));

    counter.onDataFrame = [&] (int n) { if (n == 2) sim->injectStatus (2); };
    EXPECT_EQ (runTransfer(), JobStatus::Done);
    ASSERT_TRUE (sim->waitFor ([&] { return sim->pendingAcks().empty(); }));
    EXPECT_TRUE (sim->violations().empty()) << sim->violations().front();

    sim->clearLogs();
    counter.dataFrames = 0;
    counter.onDataFrame = [&] (int n) { if (n == 2) sim->injectStatus (0); };
    EXPECT_EQ (runTransfer(), JobStatus::Failed);
    EXPECT_FALSE (sim->firmware().closed);
}

TEST_F (TransferTest, ExitRequestAbortsWithoutAnotherFrameAndTheNextTransferStartsOver)
{
    const ImageRecipe recipe = fixtures::imageRecipe (20000, 50, 600, 700);
    accept (recipe);

    TestJob job (link);
    job.exitAfterDataFrames = 3;
    EXPECT_EQ (runTransfer (job), JobStatus::Aborted);

    ASSERT_TRUE (received (2 + 3));   // UpdateBegin, McuStart, three chunks
    std::this_thread::sleep_for (std::chrono::milliseconds (200));
    EXPECT_EQ (subCodes(), (std::vector<int> { 0, 1, 4, 4, 4 }));
    EXPECT_GT (link.updateProgress.load(), 0.0);
    EXPECT_LT (link.updateProgress.load(), 0.1);

    // The worker closes the port after a job and opens it for the next.
    closePort (port);
    ASSERT_EQ (openPort (port, 921600), 1);
    sim->clearLogs();
    counter.dataFrames = 0;

    EXPECT_EQ (runTransfer(), JobStatus::Done);
    ASSERT_TRUE (sim->waitFor ([&] { return sim->firmware().closed; }));
    const std::vector<int> codes = subCodes();
    ASSERT_GE (codes.size(), 2u);
    EXPECT_EQ (codes[0], 0);
    EXPECT_EQ (codes[1], 1);
    EXPECT_EQ (sim->firmware().mcuTag, recipe.mcuTagValue);
    EXPECT_TRUE (sim->firmware().mcu == recipe.mcuCode);
    EXPECT_TRUE (sim->firmware().config == recipe.config);
    EXPECT_TRUE (sim->violations().empty()) << sim->violations().front();
}

TEST_F (TransferTest, LateVerdictStillSucceedsOnTheCloseAcknowledgement)
{
    // A worker that is slow between passes finds the acknowledgement of
    // UpdateClose already waiting when it takes the verdict.
    accept (fixtures::imageRecipe (100, 10, 20, 30));
    TestJob job (link);
    bool paused = false;
    job.eachPass = [&] {
        if (! paused && counter.closeSent)
        {
            paused = true;
            sim->waitFor ([&] { return sim->firmware().closed; });
            std::this_thread::sleep_for (std::chrono::milliseconds (100));
        }
    };
    EXPECT_EQ (runTransfer (job), JobStatus::Done);
    EXPECT_TRUE (paused);
}
} // namespace
