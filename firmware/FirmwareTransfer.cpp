#include "firmware/FirmwareTransfer.h"

#include <cstring>

namespace
{
constexpr uint8_t updateOpcode = 0x49;

enum SubCode : uint8_t
{
    UpdateBegin = 0x00,
    McuStart    = 0x01,
    DspHeader   = 0x02,
    ConfigStart = 0x03,
    SectionData = 0x04,
    SectionEnd  = 0x05,
    UpdateEnd   = 0x06,
    UpdateClose = 0x07
};

void putBe16 (uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t> (v >> 8);
    p[1] = static_cast<uint8_t> (v);
}

void putBe32 (uint8_t* p, uint32_t v)
{
    putBe16 (p, v >> 16);
    putBe16 (p + 2, v);
}

/** Sends nothing; counts what would go out. */
class DrySink final : public FrameSink
{
public:
    void sendShort (const uint8_t*, int count) override
    {
        ++result.shortFrames;
        result.wireBytes += static_cast<uint64_t> (count) + 4;
    }

    void sendLong (const uint8_t*, int length) override
    {
        ++result.longFrames;
        result.wireBytes += static_cast<uint64_t> (length);
    }

    DryRunResult result;
};
} // namespace

//==============================================================================
void FirmwareTransfer::start (FrameSink& sink)
{
    sent = 0;
    current = TransferState::Idle;
    img.window.cursor = 0;
    img.dspHeaderSize = 0;
    sectionRemaining = 0;
    sectionOffset = 0;
    sectionStarted = false;
    dspHeaderStepRan = configStartStepRan = updateEndSent = false;

    img.rewindWindow();

    uint8_t payload[14] = { updateOpcode, UpdateBegin };
    putBe32 (payload + 2, static_cast<uint32_t> (img.image.mcuSize));
    putBe32 (payload + 6, static_cast<uint32_t> (img.image.dspSize));
    putBe32 (payload + 10, static_cast<uint32_t> (img.image.configSize));
    sink.sendShort (payload, sizeof (payload));

    current = TransferState::SendMcuStart;
}

bool FirmwareTransfer::runStep (FrameSink& sink)
{
    switch (current)
    {
        case TransferState::Idle:            return false;
        case TransferState::SendMcuStart:    return sendMcuStart (sink);
        case TransferState::SendMcuData:     return sendCodeChunk (sink, McuCode, TransferState::SendMcuEnd);
        case TransferState::SendMcuEnd:      sendMcuEnd (sink); return true;
        case TransferState::SendDspHeader:   return sendDspHeader (sink);
        case TransferState::SendDspData:     return sendCodeChunk (sink, DspCode, TransferState::SendDspEnd);
        case TransferState::SendDspEnd:      sendDspEnd (sink); return true;
        case TransferState::SendConfigStart: return sendConfigStart (sink);
        case TransferState::SendConfigData:  return sendConfigData (sink);

        case TransferState::SendConfigEnd:
            sendSectionEnd (sink, ConfigData);
            updateEndSent = false;
            current = TransferState::SendUpdateEnd;
            return true;

        case TransferState::SendUpdateEnd:
            sendBare (sink, UpdateEnd);
            updateEndSent = true;
            current = TransferState::SendUpdateClose;
            return true;

        case TransferState::SendUpdateClose:
            sendBare (sink, UpdateClose);
            current = TransferState::Idle;
            return true;
    }

    return false;
}

float FirmwareTransfer::progress() const noexcept
{
    const float total = static_cast<float> (img.image.configSize + img.image.dspSize + img.image.mcuSize + img.dspHeaderSize);
    return total > 0.0f ? static_cast<float> (sent) / total : 0.0f;
}

//==============================================================================
bool FirmwareTransfer::sendMcuStart (FrameSink& sink)
{
    if (! sectionTag (ImageTag::McuCodeStart))
        return false;

    uint8_t payload[4] = { updateOpcode, McuStart };
    putBe16 (payload + 2, img.tagValue);
    sink.sendShort (payload, sizeof (payload));

    sectionRemaining = img.image.mcuSize;
    sectionOffset = 0;
    current = TransferState::SendMcuData;
    return true;
}

bool FirmwareTransfer::sendCodeChunk (FrameSink& sink, SectionKind kind, TransferState endState)
{
    // A code section takes a full chunk only while more than the limit is
    // left, so a section of k full chunks ends with its k-th.
    const bool last = sectionRemaining <= chunkLimit;
    const int n = last ? (sectionRemaining > 0 ? sectionRemaining : 0) : chunkLimit;

    const int length = buildSectionData (kind, n);
    if (length == 0)
        return false;

    img.window.cursor += n;
    sectionOffset += n;
    sectionRemaining -= n;

    // The MCU section re-aligns after every chunk, the DSP section only
    // between chunks: the next tag is then searched where the data ended.
    if ((kind == McuCode || ! last) && img.window.cursor + chunkLimit > ImageWindow::windowSize)
        img.advanceWindow();

    if (last)
    {
        if (kind == DspCode)
            sectionOffset = 0;
        current = endState;
    }

    sink.sendLong (frame, length);
    return true;
}

void FirmwareTransfer::sendMcuEnd (FrameSink& sink)
{
    sendSectionEnd (sink, McuCode);
    dspHeaderStepRan = false;

    if (img.image.dspSize != 0)
        current = TransferState::SendDspHeader;
    else if (img.image.configSize != 0)
        current = TransferState::SendConfigStart;
    else
        current = TransferState::SendUpdateEnd;

    sectionStarted = false;
}

bool FirmwareTransfer::sendDspHeader (FrameSink& sink)
{
    dspHeaderStepRan = true;

    if (! sectionStarted)
    {
        if (! img.findTag (ImageTag::DspHdrStart) || ! img.findTag (ImageTag::Size) || ! img.skipPastBracket())
            return false;

        sectionStarted = true;
        sectionRemaining = img.dspHeaderSize;
    }

    const int n = sectionRemaining > chunkLimit ? chunkLimit : (sectionRemaining > 0 ? sectionRemaining : 0);

    if (! takeChunk (frame + 11, n))
        return false;

    frame[0] = 0xAA;
    putBe16 (frame + 1, static_cast<uint32_t> (n + 8));
    frame[3] = updateOpcode;
    frame[4] = DspHeader;
    putBe16 (frame + 5, img.tagValue);
    putBe16 (frame + 7, static_cast<uint32_t> (img.dspHeaderSize) & 0xFFFF);
    putBe16 (frame + 9, static_cast<uint32_t> (n));
    finishLongFrame (n + 12);

    img.window.cursor += n;
    sectionRemaining -= n;
    sent += static_cast<uint32_t> (n);

    if (sectionRemaining <= 0)
    {
        // The DSP code tag is looked up before the last header frame goes out,
        // so an image without it stops here with nothing half sent.
        if (! sectionTag (ImageTag::DspCodeStart))
            return false;

        sectionRemaining = img.image.dspSize;
        sectionOffset = 0;
        current = TransferState::SendDspData;
    }

    sink.sendLong (frame, n + 12);
    return true;
}

void FirmwareTransfer::sendDspEnd (FrameSink& sink)
{
    sendSectionEnd (sink, DspCode);
    configStartStepRan = false;

    if (img.image.configSize != 0)
    {
        sectionStarted = false;
        current = TransferState::SendConfigStart;
    }
    else
    {
        current = TransferState::SendUpdateEnd;
    }
}

bool FirmwareTransfer::sendConfigStart (FrameSink& sink)
{
    configStartStepRan = true;

    if (! sectionTag (ImageTag::ConfigStart))
        return false;

    uint8_t payload[4] = { updateOpcode, ConfigStart };
    putBe16 (payload + 2, img.tagValue);
    sink.sendShort (payload, sizeof (payload));

    sectionStarted = true;
    sectionRemaining = img.image.configSize;
    sectionOffset = 0;
    current = TransferState::SendConfigData;
    return true;
}

bool FirmwareTransfer::sendConfigData (FrameSink& sink)
{
    if (img.window.cursor + chunkLimit > ImageWindow::windowSize)
        img.advanceWindow();

    // Unlike the code sections, a full chunk is taken while at least the limit
    // is left, so a multiple of 489 ends with an empty chunk.
    const int n = sectionRemaining >= chunkLimit ? chunkLimit : (sectionRemaining > 0 ? sectionRemaining : 0);

    const int length = buildSectionData (ConfigData, n);
    if (length == 0)
        return false;

    img.window.cursor += n;
    sectionOffset += n;
    sectionRemaining -= n;

    if (n < chunkLimit)
        current = TransferState::SendConfigEnd;

    sink.sendLong (frame, length);
    return true;
}

//==============================================================================
void FirmwareTransfer::sendSectionEnd (FrameSink& sink, SectionKind kind)
{
    const uint8_t payload[3] = { updateOpcode, SectionEnd, kind };
    sink.sendShort (payload, sizeof (payload));
}

void FirmwareTransfer::sendBare (FrameSink& sink, uint8_t subCode)
{
    const uint8_t payload[2] = { updateOpcode, subCode };
    sink.sendShort (payload, sizeof (payload));
}

bool FirmwareTransfer::takeChunk (uint8_t* dest, int n)
{
    ImageWindow& w = img.window;

    if (w.cursor + n > ImageWindow::windowSize)
        img.advanceWindow();

    // Never past the payload: whatever lies there (trailer, stale window
    // bytes) is not firmware.
    if (static_cast<uint64_t> (w.windowPos) + static_cast<uint64_t> (w.cursor) + static_cast<uint64_t> (n) > img.image.payloadEnd())
        return false;

    if (n > 0)
        std::memcpy (dest, w.bytes.data() + w.cursor, static_cast<size_t> (n));
    return true;
}

bool FirmwareTransfer::sectionTag (ImageTag tag)
{
    return img.findTag (tag) && img.skipPastBracket();
}

int FirmwareTransfer::buildSectionData (SectionKind kind, int n)
{
    if (! takeChunk (frame + 12, n))
        return 0;

    frame[0] = 0xAA;
    putBe16 (frame + 1, static_cast<uint32_t> (n + 9));
    frame[3] = updateOpcode;
    frame[4] = SectionData;
    frame[5] = kind;
    putBe32 (frame + 6, static_cast<uint32_t> (sectionOffset));
    putBe16 (frame + 10, static_cast<uint32_t> (n));
    finishLongFrame (n + 13);

    sent += static_cast<uint32_t> (n);
    return n + 13;
}

void FirmwareTransfer::finishLongFrame (int length)
{
    // Two's complement of the sum from the first length byte through the last data byte.
    uint8_t sum = 0;
    for (int i = 1; i < length - 1; ++i)
        sum = static_cast<uint8_t> (sum + frame[i]);
    frame[length - 1] = static_cast<uint8_t> (-sum);
}

//==============================================================================
DryRunResult dryRunTransfer (const FirmwareImage& image)
{
    FirmwareTransfer transfer (image);
    DrySink sink;

    transfer.start (sink);
    bool ok = true;
    while (ok && transfer.state() != TransferState::Idle)
        ok = transfer.runStep (sink);

    DryRunResult result = sink.result;
    result.walkComplete = ok;
    result.phasesComplete = ok && transfer.phasesComplete();
    result.dataBytes = transfer.totalSent();
    return result;
}
