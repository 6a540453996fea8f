// How long the user waits between naming the device type and seeing the form:
// a Detect job followed by a ReadConfig job, each opening and closing the port,
// against the simulated receiver over a pty. Prints the median of several runs
// next to its floor: the HCI probe's fixed 100 ms wait for types 0xF0/0xF2
// (nothing else need wait: every reply is taken as it arrives).

#include "PtySupport.h"

#include "jobs/JobDispatch.h"
#include "protocol/DeviceState.h"
#include "protocol/Pass.h"
#include "tools/simulator/SimulatedReceiver.h"
#include "tests/TestResets.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

class BenchJob : public JobContext
{
public:
    BenchJob (JobKind k, Link& l, bool slow) : JobContext (k, l, slow) {}
    bool shouldExit() const override { return false; }
};

struct Family
{
    uint8_t type;
    bool slow;
    int probePasses;     // passes the HCI probe costs before the framed queries
    double targetMs;
};

// 0xF0/0xF2: the probe runs out (10 passes), then type and version replies;
// the read takes name, settings and PIN. 0xF1: the probe's reply identifies
// it; the read takes name record, PIN and PIN switch.
const Family families[] = {
    { 0xF0, false, probePassLimit, 115.0 },
    { 0xF1, true,  0,              15.0 },
    { 0xF2, false, probePassLimit, 115.0 },
};

constexpr int repetitions = 10;

bool runOnce (int index, bool slow, double& ms)
{
    const auto start = Clock::now();
    Link link (index);   // as the window's: detection, then the read on what it found
    BenchJob detect (JobKind::Detect, link, slow);
    runJob (detect);
    BenchJob read (JobKind::ReadConfig, link, slow);
    runJob (read);
    ms = std::chrono::duration<double, std::milli> (Clock::now() - start).count();
    return detect.status == JobStatus::Done && read.status == JobStatus::Done;
}
}

int main()
{
    std::printf ("detect + read config until the form can show (median of %d runs)\n", repetitions);
    std::printf ("%-6s %12s %10s %8s\n", "type", "measured ms", "floor ms", "ratio");

    int failures = 0;
    for (const Family& f : families)
    {
        korvasim::SimulatorOptions options;
        options.type = f.type;
        korvasim::SimulatedReceiver sim (options);
        if (! sim.start())
        {
            std::printf ("0x%02X   simulator did not start\n", f.type);
            ++failures;
            continue;
        }
        const int index = registerPort (sim.slavePath());

        std::vector<double> times;
        for (int i = 0; i < repetitions; ++i)
        {
            double ms = 0;
            if (! runOnce (index, f.slow, ms))
            {
                ++failures;
                std::printf ("0x%02X   run %d did not reach the form\n", f.type, i);
                continue;
            }
            times.push_back (ms);
        }
        sim.stop();
        resetPortTable();

        if (times.empty())
            continue;
        std::sort (times.begin(), times.end());
        const double median = times.size() % 2 == 1 ? times[times.size() / 2]
                                                    : (times[times.size() / 2 - 1] + times[times.size() / 2]) / 2;
        const double floorMs = f.probePasses * passSleepMs;
        std::printf ("0x%02X   %12.1f %10.1f %8.2f   (min %.1f, max %.1f)\n", f.type, median, floorMs,
                     floorMs > 0 ? median / floorMs : 0.0, times.front(), times.back());
        std::printf ("ROW port chosen -> form, 0x%02X   %8.1f ms       target <= %.0f ms   ratio %.2f\n", f.type, median,
                     f.targetMs, median / f.targetMs);
    }

    return failures == 0 ? 0 : 1;
}
