// Arbitrary bytes as a firmware file: the envelope check, the load with its
// size scan, and the dry run of the transfer's walk must stay inside their
// buffers and never send a byte from outside the payload.

#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareTransfer.h"
#include "tests/TestResets.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace
{
/** Checks every long frame's data against the image it came from. */
class CheckingSink : public FrameSink
{
public:
    void sendShort (const uint8_t*, int count) override
    {
        if (count < 2 || count > 14)
            __builtin_trap();
    }

    void sendLong (const uint8_t* frame, int length) override
    {
        if (length < 12 || length > FirmwareTransfer::longFrameMax || frame[0] != 0xAA)
            __builtin_trap();
        uint8_t sum = 0;
        for (int i = 1; i < length; ++i)
            sum = static_cast<uint8_t> (sum + frame[i]);
        if (sum != 0)
            __builtin_trap();
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    const std::string bytes (reinterpret_cast<const char*> (data), size);

    std::istringstream stream (bytes);
    (void) checkHeader (stream, "RULKO");
    std::istringstream stream2 (bytes);
    (void) checkHeader (stream2, "DORU-415QX");

    FirmwareImage image;
    image.loadBytes (std::vector<uint8_t> (data, data + size));

    const DryRunResult result = dryRunTransfer (image);
    if (result.phasesComplete && ! result.walkComplete)
        __builtin_trap();

    // The real steps with a checking sink, as far as the image allows.
    FirmwareTransfer transfer (image);
    CheckingSink sink;
    transfer.start (sink);
    for (int steps = 0; steps < 100000 && transfer.state() != TransferState::Idle; ++steps)
        if (! transfer.runStep (sink))
            break;

    return 0;
}
