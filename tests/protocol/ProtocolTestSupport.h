#pragma once
// Helpers shared by the protocol tests: a worker with a plain exit flag (on a
// link of its own, or on one the test shares between jobs), a trace sink that
// keeps every line, and hex conversion for byte-string tables.

#include "protocol/Job.h"
#include "protocol/TraceSink.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

/** "AA 00 01 D1 2E" -> bytes (spaces optional). */
Bytes hexBytes (const std::string& text);

/** Holds a job's own link; a base, so the link exists before the job refers to it. */
struct OwnLink
{
    explicit OwnLink (int port) : owned (std::make_unique<Link> (port)) {}
    OwnLink() = default;
    std::unique_ptr<Link> owned;
};

class TestJob : private OwnLink, public JobContext
{
public:
    /** A job on a link of its own, on port (255: none). */
    explicit TestJob (int port = 255, bool slow = false, JobKind jobKind = JobKind::Detect)
        : OwnLink (port), JobContext (jobKind, *owned, slow) {}

    /** A job on a link the test keeps (several jobs in turn on one receiver). */
    explicit TestJob (Link& shared, bool slow = false, JobKind jobKind = JobKind::Detect)
        : JobContext (jobKind, shared, slow) {}

    bool shouldExit() const override { return exitRequested.load(); }
    std::atomic<bool> exitRequested { false };
};

/** Keeps every line of the link it is attached to. */
class RecordingSink : public TraceSink
{
public:
    RecordingSink() = default;
    explicit RecordingSink (Link& link) { attach (link); }

    void attach (Link& link) { link.traceSink = this; }

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
