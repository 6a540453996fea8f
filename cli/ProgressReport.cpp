#include "cli/ProgressReport.h"

#include "cli/Console.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace korvacli
{
ProgressReport::ProgressReport (const Output& o, const Link& l, uint32_t total)
    : out (o), link (l), totalBytes (std::max<uint32_t> (total, 1)),
      terminal (! o.json() && o.port().empty() && isTerminal (stdout)), start (std::chrono::steady_clock::now()),
      worker ([this] { run(); })
{
}

ProgressReport::~ProgressReport()
{
    finish (false);
}

void ProgressReport::finish (bool done)
{
    {
        const std::lock_guard<std::mutex> lock (mutex);
        if (! running)
            return;
        running = false;
    }
    wake.notify_all();
    worker.join();
    if (done)
        show (totalBytes);
    if (terminal && shownWidth > 0)
        writeStdout ("\n");
}

void ProgressReport::run()
{
    std::unique_lock<std::mutex> lock (mutex);
    while (running)
    {
        lock.unlock();
        show (link.bytesAcknowledged.load());
        lock.lock();
        wake.wait_for (lock, std::chrono::milliseconds (terminal ? 100 : 50), [this] { return ! running; });
    }
}

void ProgressReport::show (uint32_t bytes)
{
    bytes = std::min (bytes, totalBytes);
    const int percent = (int) ((uint64_t) bytes * 100 / totalBytes);
    const double seconds = std::chrono::duration<double> (std::chrono::steady_clock::now() - start).count();
    const double rate = seconds > 0.0 ? bytes / seconds : 0.0;
    const double left = rate > 0.0 ? (totalBytes - bytes) / rate : -1.0;

    if (out.json())
    {
        if (percent == lastShown)
            return;
        Json e;
        e["event"] = "progress";
        e["percent"] = percent;
        e["bytes"] = bytes;
        e["totalBytes"] = totalBytes;
        e["bytesPerSecond"] = (long) std::lround (rate);
        e["secondsLeft"] = left < 0.0 ? Json() : Json ((long) std::lround (left));
        out.event (e);
    }
    else if (terminal)
    {
        showBar (percent, bytes, rate, left);
    }
    else
    {
        if (percent / 10 == lastShown / 10 && lastShown >= 0)
            return;
        char line[160];
        std::snprintf (line, sizeof (line), "update: %3d%%  %u/%u bytes  %.1f kB/s  %s", percent, bytes,
                       totalBytes, rate / 1000.0, timeLeft (left).c_str());
        out.line (line);
    }

    lastShown = percent;
}

void ProgressReport::showBar (int percent, uint32_t bytes, double rate, double left)
{
    const int columns = std::max (terminalColumns(), 20) - 1;

    char figures[128];
    std::snprintf (figures, sizeof (figures), " %3d%%  %u/%u bytes  %.1f kB/s  %s", percent, bytes, totalBytes,
                   rate / 1000.0, timeLeft (left).c_str());
    std::string tail = figures;
    if ((int) tail.size() + 12 > columns)
    {
        std::snprintf (figures, sizeof (figures), " %3d%%  %s", percent, timeLeft (left).c_str());
        tail = figures;
    }

    const int width = std::clamp (columns - (int) tail.size() - 2, 0, 40);
    std::string text;
    if (width >= 5)
    {
        const int filled = (int) ((uint64_t) bytes * (uint64_t) width / totalBytes);
        text = "[" + std::string ((size_t) filled, '#') + std::string ((size_t) (width - filled), '.') + "]";
    }
    text += tail;
    if ((int) text.size() > columns)
        text.resize ((size_t) columns);

    // Blank what a longer earlier line left behind.
    const int shown = (int) text.size();
    if (shown < shownWidth)
        text += std::string ((size_t) (shownWidth - shown), ' ');
    shownWidth = shown;
    writeStdout ("\r" + text);
}

std::string ProgressReport::timeLeft (double seconds)
{
    if (seconds < 0.0)
        return "--:-- left";
    const long s = std::lround (seconds);
    char text[32];
    std::snprintf (text, sizeof (text), "%ld:%02ld left", s / 60, s % 60);
    return text;
}
}
