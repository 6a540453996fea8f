#pragma once
// Helpers shared by the protocol tests: a worker with a plain exit flag, a trace
// sink that keeps every line, and hex conversion for byte-string tables.

#include "protocol/Job.h"
#include "protocol/TraceSink.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

/** "AA 00 01 D1 2E" -> bytes (spaces optional). */
Bytes hexBytes (const std::string& text);

class TestJob : public JobContext
{
public:
    explicit TestJob (int port = 255, bool slow = false) : JobContext (JobKind::Detect, static_cast<uint8_t> (port), slow) {}
    bool shouldExit() const override { return exitRequested.load(); }
    std::atomic<bool> exitRequested { false };
};

class RecordingSink : public TraceSink
{
public:
    RecordingSink() { setTraceSink (this); }
    ~RecordingSink() override { setTraceSink (nullptr); }

    bool traceWanted() const override { return wanted.load(); }
    void postTraceLine (std::string line) override
    {
        std::lock_guard<std::mutex> lock (m);
        lines.push_back (std::move (line));
    }
    std::vector<std::string> take()
    {
        std::lock_guard<std::mutex> lock (m);
        auto out = std::move (lines);
        lines.clear();
        return out;
    }

    std::atomic<bool> wanted { true };

private:
    std::mutex m;
    std::vector<std::string> lines;
};
