// Feeds arbitrary byte streams to both receivers in arbitrary chunks. The first
// byte of each chunk picks the receiver and the chunk size, so one input mixes
// split frames, resets and both formats. No port is involved: acknowledgements
// go to an invalid index and are dropped.

#include "protocol/EventReceiver.h"
#include "protocol/HciReceiver.h"

#include <cstddef>
#include <cstdint>

namespace
{
class FuzzJob : public JobContext
{
public:
    explicit FuzzJob (Link& onLink) : JobContext (JobKind::Listen, onLink, false) {}
    bool shouldExit() const override { return false; }
};
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    Link link;   // no port: index -1
    FuzzJob job (link);
    pollEvents (job, true);
    pollHciEvents (job, true);

    size_t pos = 0;
    while (pos < size)
    {
        const uint8_t control = data[pos++];
        const size_t chunk = static_cast<size_t> (control & 0x3F) * 4 + 1;
        const size_t n = chunk < size - pos ? chunk : size - pos;
        const int count = static_cast<int> (n);
        switch (control >> 6)
        {
            case 0:  feedEvents (job, data + pos, count); break;
            case 1:  feedHciEvents (job, data + pos, count); break;
            case 2:  feedEvents (job, data + pos, count); feedEvents (job, nullptr, 0); break;
            default: if ((control & 1) != 0) pollEvents (job, true); else pollHciEvents (job, true); break;
        }
        pos += n;
    }
    // Drain: one frame is decoded per poll.
    for (int i = 0; i < 64; ++i)
        feedEvents (job, nullptr, 0);
    return 0;
}
