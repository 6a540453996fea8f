#pragma once
// The update's progress: a bar on a terminal, redrawn in place and fitted to its
// width, plain lines otherwise, JSON lines with --json. With several ports a
// live board shows it instead on a terminal, and plain lines name their port.

#include "cli/Output.h"
#include "protocol/Link.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace korvacli
{
    class ProgressReport
    {
    public:
        /** total: the image's data bytes, which the receiver acknowledges chunk by chunk. */
        ProgressReport (const Output& out, const Link& link, uint32_t total);
        ~ProgressReport();

        /** Stops reporting; done shows the transfer's end as 100 %. */
        void finish (bool done);

    private:
        void run();
        void show (uint32_t bytes);

        /** One line redrawn in place: it must never reach the terminal's last
            column, or the terminal wraps it and every redraw scrolls. */
        void showBar (int percent, uint32_t bytes, double rate, double left);

        static std::string timeLeft (double seconds);

        const Output& out;
        const Link& link;
        const uint32_t totalBytes;
        const bool terminal;
        const std::chrono::steady_clock::time_point start;
        int lastShown = -1;
        int shownWidth = 0;
        std::mutex mutex;
        std::condition_variable wake;
        bool running = true;
        std::thread worker;
    };
}
