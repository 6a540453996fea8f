#include "protocol/TraceSink.h"

#include <atomic>

namespace
{
std::atomic<TraceSink*> registeredSink { nullptr };
}

TraceSink* traceSink()
{
    return registeredSink.load();
}

void setTraceSink (TraceSink* sink)
{
    registeredSink.store (sink);
}
