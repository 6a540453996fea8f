// Several receivers driven at once from one process, each job on its own link
// and thread: what one receiver does (refuse, fall silent, vanish) never
// reaches the conversation with another, which stays byte-exact.

#include "../firmware/FirmwareFixtures.h"
#include "ProtocolTestSupport.h"
#include "firmware/FirmwareUpdate.h"
#include "jobs/JobDispatch.h"
#include "tools/simulator/SimulatedReceiver.h"
#include "tests/TestResets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <thread>

namespace
{
using korvasim::SimulatedReceiver;

/** A receiver of type on a pty, listed in the table, and the link jobs on it use. */
struct Station
{
    explicit Station (uint8_t type)
    {
        korvasim::SimulatorOptions options;
        options.type = type;
        sim = std::make_unique<SimulatedReceiver> (options);
        EXPECT_TRUE (sim->start());
        link.portIndex = addPort (sim->slavePath().c_str());
        EXPECT_GE (link.portIndex, 0);
    }

    ~Station() { sim->stop(); }

    std::unique_ptr<SimulatedReceiver> sim;
    Link link;
};

/** Runs each job on a thread of its own, all at once, and waits for all. */
void runAtOnce (std::vector<TestJob*> jobs)
{
    std::vector<std::thread> threads;
    for (auto* job : jobs)
        threads.emplace_back ([job] { runJob (*job); });
    for (auto& t : threads)
        t.join();
}

class Links : public testing::Test
{
protected:
    void SetUp() override
    {
        resetPortTable();
        enumeratePorts();
    }
    void TearDown() override { resetPortTable(); }
};

TEST_F (Links, DetectAndReadTwoTypesAtOnce)
{
    Station framed (0xF2), hci (0xF1);
    framed.sim->setReplyDelayMs (5);   // so the two conversations overlap

    TestJob detectFramed (framed.link, false), detectHci (hci.link, true);
    runAtOnce ({ &detectFramed, &detectHci });
    ASSERT_EQ (detectFramed.status, JobStatus::Done);
    ASSERT_EQ (detectHci.status, JobStatus::Done);
    EXPECT_EQ (framed.link.device.typeCode, 0xF2);
    EXPECT_EQ (hci.link.device.typeCode, 0xF1);

    TestJob readFramed (framed.link, false, JobKind::ReadConfig), readHci (hci.link, true, JobKind::ReadConfig);
    runAtOnce ({ &readFramed, &readHci });
    EXPECT_EQ (readFramed.status, JobStatus::Done);
    EXPECT_EQ (readHci.status, JobStatus::Done);
    EXPECT_STREQ (reinterpret_cast<const char*> (framed.link.device.config.name), "Rulko");
    EXPECT_EQ (hci.link.device.config.name[0], 0) << "an HCI read fills only its own record";
    EXPECT_STREQ (reinterpret_cast<const char*> (hci.link.device.hciConfig.name), "Rulko");
    EXPECT_EQ (framed.link.device.hciConfig.name[0], 0);
    EXPECT_TRUE (framed.sim->violations().empty());
    EXPECT_TRUE (hci.sim->violations().empty());
}

// Two updates of one shared image at once: one receiver misbehaves, the other
// gets every byte of the image and ends Done.
TEST_F (Links, AFaultyReceiverLeavesItsNeighbourUntouched)
{
    const auto recipe = fixtures::imageRecipe (6000, 200, 5000, 900);
    fixtures::TempFile file (imagebuilder::buildImage (recipe));
    const auto image = acceptFirmwareFile (file.path, 1);
    ASSERT_NE (image, nullptr);

    struct Case
    {
        const char* name;
        std::function<void (SimulatedReceiver&)> fault;
        JobStatus status;
        JobDetail detail;
    };
    const Case cases[] = {
        { "refuses a chunk", [] (SimulatedReceiver& s) { s.refuse (0x49, 0x01, 0x04); },
          JobStatus::Failed, JobDetail::refusedMidUpdate },
        { "falls silent",    [] (SimulatedReceiver& s) { s.silentAfterFrames (4); },
          JobStatus::Failed, JobDetail::noAnswer },
        { "vanishes",        [] (SimulatedReceiver& s) { s.vanishOnFirmware (0x04, 3); },
          JobStatus::PortError, JobDetail::portLost },
    };

    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.name);
        resetPortTable();
        enumeratePorts();
        Station faulty (0xF0), healthy (0xF0);
        c.fault (*faulty.sim);

        for (Station* s : { &faulty, &healthy })
        {
            s->link.device.typeCode = 0xF0;
            s->link.image = image;   // read-only, shared
        }
        TestJob bad (faulty.link, false, JobKind::UpdateFirmware), good (healthy.link, false, JobKind::UpdateFirmware);
        runAtOnce ({ &bad, &good });

        EXPECT_EQ (bad.status, c.status);
        EXPECT_EQ (bad.detail, c.detail);

        EXPECT_EQ (good.status, JobStatus::Done);
        EXPECT_DOUBLE_EQ (healthy.link.updateProgress.load(), 1.0);
        const auto fw = healthy.sim->firmware();
        EXPECT_TRUE (fw.mcu == recipe.mcuCode);
        EXPECT_TRUE (fw.dspHeader == recipe.dspHeader);
        EXPECT_TRUE (fw.dsp == recipe.dspCode);
        EXPECT_TRUE (fw.config == recipe.config);
        EXPECT_TRUE (fw.closed);
        EXPECT_TRUE (healthy.sim->violations().empty()) << healthy.sim->violations().front();
        EXPECT_LT (faulty.link.updateProgress.load(), 1.0);
    }
}
}
