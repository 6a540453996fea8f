// korva log: every frame in the event log's format until Ctrl-C.

#include "cli/Commands.h"

#include "cli/Batch.h"
#include "cli/CommandSteps.h"
#include "cli/LineQueue.h"
#include "jobs/TextRules.h"
#include "protocol/TraceSink.h"

namespace korvacli
{
namespace
{
    /** Prints trace lines as the event log shows them, through a queue: the
        job thread that acknowledges the receiver's events never waits on output. */
    class PrintingSink : public TraceSink
    {
    public:
        explicit PrintingSink (const Output& o) : out (o) {}

        bool traceWanted() const override { return true; }

        void postTraceLine (std::string line) override
        {
            if (out.json())
            {
                Json e;
                e["event"] = "trace";   // log runs on one port: no "port" to add
                e["line"] = line;
                queue.push (dumpJson (e));
            }
            else
            {
                queue.push (TextRules::visible (line, true));
            }
        }

        /** Prints what is still queued; the lines that had to be dropped. */
        uint64_t finish() { return queue.finish(); }

    private:
        const Output& out;
        LineQueue queue;
    };
}

int logCommand (const CommonOptions& options)
{
    if (options.ports.size() != 1)
    {
        Output out ("log", options.json);
        return usageError (out, "log listens on one port at a time.");
    }

    return runOnPorts ("log", options.json, options.ports, [&] (Output& out, Link& link)
    {
        PrintingSink sink (out);
        link.traceSink = &sink;

        // Every queued line is out before the document or message that ends the log.
        auto end = [&] (int exitCode, const std::string& message)
        {
            link.traceSink = nullptr;
            out.doc()["droppedLines"] = sink.finish();
            return out.finish (exitCode, message);
        };

        bool slow = options.family == Family::zvarnelo;

        // With a family named, listen at once at its rate; otherwise find it first.
        if (options.familyGiven && options.family != Family::automatic)
        {
            out.doc()["family"] = slow ? "zvarnelo" : "rulko";
        }
        else
        {
            out.state ("detecting");
            const auto found = detectDevice (link, options.family, slow);
            if (found.exitCode != exitOk)
            {
                out.doc()["family"] = nullptr;
                return end (found.exitCode, found.message);
            }
            out.doc()["family"] = slow ? "zvarnelo" : "rulko";
            out.doc()["device"] = deviceJson (link.device);
        }

        if (! options.json)
            out.note ("listening; Ctrl-C ends");
        const auto result = runCliJob (link, JobKind::Listen, slow);
        // Ctrl-C is how a log ends: the text says nothing more, the document says why it is not ok.
        const bool quietEnd = result.exitCode == exitInterrupted && ! out.json();
        return end (result.exitCode, quietEnd ? std::string() : result.message);
    });
}
}
