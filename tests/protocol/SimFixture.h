#pragma once
// A simulated receiver on a pty, listed in the PortTable and opened at the baud
// rate of its device family, with a worker for the conversations.

#include "ProtocolTestSupport.h"
#include "PtySupport.h"

#include "tools/simulator/SimulatedReceiver.h"
#include "tests/TestResets.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

class SimFixture : public testing::Test
{
protected:
    /** Starts a receiver of options.type; the port is opened at 115200 when slow. */
    void startSim (korvasim::SimulatorOptions options, bool slow)
    {
        sim = std::make_unique<korvasim::SimulatedReceiver> (options);
        ASSERT_TRUE (sim->start());
        index = registerPort (sim->slavePath());
        ASSERT_GE (index, 0);
        ASSERT_EQ (openPort (index, slow ? 115200u : 921600u), 1);
        job = std::make_unique<TestJob> (index, slow);
        job->status = JobStatus::Running;
        sink.attach (job->link);
    }

    /** What the job's link knows about the receiver. */
    DeviceState& device() { return job->link.device; }

    void startSim (uint8_t type)
    {
        korvasim::SimulatorOptions options;
        options.type = type;
        startSim (options, type == 0xF1);
    }

    void TearDown() override
    {
        resetPortTable();
        if (sim != nullptr)
        {
            if (expectNoViolations)
            {
                EXPECT_TRUE (sim->violations().empty()) << describeViolations();
            }
            sim->stop();
        }
    }

    std::string describeViolations() const
    {
        std::string text;
        for (const auto& v : sim->violations())
            text += v + "\n";
        return text;
    }

    /** Runs fn on a thread and raises the exit request after ms, then joins. */
    template <typename Fn>
    void runWithExitAfter (int ms, Fn fn)
    {
        std::thread worker (fn);
        std::this_thread::sleep_for (std::chrono::milliseconds (ms));
        job->exitRequested = true;
        worker.join();
    }

    /** Waits until the receiver got every acknowledgement it is owed. */
    void settle()
    {
        EXPECT_TRUE (sim->waitFor ([this] { return sim->pendingAcks().empty(); }, 5000));
    }

    std::unique_ptr<korvasim::SimulatedReceiver> sim;
    std::unique_ptr<TestJob> job;
    int index = -1;
    bool expectNoViolations = true;
    RecordingSink sink;
};
