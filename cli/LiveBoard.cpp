#include "cli/LiveBoard.h"

#include "cli/Console.h"
#include "cli/Output.h"

#include <algorithm>
#include <cstdio>

namespace korvacli
{
LiveBoard::LiveBoard (std::vector<std::string> ports, std::vector<const Link*> links)
{
    for (size_t i = 0; i < ports.size(); ++i)
        rows.push_back ({ ports[i], i < links.size() ? links[i] : nullptr });
    painter = std::thread ([this] { run(); });
}

LiveBoard::~LiveBoard()
{
    stop();
}

void LiveBoard::setState (size_t row, const std::string& state)
{
    const std::lock_guard<std::mutex> lock (mutex);
    if (row >= rows.size())
        return;
    Row& r = rows[row];
    if (state == "updating" && ! r.updating)
    {
        r.updating = true;
        r.updateStart = std::chrono::steady_clock::now();
    }
    else if (state != "updating" && r.updating && ! r.updateOver)
    {
        r.updateOver = true;
        r.updateEnd = std::chrono::steady_clock::now();
    }
    r.state = state;
}

void LiveBoard::stop()
{
    {
        const std::lock_guard<std::mutex> lock (mutex);
        if (! running)
            return;
        running = false;
    }
    wake.notify_all();
    painter.join();
    draw();
}

void LiveBoard::run()
{
    std::unique_lock<std::mutex> lock (mutex);
    while (running)
    {
        lock.unlock();
        draw();
        lock.lock();
        wake.wait_for (lock, std::chrono::milliseconds (100), [this] { return ! running; });
    }
}

std::string LiveBoard::rowText (const Row& row, int columns) const
{
    std::string text = row.port + "  " + row.state;
    if (row.updating && row.link != nullptr)
    {
        const double fraction = std::clamp (row.link->updateProgress.load(), 0.0, 1.0);
        const uint32_t bytes = row.link->bytesAcknowledged.load();
        const auto until = row.updateOver ? row.updateEnd : std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double> (until - row.updateStart).count();
        char figures[64];
        std::snprintf (figures, sizeof (figures), "  %3d%%  %.1f kB/s", (int) (fraction * 100.0),
                       seconds > 0.0 ? bytes / seconds / 1000.0 : 0.0);
        text += figures;
    }
    if ((int) text.size() > columns)
        text.resize ((size_t) columns);
    return text;
}

void LiveBoard::draw()
{
    const int columns = std::max (terminalColumns(), 20) - 1;
    std::string frame;
    {
        const std::lock_guard<std::mutex> lock (mutex);
        // Back to the first row of the last frame, then each row over its old text.
        if (drawn)
            frame = "\x1b[" + std::to_string (rows.size()) + "A";
        for (const Row& row : rows)
            frame += "\r" + rowText (row, columns) + "\x1b[K\n";
        drawn = true;
    }
    writeStdout (frame);
}
}
