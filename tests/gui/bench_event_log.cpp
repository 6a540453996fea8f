// The event log under load. First the view alone: lines a second it takes
// (appended in batches of a frame's worth, each followed by a paint) when it
// already holds 10 k, 100 k and 1 M lines; 1 M is past its bound, so there it
// drops a line for every line it takes. Then the whole window, on screen, with
// the log open while the simulated receiver streams 200 status events a second
// (KORVA_BENCH_SECONDS, 20 by default): the CPU the application uses (every
// thread but the simulator's), how late a message posted to the message thread
// is handled, how much the memory grows, and how long ten clicks that close the
// log take to be handled once queued.

#include <juce_gui_basics/juce_gui_basics.h>

#include "GuiTestSupport.h"
#include "PanelAccess.h"
#include "panel/BtThread.h"
#include "panel/EventLogView.h"
#include "serial/PortTable.h"
#include "tests/TestResets.h"
#include "tools/simulator/SimulatedReceiver.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <time.h>

namespace
{
using Clock = std::chrono::steady_clock;

double secondsSince (Clock::time_point t0)
{
    return std::chrono::duration<double> (Clock::now() - t0).count();
}

/** CPU seconds of every thread of this process except those named skip. */
double processCpuSecondsExcept (const std::string& skip)
{
    double total = 0;
    if (DIR* dir = ::opendir ("/proc/self/task"))
    {
        while (const dirent* entry = ::readdir (dir))
        {
            if (entry->d_name[0] == '.')
                continue;
            const std::string base = std::string ("/proc/self/task/") + entry->d_name;
            std::string name;
            std::getline (std::ifstream (base + "/comm"), name);
            unsigned long long ns = 0;
            if (name != skip && (std::ifstream (base + "/schedstat") >> ns))
                total += double (ns) * 1e-9;
        }
        ::closedir (dir);
    }
    return total;
}

double threadCpuSeconds()
{
    timespec t {};
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
    return double (t.tv_sec) + double (t.tv_nsec) * 1e-9;
}

double residentMegabytes()
{
    std::ifstream status ("/proc/self/status");
    for (std::string line; std::getline (status, line);)
        if (line.rfind ("VmRSS:", 0) == 0)
            return std::atof (line.c_str() + 6) / 1024.0;
    return 0;
}

//==============================================================================
void appendRates()
{
    const std::vector<std::string> frameOfLines = [] {
        std::vector<std::string> lines;
        for (int i = 0; i < 50; ++i)
        {
            lines.push_back ("> Evt: aa00020100fd");
            lines.push_back ("< Ack: aa00021401e9");
        }
        return lines;
    }();

    constexpr int measured = 200000;
    double rateAt10k = 0, rateAt1M = 0;
    for (const int held : { 10'000, 100'000, 1'000'000 })
    {
        EventLogView view;
        view.setSize (305, 140);
        juce::Image image (juce::Image::RGB, 305, 140, true);

        for (int n = 0; n < held; n += (int) frameOfLines.size())
            view.appendLines (frameOfLines);

        const auto t0 = Clock::now();
        for (int n = 0; n < measured; n += (int) frameOfLines.size())
        {
            view.appendLines (frameOfLines);
            juce::Graphics g (image);
            view.paintEntireComponent (g, false);
        }
        const double rate = measured / secondsSince (t0);
        (held == 10'000 ? rateAt10k : rateAt1M) = rate;

        const std::string label = held >= 1'000'000 ? "1 M" : std::to_string (held / 1000) + " k";
        std::printf ("ROW log lines appended, %-5s held %10.0f /s     target >= 100000 /s ratio %.2f\n",
                     label.c_str(), rate, 100000.0 / rate);
    }
    std::printf ("ROW log append rate 1 M / 10 k   %8.2f          target >= 0.8      ratio %.2f\n",
                 rateAt1M / rateAt10k, 0.8 / (rateAt1M / rateAt10k));
}

//==============================================================================
void windowUnderStream (int seconds)
{
    constexpr int eventsPerSecond = 200;

    resetPortTable();
    korvasim::SimulatorOptions options;
    options.type = 0xF0;
    options.factory.name = "Bench";
    korvasim::SimulatedReceiver sim (options);
    if (! sim.start())
    {
        std::printf ("cannot start the simulated receiver\n");
        return;
    }
    ::setenv ("KORVA_EXTRA_PORTS", sim.slavePath().c_str(), 1);

    ModalResponder responder;
    auto panel = std::make_unique<MainComponent>();
    MainComponentTestAccess access (*panel);
    juce::DocumentWindow window ("event log bench", juce::Colours::darkgrey, 0, true);
    window.setUsingNativeTitleBar (true);
    window.setContentNonOwned (panel.get(), true);
    window.centreWithSize (window.getWidth(), window.getHeight());
    window.setVisible (true);

    // Choose the receiver's port (listed last) as a user would, answer the family question.
    responder.answerNext ("Rulko/DORU-QX");
    auto& selector = access.portSelector();
    selector.setSelectedId (selector.getNumItems(), juce::sendNotificationSync);
    if (! pumpUntil ([&] { return access.nameField().getText() == "Bench" && panel->getWorker() == nullptr
                                  && MainComponent::getBusyOverlay() == nullptr; }, 20000))
    {
        std::printf ("the receiver was not detected and read\n");
        return;
    }

    auto clickVersion = [&]
    {
        auto& readout = access.versionReadout();
        const auto pos = readout.getLocalBounds().getCentre().toFloat();
        const auto now = juce::Time::getCurrentTime();
        panel->mouseDown (juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), pos, {}, 0.0f, 0.0f,
                                            0.0f, 0.0f, 0.0f, &readout, &readout, now, pos, now, 1, false));
    };

    sim.streamEvents (eventsPerSecond);
    for (int i = 0; i < 10; ++i)
        clickVersion();
    pump (2000);   // the listen job runs, the view fills its rows

    // Every 50 ms another thread posts a message and notes how late it is handled.
    std::mutex delaysLock;
    std::vector<double> delays;
    std::atomic<bool> probing { true };
    std::thread probe ([&]
    {
        while (probing)
        {
            const auto posted = Clock::now();
            juce::MessageManager::callAsync ([posted, &delays, &delaysLock]
            {
                const std::lock_guard<std::mutex> guard (delaysLock);
                delays.push_back (1000.0 * secondsSince (posted));
            });
            std::this_thread::sleep_for (std::chrono::milliseconds (50));
        }
    });

    const auto counts0 = sim.streamCounts();
    const double cpu0 = processCpuSecondsExcept ("korva-sim"), msg0 = threadCpuSeconds(), rss0 = residentMegabytes();
    const auto t0 = Clock::now();
    pump (seconds * 1000);
    const double elapsed = secondsSince (t0);
    const double cpu = 100.0 * (processCpuSecondsExcept ("korva-sim") - cpu0) / elapsed;
    const double msg = 100.0 * (threadCpuSeconds() - msg0) / elapsed;
    const double grown = residentMegabytes() - rss0;
    const auto counts1 = sim.streamCounts();

    probing = false;
    probe.join();
    pump (200);

    // Ten clicks that close the log, queued behind whatever waits for the message thread.
    const auto queued = Clock::now();
    for (int i = 0; i < 10; ++i)
        juce::MessageManager::callAsync (clickVersion);
    const bool closed = pumpUntil ([&] { return ! panel->isLogVisible() && panel->getWorker() == nullptr; }, 120000);
    const double closeMs = 1000.0 * secondsSince (queued);
    sim.streamEvents (0);

    std::vector<double> sorted;
    {
        const std::lock_guard<std::mutex> guard (delaysLock);
        sorted = delays;
    }
    std::sort (sorted.begin(), sorted.end());
    const double p99 = sorted.empty() ? 0.0 : sorted[std::min (sorted.size() - 1, sorted.size() * 99 / 100)];

    std::printf ("window with the log open, %d events/s streamed for %.0f s: %llu events sent, %llu acknowledged\n",
                 eventsPerSecond, elapsed, (unsigned long long) (counts1.sent - counts0.sent),
                 (unsigned long long) (counts1.acknowledged - counts0.acknowledged));
    std::printf ("ROW window CPU, log open, 200/s  %8.2f %%        target <= 10 %%     ratio %.2f\n", cpu, cpu / 10.0);
    std::printf ("ROW message thread CPU, 200/s    %8.2f %%        target <= 5 %%      ratio %.2f\n", msg, msg / 5.0);
    std::printf ("ROW message delay 99th pct, 200/s %7.1f ms       target <= 50 ms    ratio %.2f\n", p99, p99 / 50.0);
    std::printf ("ROW memory growth, %2d s at 200/s  %8.1f MB       target <= 10 MB    ratio %.2f\n", seconds, grown,
                 grown / 10.0);
    std::printf ("ROW ten clicks closing the log   %8.0f ms%s      target <= 500 ms   ratio %.2f\n", closeMs,
                 closed ? "" : "+", closeMs / 500.0);

    window.clearContentComponent();
    panel.reset();
    ::unsetenv ("KORVA_EXTRA_PORTS");
    sim.stop();
    resetPortTable();
}
}

int main()
{
    std::setvbuf (stdout, nullptr, _IOLBF, 0);
    juce::ScopedJuceInitialiser_GUI juce;
    RecordingLookAndFeel lookAndFeel;
    juce::LookAndFeel::setDefaultLookAndFeel (&lookAndFeel);

    appendRates();
    const char* env = std::getenv ("KORVA_BENCH_SECONDS");
    windowUnderStream (env != nullptr ? std::max (1, std::atoi (env)) : 20);

    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    return 0;
}
