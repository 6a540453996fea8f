#pragma once
// One line per port, redrawn in place on a terminal while a command runs on
// several ports: the port, its step, and during an update the percent and
// rate. Lines never reach the terminal's last column, so a redraw never scrolls.

#include "protocol/Link.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace korvacli
{
    class LiveBoard
    {
    public:
        /** A row per port, in the order given; links are read for progress. */
        LiveBoard (std::vector<std::string> ports, std::vector<const Link*> links);
        ~LiveBoard();

        /** Any thread: the step row shows now ("detecting", "updating", "done"). */
        void setState (size_t row, const std::string& state);

        /** Draws the last frame and stops redrawing. */
        void stop();

    private:
        struct Row
        {
            std::string port;
            const Link* link = nullptr;
            std::string state = "waiting";
            bool updating = false;       // an update started: percent and rate are shown from then on
            bool updateOver = false;     // and has ended: the rate stays as it was
            std::chrono::steady_clock::time_point updateStart {}, updateEnd {};
        };

        void run();
        void draw();
        std::string rowText (const Row& row, int columns) const;

        std::vector<Row> rows;
        std::mutex mutex;
        std::condition_variable wake;
        bool running = true;
        bool drawn = false;
        std::thread painter;
    };
}
