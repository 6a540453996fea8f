// Transfers an image of about 1 MB to the simulated receiver pacing bytes at
// the real wire speed (921600 baud, 10 bits a byte), and compares the time
// taken with the wire time of the same frames and acknowledgements; also
// reports the CPU time the transfer thread used. KORVA_BENCH_RUNS updates
// (3 by default); the median time counts.

#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareTransfer.h"
#include "firmware/FirmwareUpdate.h"
#include "protocol/DeviceState.h"
#include "protocol/Job.h"
#include "protocol/TraceSink.h"
#include "serial/PortTable.h"
#include "tools/imagebuilder/ImageBuilder.h"
#include "tools/simulator/SimulatedReceiver.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <vector>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <time.h>

namespace
{
class BenchJob : public JobContext
{
public:
    explicit BenchJob (Link& onLink) : JobContext (JobKind::UpdateFirmware, onLink, false) {}
    bool shouldExit() const override { return std::chrono::steady_clock::now() > deadline; }
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + std::chrono::minutes (2);
};

using Clock = std::chrono::steady_clock;

/** Times of the frames the tool sends (from its trace) and of the
    acknowledgements the receiver writes (from the simulator's log). */
class Timeline : public TraceSink
{
public:
    bool traceWanted() const override { return true; }
    void postTraceLine (std::string line) override
    {
        const auto now = Clock::now();
        if (line.rfind ("< Cmd: ", 0) != 0 && line.rfind ("< DSPHDR: ", 0) != 0)
            return;
        std::lock_guard<std::mutex> lock (m);
        sends.push_back (now);
    }
    void received (const std::string& line)
    {
        const auto now = Clock::now();
        if (line.rfind ("> Evt: ", 0) != 0)
            return;
        std::lock_guard<std::mutex> lock (m);
        acks.push_back (now);
    }

    /** Time from each acknowledgement being written to the next frame being sent. */
    std::vector<double> reactions()
    {
        std::lock_guard<std::mutex> lock (m);
        std::vector<double> out;
        for (size_t k = 0; k < acks.size() && k + 1 < sends.size(); ++k)
            out.push_back (std::chrono::duration<double> (sends[k + 1] - acks[k]).count());
        return out;
    }

    std::mutex m;
    std::vector<Clock::time_point> sends, acks;
};

double threadCpuSeconds()
{
    timespec t {};
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
    return double (t.tv_sec) + double (t.tv_nsec) * 1e-9;
}

double processCpuSeconds()
{
    timespec t {};
    clock_gettime (CLOCK_PROCESS_CPUTIME_ID, &t);
    return double (t.tv_sec) + double (t.tv_nsec) * 1e-9;
}

const char* statusName (JobStatus s)
{
    switch (s)
    {
        case JobStatus::Done:    return "Done";
        case JobStatus::Failed:  return "Failed";
        case JobStatus::Aborted: return "Aborted";
        default:                 return "other";
    }
}

/** One update of the accepted image to a fresh simulated receiver. */
struct RunFigures
{
    bool ok = false;
    double wall = 0, cpu = 0, otherCpu = 0;
    std::vector<double> reactions;
};

RunFigures runOnce (const imagebuilder::ImageRecipe& recipe, const std::shared_ptr<const FirmwareImage>& image)
{
    RunFigures r;
    korvasim::SimulatorOptions options;
    options.type = 0xF0;
    korvasim::SimulatedReceiver sim (options);
    if (! sim.start())
        return std::fprintf (stderr, "simulator did not start\n"), r;
    sim.setWireSpeed (true);
    Timeline timeline;
    sim.setLogger ([&] (const std::string& line) { timeline.received (line); });

    ::setenv ("KORVA_EXTRA_PORTS", sim.portPath().c_str(), 1);
    int port = -1;
    for (int i = 0, n = enumeratePorts(); i < n; ++i)
        if (portDeviceName (i) == sim.portPath())
            port = i;
    if (port < 0 || openPort (port, 921600) != 1)
        return std::fprintf (stderr, "cannot open %s\n", sim.portPath().c_str()), r;
    Link link (port);
    link.traceSink = &timeline;
    link.image = image;

    BenchJob job (link);
    const double processCpu0 = processCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::thread worker ([&] {
        const double cpu0 = threadCpuSeconds();
        transferFirmware (job);
        r.cpu = threadCpuSeconds() - cpu0;
    });
    worker.join();
    r.wall = std::chrono::duration<double> (std::chrono::steady_clock::now() - start).count();
    r.otherCpu = processCpuSeconds() - processCpu0 - r.cpu; // the simulator, mostly
    r.reactions = timeline.reactions();

    const auto fw = sim.firmware();
    const bool intact = fw.mcu == recipe.mcuCode && fw.dsp == recipe.dspCode && fw.config == recipe.config
                     && fw.dspHeader == recipe.dspHeader;
    std::printf ("run              %s, sections %s, violations %zu, %.3f s\n", statusName (job.status),
                 intact ? "intact" : "DIFFER", sim.violations().size(), r.wall);
    r.ok = job.status == JobStatus::Done && intact && sim.violations().empty();

    closeAllPorts();
    sim.stop();
    return r;
}
} // namespace

int main()
{
    constexpr double baud = 921600.0;
    constexpr int ackBytes = 7;   // AA 00 03 00 49 00 cs
    const char* runsText = std::getenv ("KORVA_BENCH_RUNS");
    const int runs = std::max (1, runsText != nullptr ? std::atoi (runsText) : 3);

    imagebuilder::ImageRecipe recipe;
    recipe.mcuCode = imagebuilder::patternBytes (600000, 1);
    recipe.dspHeader = imagebuilder::patternBytes (1000, 2);
    recipe.dspCode = imagebuilder::patternBytes (400000, 3);
    recipe.config = imagebuilder::patternBytes (40000, 4);
    const std::vector<uint8_t> file = imagebuilder::buildImage (recipe);
    if (file.size() >= FirmwareImage::maxFileSize)
        return std::fprintf (stderr, "image too large\n"), 1;

    const std::string path = "/tmp/korva_bench_transfer.bin";
    imagebuilder::writeFile (path, file);
    const auto image = acceptFirmwareFile (path, 1);
    if (image == nullptr)
        return std::fprintf (stderr, "image not accepted\n"), 1;

    const DryRunResult plan = dryRunTransfer (*image);
    const int commands = plan.shortFrames + plan.longFrames;

    // Lock-step: every command crosses the wire, then its acknowledgement does;
    // the verdict does not wait for the last one.
    const double wireBytes = double (plan.wireBytes) + double (ackBytes) * (commands - 1);
    const double bound = wireBytes * 10.0 / baud;
    std::printf ("image            %zu bytes, %d frames (%d long)\n", file.size(), commands, plan.longFrames);
    std::printf ("wire bound       %.3f s (%.0f bytes at %.0f baud 8N1)\n", bound, wireBytes, baud);

    // Several updates, the median reported: one transfer on a shared machine
    // can catch a stray stall of a few milliseconds.
    std::vector<double> walls, reactions;
    double cpu = 0, otherCpu = 0, wallSum = 0;
    bool ok = true;
    for (int i = 0; i < runs; ++i)
    {
        const RunFigures r = runOnce (recipe, image);
        ok = ok && r.ok;
        walls.push_back (r.wall);
        wallSum += r.wall;
        cpu += r.cpu;
        otherCpu += r.otherCpu;
        reactions.insert (reactions.end(), r.reactions.begin(), r.reactions.end());
    }
    std::sort (walls.begin(), walls.end());
    const double wall = walls[walls.size() / 2];

    std::printf ("transfer time    median %.3f s of %d runs (%.3f .. %.3f)\n", wall, runs, walls.front(), walls.back());
    std::printf ("ratio            %.3f (target <= 1.03); runs %.3f .. %.3f\n", wall / bound, walls.front() / bound,
                 walls.back() / bound);
    std::sort (reactions.begin(), reactions.end());
    double toolTime = 0;
    for (double r : reactions)
        toolTime += r;
    toolTime /= runs;
    if (! reactions.empty())
    {
        std::printf ("tool reaction    ack written -> next frame sent: median %.0f us, 99%% %.0f us, max %.0f us, "
                     "sum %.3f s a run\n",
                     1e6 * reactions[reactions.size() / 2], 1e6 * reactions[reactions.size() * 99 / 100],
                     1e6 * reactions.back(), toolTime);
        std::printf ("tool share       (wire bound + reactions) / wire bound = %.3f; the rest of the time is the "
                     "receiver's own latency\n", (bound + toolTime) / bound);
    }
    std::printf ("thread CPU       %.3f s a run = %.1f%% of wall time (target <= 3%%)\n", cpu / runs,
                 100.0 * cpu / wallSum);
    std::printf ("simulator CPU    %.3f s a run = %.1f%% of wall time (other threads of the process)\n",
                 otherCpu / runs, 100.0 * otherCpu / wallSum);

    // One line per figure, in the form scripts/bench.sh collects.
    std::printf ("ROW update time / wire bound    %8.3f          target <= 1.03     ratio %.2f\n", wall / bound,
                 (wall / bound) / 1.03);
    std::printf ("ROW transfer thread CPU share   %8.2f %%        target <= 3 %%      ratio %.2f\n",
                 100.0 * cpu / wallSum, (100.0 * cpu / wallSum) / 3.0);
    if (! reactions.empty())
    {
        const double median = 1e6 * reactions[reactions.size() / 2];
        const double p99 = 1e6 * reactions[reactions.size() * 99 / 100];
        std::printf ("ROW reaction median             %8.0f us       target <= 50 us    ratio %.2f\n", median, median / 50.0);
        std::printf ("ROW reaction 99th percentile    %8.0f us       target <= 200 us   ratio %.2f\n", p99, p99 / 200.0);
    }

    std::remove (path.c_str());
    return ok ? 0 : 1;
}
