#pragma once
// The one seam through which trace lines leave the protocol layer: the main
// panel registers itself here (this pointer is "the panel pointer") and shows
// the lines in its event log.

#include <string>

class TraceSink
{
public:
    virtual ~TraceSink() = default;

    /** Worker thread: true while the event log is shown. Read without a lock. */
    virtual bool traceWanted() const = 0;

    /** Worker thread: hands a finished line to the sink's own thread. */
    virtual void postTraceLine (std::string line) = 0;
};

/** The registered sink, or nullptr. Safe from any thread. */
TraceSink* traceSink();

/** Registers (or, with nullptr, clears) the sink. */
void setTraceSink (TraceSink* sink);
