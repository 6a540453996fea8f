#pragma once
// The seam through which trace lines leave the protocol layer: a front end
// sets itself as a link's sink (Link::traceSink) and shows the lines, the
// window in its event log, the command line on its output.

#include <string>

class TraceSink
{
public:
    virtual ~TraceSink() = default;

    /** Job thread: true while lines are wanted (the event log is shown). Read without a lock. */
    virtual bool traceWanted() const = 0;

    /** Job thread: hands a finished line to the sink's own thread. */
    virtual void postTraceLine (std::string line) = 0;
};
