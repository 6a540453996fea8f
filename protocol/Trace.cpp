#include "protocol/Trace.h"

#include "protocol/Link.h"
#include "protocol/TraceSink.h"

std::string formatTrace (const char* label, const uint8_t* bytes, int count)
{
    static const char digits[] = "0123456789abcdef";
    std::string text (label != nullptr ? label : "");
    if (bytes == nullptr || count <= 0)
        return text;

    text.reserve (text.size() + static_cast<size_t> (count) * 2);
    for (int i = 0; i < count; ++i)
    {
        text.push_back (digits[bytes[i] >> 4]);
        text.push_back (digits[bytes[i] & 0x0F]);
    }
    return text;
}

void trace (const Link& link, const char* label, const uint8_t* bytes, int count)
{
    TraceSink* sink = link.traceSink.load();
    if (sink != nullptr && sink->traceWanted())
        sink->postTraceLine (formatTrace (label, bytes, count));
}

void traceNote (const Link& link, const std::string& text)
{
    TraceSink* sink = link.traceSink.load();
    if (sink != nullptr && sink->traceWanted())
        sink->postTraceLine (traceLabelNote + text);
}
